#pragma once
// imbrix-batch run as a user runs it, at full size into BMP files, and its results read back.
#include <filesystem>
#include <string>

#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "tests/support/test_support.h"

namespace clitest {

// Runs program (a command line, which may set variables first) on files (quoted already) into
// out; its error output goes to err. Returns the exit status.
inline int FullSizeBmpBatch(const std::string& program, const testsupport::TempDir& out, const std::string& files,
                            std::string* err) {
    const std::string errFile = out.file("stderr.txt");
    const int status = testsupport::RunCommand(program + " -s full -t bmp -o '" + out.path().string() + "' " + files +
                                               " >/dev/null 2>'" + errFile + "' </dev/null");
    const auto bytes = testsupport::ReadFile(errFile);
    *err = std::string(bytes.begin(), bytes.end());
    return status;
}

inline TBitmap LoadBmp(const std::filesystem::path& path) {
    TPicture picture;
    picture.LoadPictureFile(path.string());
    TBitmap bmp(picture.Width(), picture.Height());
    picture.Graphic()->Draw(bmp, Rect(0, 0, bmp.Width(), bmp.Height()));
    return bmp;
}

}  // namespace clitest
