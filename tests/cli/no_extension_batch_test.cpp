// Files that lost their extension, through imbrix-batch: each one converts exactly like the
// same file with its extension, for every output type (same result names and bytes, same
// messages), "Same as original" included.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct BatchRun {
    int status = -1;
    std::map<std::string, std::vector<uint8_t>> results;  // file name -> bytes
    std::string err;
};

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

BatchRun Batch(const std::string& type, const std::vector<std::string>& files) {
    testsupport::TempDir out, logs;
    std::string command = std::string(IMBRIX_BATCH) + " -W 150% -H 150% -r right -t " + type + " -o '" + out.path().string() + "'";
    for (const std::string& f : files) command += " '" + f + "'";
    command += " >'" + logs.file("out") + "' 2>'" + logs.file("err") + "' </dev/null";
    BatchRun r;
    r.status = testsupport::RunCommand(command);
    r.err = Text(testsupport::ReadFile(logs.file("err")));
    // Messages name the source and result paths, which differ only by folder and extension.
    for (const std::string& folder : {out.path().string() + "/", files.empty() ? std::string() : fs::path(files[0]).parent_path().string() + "/"}) {
        if (folder.size() <= 1) continue;
        for (size_t at; (at = r.err.find(folder)) != std::string::npos;) r.err.erase(at, folder.size());
    }
    for (const auto& entry : fs::directory_iterator(out.path()))
        r.results[entry.path().filename().string()] = testsupport::ReadFile(entry.path().string());
    return r;
}

}  // namespace

TEST(NoExtensionBatch, ConvertsLikeTheSameFileWithItsExtension) {
    const fs::path seeds = fs::path(IMBRIX_TEST_SOURCE_DIR) / "fuzz" / "corpus";
    ASSERT_TRUE(fs::is_directory(seeds)) << seeds;
    // Writable and unwritable source types; the stems tell the results apart.
    const std::pair<const char*, const char*> sources[] = {
        {"jpeg/baseline.jpg", "photo"}, {"gif/small.gif", "anim"}, {"bmp/rle8.bmp", "scan"},
        {"read_png/g37x29_c2_d8_i0_split.png", "icon"}, {"read_psd/rgb_raw.psd", "layers"},
    };
    testsupport::TempDir named, bare;
    std::vector<std::string> withExt, without;
    for (const auto& [seed, stem] : sources) {
        const fs::path from = seeds / seed;
        withExt.push_back(named.file(std::string(stem) + from.extension().string()));
        without.push_back(bare.file(stem));
        fs::copy_file(from, withExt.back());
        fs::copy_file(from, without.back());
    }
    for (const char* type : {"jpg", "gif", "bmp", "same"}) {
        BatchRun a = Batch(type, withExt);
        const BatchRun b = Batch(type, without);
        // The list of failures names each source file, which is all that may differ.
        for (size_t i = 0; i < withExt.size(); ++i) {
            const std::string from = "\n" + fs::path(withExt[i]).filename().string() + ": ";
            const std::string to = "\n" + fs::path(without[i]).filename().string() + ": ";
            for (size_t at; (at = a.err.find(from)) != std::string::npos;) a.err.replace(at, from.size(), to);
        }
        EXPECT_EQ(a.status, b.status) << type;
        EXPECT_EQ(a.err, b.err) << type;
        ASSERT_EQ(a.results.size(), b.results.size()) << type;
        for (const auto& [name, bytes] : a.results) {
            const auto other = b.results.find(name);
            ASSERT_NE(other, b.results.end()) << type << ": no " << name << " from the file without an extension";
            EXPECT_TRUE(other->second == bytes) << type << ": " << name << " differs";
        }
        // The writable types all come out; "same" cannot write Photoshop and says so.
        EXPECT_EQ(a.results.size(), std::string(type) == "same" ? 4u : 5u) << type << "\n" << a.err;
    }
}
