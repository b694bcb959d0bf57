// The pipeline's writes when the disk, the working folder or another program gets in the way:
// a clear message, no partial result and no Out entry for it, never a file we did not write
// replaced or deleted.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "graphics/errors.h"
#include "tests/app/recording_host.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// A tmpfs over a folder for as long as the object lives (only where mounting is allowed).
class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, unsigned long flags, const char* options) : dir_(dir) {
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", flags, options) == 0;
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

// Every case: sources a.bmp (small), b.bmp (larger than the small disk) and c.bmp (small).
struct Env {
    testsupport::TempDir src;
    testsupport::TempDir root;  // the working folder is root/work, so that a mount can cover it
    std::string work = (root.path() / "work").string();
    std::optional<TmpfsMount> mount;
    rlim_t fileSizeLimit = 0;  // a full disk where no tmpfs can be mounted
    bool restoreMode = false;
    std::string a = src.file("a.bmp"), b = src.file("b.bmp"), c = src.file("c.bmp");
    Env() {
        fs::create_directory(work);
        testsupport::NoiseBitmap(8, 8, 1).WritePictureFile(a);
        testsupport::NoiseBitmap(200, 200, 2).WritePictureFile(b);  // 120 KB as a bitmap
        testsupport::NoiseBitmap(8, 8, 3).WritePictureFile(c);
    }
    ~Env() {
        mount.reset();
        if (restoreMode) fs::permissions(work, fs::perms::owner_all);
    }
    std::string Work(const std::string& name) const { return work + "/" + name; }
};

struct FaultCase {
    const char* name;
    // Sets the fault up; "" when it can, else why the case is skipped here.
    std::function<std::string(Env&, RecordingHost&)> arrange;
    std::string error;                    // what the escaping error says ("" for none)
    BatchOutcome outcome;                 // when nothing escapes
    std::set<std::string> afterBatch;     // the working folder after the batch
    std::vector<std::string> outEntries;  // the Out tray's names
    std::function<void(Env&)> beforeClear;
    std::set<std::string> afterClear;  // the working folder after Clear Trays
};

// A disk with room for the small results only, written as this output type.
std::function<std::string(Env&, RecordingHost&)> FullDisk(int outputType, int maxJpegKB = 0) {
    return [=](Env& env, RecordingHost& host) {
        host.settings.OutputType = outputType;
        host.settings.MaxJPEGKB = maxJpegKB;
        env.mount.emplace(env.work, 0, "size=16k");
        if (!env.mount->Mounted()) env.fileSizeLimit = 16 * 1024;
        return std::string();
    };
}

std::string ReadOnlyFolder(Env& env, RecordingHost&) {
    if (::geteuid() != 0) {
        fs::permissions(env.work, fs::perms::owner_read | fs::perms::owner_exec);
        env.restoreMode = true;
        return {};
    }
    // Permissions do not bind root: a read-only file system does.
    env.mount.emplace(env.work, MS_RDONLY, "size=64k");
    return env.mount->Mounted() ? "" : "running as root where no read-only tmpfs can be mounted";
}

}  // namespace

TEST(WriteFaults, EachFaultLeavesOnlyWholeResultsOfOursAndNeverTouchesAnotherFile) {
    RegisterPictureFormats();
    const std::vector<FaultCase> cases = {
        {"full disk: the partial result is removed and the batch stops", FullDisk(1),
         "Cannot write file \"WORK/b.bmp\". ", BatchOutcome::Stopped, {"a.bmp"}, {"a.bmp"}, nullptr, {}},
        {"full disk as JPEG", FullDisk(2), "Cannot write file \"WORK/b.jpg\". ", BatchOutcome::Stopped, {"a.jpg"},
         {"a.jpg"}, nullptr, {}},
        {"full disk as JPEG under a size limit", FullDisk(2, 500), "Cannot write file \"WORK/b.jpg\". ",
         BatchOutcome::Stopped, {"a.jpg"}, {"a.jpg"}, nullptr, {}},
        {"full disk as GIF", FullDisk(3), "Cannot write file \"WORK/b.gif\". ", BatchOutcome::Stopped, {"a.gif"},
         {"a.gif"}, nullptr, {}},
        {"full disk as PNG", FullDisk(4), "Cannot write file \"WORK/b.png\". ", BatchOutcome::Stopped, {"a.png"},
         {"a.png"}, nullptr, {}},
        {"read-only working folder", ReadOnlyFolder, "Cannot create file \"WORK/a.bmp\". ", BatchOutcome::Stopped,
         {}, {}, nullptr, {}},
        {"a source vanishes before its turn",
         [](Env& env, RecordingHost& host) {
             host.onFile = [&env](const std::string& path) {
                 if (path == env.a) fs::remove(env.b);
             };
             return std::string();
         },
         "", BatchOutcome::Failures, {"a.bmp", "c.bmp"}, {"a.bmp", "c.bmp"}, nullptr, {}},
        {"a result name appears mid-batch",
         [](Env& env, RecordingHost& host) {
             host.onFile = [&env](const std::string& path) {
                 if (path == env.a) testsupport::WriteFile(env.Work("b.bmp"), Bytes("theirs"));
             };
             return std::string();
         },
         "", BatchOutcome::Completed, {"a.bmp", "b.bmp", "b-1.bmp", "c.bmp"}, {"a.bmp", "b-1.bmp", "c.bmp"}, nullptr,
         {"b.bmp"}},
        {"results renamed and their names taken before Clear Trays",
         [](Env&, RecordingHost&) { return std::string(); }, "", BatchOutcome::Completed,
         {"a.bmp", "b.bmp", "c.bmp"}, {"a.bmp", "b.bmp", "c.bmp"},
         [](Env& env) {
             fs::rename(env.Work("a.bmp"), env.Work("kept.bmp"));
             testsupport::WriteFile(env.Work("a.bmp"), Bytes("theirs"));
             fs::remove(env.Work("b.bmp"));
             testsupport::WriteFile(env.Work("b.bmp"), Bytes("theirs"));
         },
         {"a.bmp", "b.bmp", "kept.bmp"}},
    };
    for (const FaultCase& fc : cases) {
        SCOPED_TRACE(fc.name);
        Env env;
        RecordingHost host(env.work + "/");
        host.settings.OutputType = 1;  // .bmp
        host.scale.Scale = ScaleMode::FullSize;
        const std::string skip = fc.arrange(env, host);
        if (!skip.empty()) {
            std::printf("[  SKIP    ] %s: %s\n", fc.name, skip.c_str());
            continue;
        }
        std::string error;
        BatchOutcome outcome = BatchOutcome::Stopped;
        {
            rlimit old {};
            ::getrlimit(RLIMIT_FSIZE, &old);
            void (*oldHandler)(int) = SIG_DFL;
            if (env.fileSizeLimit) {
                oldHandler = std::signal(SIGXFSZ, SIG_IGN);
                rlimit small = old;
                small.rlim_cur = env.fileSizeLimit;
                ::setrlimit(RLIMIT_FSIZE, &small);
            }
            try {
                outcome = ProcessFiles(host, {env.a, env.b, env.c});
            } catch (const std::exception& e) {
                error = e.what();
            }
            if (env.fileSizeLimit) {
                ::setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, oldHandler);
            }
        }
        std::string expectedError = fc.error;
        if (const size_t at = expectedError.find("WORK"); at != std::string::npos)
            expectedError.replace(at, 4, env.work);
        if (expectedError.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(outcome, fc.outcome);
        } else {
            EXPECT_EQ(error.rfind(expectedError, 0), 0u) << error;
            EXPECT_EQ(error.find(kStreamWriteError), std::string::npos) << "no reason given: " << error;
        }
        EXPECT_EQ(host.ends, 1);
        EXPECT_EQ(Listing(env.work), fc.afterBatch);
        std::vector<std::string> out;
        for (const std::string& path : host.trays.Paths(TTray::Out)) out.push_back(ExtractFileName(path));
        EXPECT_EQ(out, fc.outEntries);
        // Every Out entry is a whole file (a bitmap result as long as its source).
        for (const std::string& name : out) {
            ASSERT_TRUE(fs::exists(env.Work(name))) << name;
            if (host.settings.OutputType == 1) {
                EXPECT_EQ(FileSizeOf(env.Work(name)), FileSizeOf(env.src.file(name.substr(0, 1) + ".bmp"))) << name;
            } else {
                EXPECT_GT(FileSizeOf(env.Work(name)), 0) << name;
            }
        }
        // Every source is listed once; those without a result say why.
        EXPECT_EQ(host.trays.Count(TTray::In), 3u);
        for (const TrayEntry& e : host.trays.Entries(TTray::In)) {
            const bool converted = std::count_if(out.begin(), out.end(), [&](const std::string& n) {
                return n[0] == ExtractFileName(e.Path)[0];
            });
            EXPECT_EQ(e.NotConverted.empty(), converted) << e.Path << ": " << e.NotConverted;
        }
        if (fc.beforeClear) fc.beforeClear(env);
        host.trays.Clear();
        EXPECT_EQ(Listing(env.work), fc.afterClear);
        for (const std::string& name : fc.afterClear) {
            if (name != "kept.bmp") {
                EXPECT_EQ(Text(env.Work(name)), "theirs") << name;
            }
        }
    }
}
