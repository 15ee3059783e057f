// A main for the fuzz targets outside libFuzzer: runs LLVMFuzzerInitialize when
// the target has one, then LLVMFuzzerTestOneInput once on every regular file of
// each directory (sorted by name) or file named on the command line. Writes to
// standard error only, since a target may redirect standard output. Exits 0
// after all inputs ran, 1 when an argument cannot be read or no input was found
// (an empty corpus would test nothing); a finding aborts inside the target.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
    // A heap copy of exactly the input's size (non-null also when empty, as
    // libFuzzer passes it), so that the sanitizers see any read past it.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        std::vector<fs::path> files;
        if (fs::is_directory(arg, error)) {
            for (const auto& entry : fs::directory_iterator(arg, error)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(arg);
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const auto& file : files) {
            if (!Replay(file)) return 1;
            ++count;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed without a finding\n", count);
    return count == 0 ? 1 : 0;
}
