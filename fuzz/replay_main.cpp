// SPDX-License-Identifier: Apache-2.0
// Replays a fuzz target's inputs without libFuzzer: every file named on the
// command line, and every file inside a directory named there, in sorted
// order. Fails when nothing was replayed, so that a mistyped corpus path
// cannot pass unnoticed. A finding aborts inside the target.
//
// -timeout=N (libFuzzer's flag) limits each input to N seconds: an input
// that runs longer is a finding too, reported with its file name.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The input being replayed, for the time limit's report (written before the
// alarm is armed, read only by the signal handler).
char current[4096];

void onTimeLimit(int) {
    static const char message[] = "replay: input exceeded the time limit: ";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    ignored = write(STDERR_FILENO, current, std::strlen(current));
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    std::abort();
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    unsigned seconds = 0;  // no time limit
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (std::strncmp(argv[i], "-timeout=", 9) == 0) {
            seconds = unsigned(std::strtoul(argv[i] + 9, nullptr, 10));
        } else if (fs::is_directory(argv[i], ec)) {
            for (const auto& entry : fs::directory_iterator(argv[i], ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            files.emplace_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    if (seconds > 0) signal(SIGALRM, onTimeLimit);
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        std::snprintf(current, sizeof current, "%s", file.c_str());
        alarm(seconds);  // 0 cancels nothing and arms nothing
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        alarm(0);
    }
    std::printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
