// Rows handed to the encoder a few at a time make the file the whole bitmap makes, and the
// encoder refuses to be given too many rows, to finish early or to go on once finished.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg_test_util.h"

using namespace jpegtest;

TEST(JpegRowEncoder, RowsInPiecesMakeTheFileOfTheWholeBitmap) {
    const TBitmap picture = SmoothBitmap(67, 45);
    const JpegEncoding encodings[] = {{85, false, false}, {30, true, false}, {92, false, true}};
    for (const JpegEncoding& e : encodings) {
        const ByteBuffer whole = EncodeJpeg(picture, e);
        EXPECT_EQ(std::vector<uint8_t>(whole.begin(), whole.end()), Encode(picture, e.quality, e.progressive, e.grayscale));
        for (const int piece : {1, 7, 16, 45}) {
            SCOPED_TRACE("quality " + std::to_string(e.quality) + ", " + std::to_string(piece) + " rows at a time");
            JpegRowEncoder encoder(picture.Width(), picture.Height(), e);
            for (int y = 0; y < picture.Height(); y += piece)
                encoder.Write(picture.ScanLine(y), picture.RowStride(), std::min(piece, picture.Height() - y));
            EXPECT_TRUE(encoder.Finish() == whole);
        }
    }
}

TEST(JpegRowEncoder, WrongRowCountsAndQualitiesFail) {
    const TBitmap picture = SmoothBitmap(16, 8);
    EXPECT_THROW(JpegRowEncoder(16, 8, JpegEncoding{0}), ERangeError);
    EXPECT_THROW(JpegRowEncoder(16, 8, JpegEncoding{101}), ERangeError);
    JpegRowEncoder early(16, 8, JpegEncoding{});
    early.Write(picture.ScanLine(0), picture.RowStride(), 7);
    EXPECT_THROW(early.Finish(), EInvalidGraphicOperation);
    JpegRowEncoder extra(16, 8, JpegEncoding{});
    extra.Write(picture.ScanLine(0), picture.RowStride(), 8);
    EXPECT_THROW(extra.Write(picture.ScanLine(0), picture.RowStride(), 1), EInvalidGraphicOperation);
    EXPECT_EQ(extra.RowsWritten(), 8);
    EXPECT_FALSE(extra.Finish().empty());
    EXPECT_THROW(extra.Finish(), EInvalidGraphicOperation);
    EXPECT_THROW(extra.Write(picture.ScanLine(0), picture.RowStride(), 0), EInvalidGraphicOperation);
}
