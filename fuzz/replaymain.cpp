// Runs a fuzz target over files instead of under the fuzzer: every file named
// on the command line, and every file in every folder named there. Used to
// replay the seed corpora as ordinary tests in builds without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

bool runFile(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "Cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "Running %s (%zu bytes)\n", path.string().c_str(), bytes.size());
    // A copy of exactly the input's size, so that reads past its end are caught.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const fs::directory_entry &entry : fs::directory_iterator(path, error)) {
                if (entry.is_regular_file(error))
                    files.push_back(entry.path());
            }
        } else if (fs::is_regular_file(path, error)) {
            files.push_back(path);
        } else {
            std::fprintf(stderr, "No such file or folder: %s\n", argv[i]);
            return 1;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s <corpus folder or file>... (no input found)\n", argc > 0 ? argv[0] : "replay");
        return 1;
    }

    int run = 0;
    for (const fs::path &path : files) {
        if (!runFile(path))
            return 1;
        ++run;
    }
    std::fprintf(stderr, "Replayed %d inputs without a finding\n", run);
    return 0;
}
