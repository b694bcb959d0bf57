#include "jpeg_test_util.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "graphics/stream.h"
#include "tests/support/test_support.h"

namespace jpegtest {

TBitmap SmoothBitmap(int width, int height) {
    TBitmap bmp(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const double fx = width > 1 ? double(x) / (width - 1) : 0;
            const double fy = height > 1 ? double(y) / (height - 1) : 0;
            row[3 * x] = static_cast<uint8_t>(40 + 180 * fy);                          // blue
            row[3 * x + 1] = static_cast<uint8_t>(128 + 100 * std::sin(3 * fx + fy));  // green
            row[3 * x + 2] = static_cast<uint8_t>(20 + 220 * fx);                      // red
        }
    }
    return bmp;
}

std::vector<uint8_t> Encode(const TBitmap& bitmap, int quality, bool progressive, bool gray) {
    TJPEGImage jpg;
    jpg.SetQuality(quality);
    jpg.SetProgressiveSave(progressive);
    jpg.SetGrayOutput(gray);
    TBitmap copy = bitmap;
    jpg.AssignBitmap(copy);
    TMemoryStream out;
    jpg.WritePicture(out);
    return out.Bytes();
}

void Load(TJPEGImage& image, const std::vector<uint8_t>& bytes) {
    TMemoryStream in(bytes);
    image.ReadPicture(in);
}

TBitmap DrawTo24Bit(TJPEGImage& image) {
    TBitmap out(image.Width(), image.Height(), TPixelFormat::pf24bit);
    image.Draw(out, Rect(0, 0, image.Width(), image.Height()));
    return out;
}

std::string Distance::Describe() const {
    std::ostringstream s;
    s << "mean difference " << mean << ", largest " << max;
    return s.str();
}

Distance Compare(const TBitmap& a, const TBitmap& b) {
    Distance d;
    EXPECT_EQ(a.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        ADD_FAILURE() << "sizes differ: have " << a.Width() << "x" << a.Height() << ", want " << b.Width() << "x"
                      << b.Height();
        d.max = 255;
        d.mean = 255;
        return d;
    }
    double sum = 0;
    const size_t rowBytes = size_t(a.Width()) * 3;
    for (int y = 0; y < a.Height(); ++y) {
        const uint8_t* ra = a.ScanLine(y);
        const uint8_t* rb = b.ScanLine(y);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int diff = std::abs(int(ra[i]) - int(rb[i]));
            sum += diff;
            d.max = std::max(d.max, diff);
        }
    }
    const double count = double(rowBytes) * a.Height();
    d.mean = count > 0 ? sum / count : 0;
    return d;
}

namespace {
int ReadNumber(const std::vector<uint8_t>& bytes, size_t& pos) {
    for (;;) {
        while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
        if (pos < bytes.size() && bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            continue;
        }
        break;
    }
    int value = 0;
    bool any = false;
    while (pos < bytes.size() && std::isdigit(bytes[pos])) {
        value = value * 10 + (bytes[pos++] - '0');
        any = true;
    }
    if (!any) throw std::runtime_error("bad PNM header");
    return value;
}
}  // namespace

TBitmap ReadPnm(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        throw std::runtime_error("not a binary PPM/PGM: " + path);
    const int channels = bytes[1] == '6' ? 3 : 1;
    size_t pos = 2;
    const int width = ReadNumber(bytes, pos);
    const int height = ReadNumber(bytes, pos);
    const int maxval = ReadNumber(bytes, pos);
    if (maxval != 255) throw std::runtime_error("PNM maxval is not 255");
    ++pos;  // the single white-space byte after the header
    if (bytes.size() - pos < size_t(width) * height * channels) throw std::runtime_error("PNM file is short");
    TBitmap bmp(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &bytes[pos + (size_t(y) * width + x) * channels];
            row[3 * x] = p[channels == 3 ? 2 : 0];
            row[3 * x + 1] = p[channels == 3 ? 1 : 0];
            row[3 * x + 2] = p[0];
        }
    }
    return bmp;
}

void WritePpm(const TBitmap& bitmap, const std::string& path) {
    std::string header = "P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            bytes.push_back(row[3 * x + 2]);
            bytes.push_back(row[3 * x + 1]);
            bytes.push_back(row[3 * x]);
        }
    }
    testsupport::WriteFile(path, bytes);
}

std::string Quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace jpegtest
