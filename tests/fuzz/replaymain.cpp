// Replays a fuzz target's corpus in builds without libFuzzer: every file of every folder named
// on the command line goes through LLVMFuzzerTestOneInput once. A target signals a broken
// property by aborting, so the process fails on the first input that breaks one.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpusFiles(const fs::path &folder)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    // A fixed order makes a failure name the same input on every run.
    std::sort(files.begin(), files.end());
    return files;
}

std::string contents(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (!fs::is_directory(argv[i], error)) {
            std::fprintf(stderr, "The corpus folder %s does not exist.\n", argv[i]);
            return 2;
        }
        for (const fs::path &file : corpusFiles(argv[i])) {
            // Printed first so that a crash leaves the input's name as the last line.
            std::fprintf(stderr, "replaying %s\n", file.c_str());
            const std::string bytes = contents(file);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    // An empty corpus would replay nothing and pass, which hides a broken checkout.
    if (replayed == 0) {
        std::fprintf(stderr, "The corpus holds no inputs.\n");
        return 2;
    }
    std::printf("%zu inputs replayed without a failure.\n", replayed);
    return 0;
}
