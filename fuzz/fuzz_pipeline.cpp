// The whole road of a dropped file, in memory: the first byte picks the picture class (through
// the registered format table, as a file's extension would), the next ones the filter, a small
// odd target size, the turn and the JPEG quality; the rest is the file. It is loaded, drawn onto
// the 24-bit working bitmap in sRGB, given its thumbnail, resampled, turned upright and turned,
// and written as GIF, JPEG and BMP, with the pipeline's own functions. Pictures are capped
// small so each run is quick.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "app/core/thumbnail.h"
#include "app/core/working_bitmap.h"
#include "fuzz/harness.h"
#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "graphics/stream.h"
#include "imageops/resample.h"
#include "imageops/rotate.h"

namespace {

// One extension per class of the table ("" is the loader for names without one).
constexpr const char* kExtensions[] = {"bmp", "ico", "wmf", "emf", "jpg", "gif", "tif", "eps", "png", "psd",
                                       "tga", "pcx", "sgi", "psp", "cut", "rla", "pcd", "ppm", "cel", ""};
constexpr size_t kFormats = sizeof kExtensions / sizeof kExtensions[0];

void TouchBitmap(const TBitmap& bitmap) {
    if (bitmap.Width() > 0 && bitmap.Height() > 0)
        fuzz::Touch({bitmap.Bits(), bitmap.RowStride() * size_t(bitmap.Height())});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        fuzz::Setup();
        RegisterPictureFormats();
        // Every picture is resampled and written three times: keep them small.
        CurrentPictureLimits().maxPixels = 1 << 16;
        return true;
    }();
    (void)ready;
    fuzz::Params params(data, size);
    const char* extension = kExtensions[params.u8() % kFormats];
    const FilterEntry& filter = FilterTable[params.u8() % FilterTable.size()];
    // Odd sizes from 1 (one column: the resampler's refusal) to 31.
    const int targetW = 1 + 2 * (params.u8() % 16);
    const int targetH = 1 + 2 * (params.u8() % 16);
    const int rotation = params.u8() % 4;
    const int quality = 1 + params.u8() % 100;
    const std::span<const uint8_t> file = params.data();

    try {
        const TGraphicClass graphicClass = PictureFormatTable().FindPictureClass(extension);
        if (!graphicClass || !graphicClass->create) return 0;
        std::unique_ptr<TGraphic> picture = graphicClass->create();
        TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
        picture->ReadPicture(stream);
        if (std::unique_ptr<TGraphic> recognised = picture->TakeRecognisedPicture()) picture = std::move(recognised);

        // In sRGB from the picture's own profile, still as stored; resampled with the mirrors
        // its orientation asks for and turned upright after, as the pipeline does.
        StoredWorkingBitmap converted = WorkingBitmapAsStored(std::move(picture), UprightOptions{}, "fuzz");
        TouchBitmap(MakeThumbnail(*converted.bitmap));
        if (converted.bitmap->Width() <= 0 || converted.bitmap->Height() <= 0) return 0;

        auto target = std::make_unique<TBitmap>(targetW, targetH, TPixelFormat::pf24bit);
        ResampleBitmap(*converted.bitmap, *target, filter.kernel, filter.support,
                       StoredResampling(converted.orientation));
        target = MadeUpright(std::move(target), converted.orientation);
        std::unique_ptr<TBitmap> turned = RotateBitmap(rotation, *target);
        TBitmap& result = turned ? *turned : *target;
        TouchBitmap(result);

        for (const char* type : {".gif", ".jpg", ".bmp"}) {
            TMemoryStream out;
            SaveResult(result, out, type, quality);
            fuzz::Touch(out.Bytes());
        }
    } catch (const EImbrixError&) {
        // A refused file (or size) is a correct answer.
    }
    return 0;
}
