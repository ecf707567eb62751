# Sourced by the run scripts: stops with the Debian package to install when a
# prerequisite of the build is missing.
eks_need() {  # eks_need <test command...> -- <package>
    local pkg="${*: -1}"
    if ! "${@:1:$#-2}" >/dev/null 2>&1; then
        echo "error: missing prerequisite; install it with: sudo apt-get install $pkg" >&2
        exit 2
    fi
}
eks_need command -v cmake -- cmake
eks_need command -v g++ -- g++
eks_need command -v make -- make
eks_need test -f /usr/include/gtest/gtest.h -- libgtest-dev
