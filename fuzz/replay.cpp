// Runs a fuzz target over files and directories of inputs, for builds without libFuzzer.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The input being replayed, named by the handler below when the target aborts or crashes
// (the sanitizers abort when told to with abort_on_error=1).
std::string current_input;

extern "C" void name_the_input(int signal_number) {
    static const char prefix[] = "\nwhile replaying ";
    // write() is safe in a signal handler; the name was built before the signal came.
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, current_input.data(), current_input.size());
    (void)!write(STDERR_FILENO, "\n", 1);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void replay_file(const std::filesystem::path& path) {
    current_input = path.string();
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that the sanitizer catches a read one past it.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& item : std::filesystem::recursive_directory_iterator(path)) {
                if (item.is_regular_file()) paths.push_back(item.path());
            }
        } else if (std::filesystem::is_regular_file(path)) {
            paths.push_back(path);
        } else {
            std::fprintf(stderr, "no such input: %s\n", path.c_str());
            return 2;
        }
    }
    for (const int signal_number : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(signal_number, name_the_input);
    }
    // A fixed order, so that every machine replays (and fails on) the inputs alike.
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) replay_file(path);
    std::printf("replayed %zu inputs\n", paths.size());
    // An empty corpus replays nothing and would pass unnoticed.
    return paths.empty() ? 1 : 0;
}
