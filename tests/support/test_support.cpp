#include "tests/support/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace testsupport {

std::optional<fs::path> CorpusDir() {
    std::vector<fs::path> candidates;
    if (const char* shared = std::getenv("IMBRIX_SHARED")) candidates.emplace_back(fs::path(shared) / "corpus");
    if (const char* source = std::getenv("IMBRIX_SOURCE")) candidates.emplace_back(fs::path(source) / ".." / "shared" / "corpus");
    for (const auto& c : candidates) {
        std::error_code ec;
        if (fs::is_directory(c, ec)) return fs::weakly_canonical(c);
    }
    return std::nullopt;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "imbrix-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TBitmap NoiseBitmap(int width, int height, uint32_t seed) {
    TBitmap bmp(width, height, TPixelFormat::pf24bit);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < width * 3; ++x) row[x] = static_cast<uint8_t>(rng());
    }
    return bmp;
}

int64_t FirstPixelDifference(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return -2;
    const size_t rowBytes = size_t(a.Width()) * 3;
    for (int y = 0; y < a.Height(); ++y) {
        const uint8_t* ra = a.ScanLine(y);
        const uint8_t* rb = b.ScanLine(y);
        for (size_t i = 0; i < rowBytes; ++i)
            if (ra[i] != rb[i]) return int64_t(y) * int64_t(rowBytes) + int64_t(i);
    }
    return -1;
}

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WEXITSTATUS(status);
}

bool HaveProgram(const std::string& program) {
    if (!program.empty() && program[0] == '/') return ::access(program.c_str(), X_OK) == 0;
    return RunCommand("command -v " + program + " >/dev/null 2>&1") == 0;
}

}  // namespace testsupport
