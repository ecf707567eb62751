# SPDX-License-Identifier: Apache-2.0
# Sourced by the run scripts: finds the Debian packages the build needs and
# the machine lacks. Run as root, it installs them (apt-get install -y);
# otherwise it stops with the one command that installs them.
eks_missing=()
eks_need() {  # eks_need <test command...> -- <package>
    local pkg="${*: -1}"
    if ! "${@:1:$#-2}" >/dev/null 2>&1; then
        eks_missing+=("$pkg")
    fi
}
eks_header() {  # eks_header <header>: the C++ compiler finds it
    echo "#include <$1>" | g++ -E -x c++ - >/dev/null 2>&1
}
eks_need command -v cmake -- cmake
eks_need command -v g++ -- g++
eks_need command -v make -- make
eks_need test -f /usr/include/gtest/gtest.h -- libgtest-dev
# libtiff: for the companion library eks_tiff (TIFF files as images).
eks_need eks_header tiffio.h -- libtiff-dev
# The Python module: Debian's interpreter with numpy and pytest, its headers
# and pybind11.
eks_need test -f /usr/lib/cmake/pybind11/pybind11Config.cmake -- pybind11-dev
eks_need test -x /usr/bin/python3-config -- python3-dev
eks_need /usr/bin/python3 -c 'import numpy' -- python3-numpy
eks_need /usr/bin/python3 -c 'import pytest' -- python3-pytest
# Readers and writers other than libtiff, for the tests only (never needed at
# run time): GDAL's Python bindings (its cloud-optimized validator among
# them) and command-line tools, and tifffile.
eks_need /usr/bin/python3 -c 'import osgeo.gdal' -- python3-gdal
eks_need command -v gdal_translate -- gdal-bin
eks_need /usr/bin/python3 -c 'import tifffile' -- python3-tifffile
# What the module plugs into, for the tests and the guide's recipes only (the
# module imports without them): dask on threads and on a local cluster,
# xarray; and mypy, which checks the module's type stubs.
eks_need /usr/bin/python3 -c 'import dask.array' -- python3-dask
eks_need /usr/bin/python3 -c 'import distributed' -- python3-distributed
eks_need /usr/bin/python3 -c 'import xarray' -- python3-xarray
eks_need /usr/bin/python3 -c 'import mypy' -- mypy

if ((${#eks_missing[@]})); then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "installing missing prerequisites: ${eks_missing[*]}" >&2
        if ! apt-get install -y "${eks_missing[@]}" >&2; then
            # A fresh machine may have no package lists yet.
            apt-get update >&2 && apt-get install -y "${eks_missing[@]}" >&2 || exit 2
        fi
    else
        echo "error: missing prerequisites; install them with:" \
            "sudo apt-get install -y ${eks_missing[*]}" >&2
        exit 2
    fi
fi
unset eks_missing
