// Replays saved fuzzer inputs (files, or every file of a folder) through a harness without
// libFuzzer, so the normal test run keeps every crash fixed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t count = 0;
    auto replay = [&](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++count;
    };
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        if (fs::is_directory(path)) {
            for (const auto& entry : fs::directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename() != "README.md") replay(entry.path());
        } else if (fs::exists(path)) {
            replay(path);
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
