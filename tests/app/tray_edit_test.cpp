// Removing tray entries and renaming results: which files go, which names are refused.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/tray_model.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {
// An Out entry for a file we wrote now, with these bytes.
void AddWritten(TrayModel& trays, const std::string& path, std::vector<uint8_t> bytes = {1, 2, 3}) {
    testsupport::WriteFile(path, bytes);
    trays.Add(TTray::Out, path, TpicData(1, 1, 24), TBitmap());
    trays.MarkWritten(path, *IdentifyFile(path));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
}  // namespace

TEST(TrayEdit, RemovingOutEntriesDeletesOnlyOurFiles) {
    TempDir dir;
    TrayModel trays;
    const std::string a = dir.file("a.jpg"), b = dir.file("b.jpg"), c = dir.file("c.jpg"), d = dir.file("d.jpg"),
                      e = dir.file("e.jpg");
    AddWritten(trays, a);
    AddWritten(trays, b);
    AddWritten(trays, c);
    AddWritten(trays, d);
    trays.Add(TTray::Out, e, TpicData(1, 1, 24), TBitmap());  // still being written
    testsupport::WriteFile(e, {9});
    // b was replaced behind our back; d was dropped back into the In tray as a source.
    std::filesystem::remove(b);
    testsupport::WriteFile(b, {7, 7, 7, 7});
    trays.Add(TTray::In, d, TpicData(1, 1, 24), TBitmap());

    // Rows in any order, a duplicate and one out of range.
    const std::vector<size_t> removed = trays.Remove(TTray::Out, {3, 1, 0, 9, 1, 4});
    EXPECT_EQ(removed, (std::vector<size_t>{4, 3, 1, 0}));
    ASSERT_EQ(trays.Count(TTray::Out), size_t(1));
    EXPECT_EQ(trays.Entries(TTray::Out)[0].Path, c);
    struct Want {
        std::string path;
        bool kept;
    } wants[] = {{a, false}, {b, true}, {c, true}, {d, true}, {e, true}};
    for (const Want& w : wants) EXPECT_EQ(Exists(w.path), w.kept) << w.path;

    // Removing In entries never touches a file.
    const std::vector<size_t> in = trays.Remove(TTray::In, {0});
    EXPECT_EQ(in, (std::vector<size_t>{0}));
    EXPECT_EQ(trays.Count(TTray::In), size_t(0));
    EXPECT_TRUE(Exists(d));
}

TEST(TrayEdit, RenameMovesTheResultOrRefusesAndKeepsIt) {
    TempDir dir;
    TrayModel trays;
    AddWritten(trays, dir.file("photo.jpg"));
    AddWritten(trays, dir.file("other.jpg"));
    testsupport::WriteFile(dir.file("stranger.txt"), {5});
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));

    struct Case {
        std::string name;
        std::string error;  // a part of the refusal, "" when the rename must work
    } cases[] = {
        {"", "cannot be empty"},
        {"a/b.jpg", "cannot contain \"/\""},
        {"..", "not a valid file name"},
        {"other.jpg", "already exists"},
        {"stranger.txt", "already exists"},
        {"dangling", "already exists"},
        {"photo.jpg", ""},  // unchanged
        {"holiday at sea.jpg", ""},
    };
    std::string current = "photo.jpg";
    for (const Case& c : cases) {
        const std::string error = trays.RenameResult(0, c.name);
        const std::string path = trays.Entries(TTray::Out)[0].Path;
        if (c.error.empty()) {
            EXPECT_EQ(error, "") << c.name;
            current = c.name;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": have \"" << error << "\"";
        }
        EXPECT_EQ(path, dir.file(current)) << c.name;
        EXPECT_EQ(FileSizeOf(dir.file(current)), 3) << c.name;
    }
    EXPECT_FALSE(Exists(dir.file("photo.jpg")));
    EXPECT_EQ(FileSizeOf(dir.file("stranger.txt")), 1);

    // The renamed file is still ours: removing the entry deletes it.
    trays.Remove(TTray::Out, {0});
    EXPECT_FALSE(Exists(dir.file(current)));

    // A result that is no longer the file we wrote is not renamed; nor one never written.
    const std::string other = dir.file("other.jpg");
    std::filesystem::remove(other);
    testsupport::WriteFile(other, {1, 2, 3, 4});
    EXPECT_NE(trays.RenameResult(0, "mine.jpg"), "");
    EXPECT_TRUE(Exists(other));
    trays.Add(TTray::Out, dir.file("pending.jpg"), TpicData(1, 1, 24), TBitmap());
    testsupport::WriteFile(dir.file("pending.jpg"), {1});
    EXPECT_NE(trays.RenameResult(1, "done.jpg"), "");
    EXPECT_NE(trays.RenameResult(7, "x.jpg"), "");
}
