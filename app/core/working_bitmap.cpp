#include "app/core/working_bitmap.h"

#include <vector>

#include "app/core/pipeline.h"
#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/graphic.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/warning_sink.h"
#include "icc/colour_profile.h"
#include "imageops/rotate.h"

namespace {

// What the picture recorded, taken before the picture may be consumed.
struct Recorded {
    int orientation;
    std::vector<uint8_t> profile;
    std::string problem;
};

// Colours converted on the stored pixels: the conversion works per pixel, so the order of it
// and the turn does not change the result, and it comes before resampling, which mixes
// neighbours.
void ConvertColours(TBitmap& bitmap, const Recorded& recorded, const std::string& path) {
    std::string problem = recorded.problem;
    if (problem.empty() && ConvertToSRGB(bitmap, recorded.profile, &problem) != ProfileOutcome::Unusable)
        problem.clear();
    if (!problem.empty()) ShowWarning(UnusedProfileWarning(path, problem));
}

std::unique_ptr<TBitmap> Finish(std::unique_ptr<TBitmap> bitmap, const Recorded& recorded,
                                const UprightOptions& options, const std::string& path) {
    ConvertColours(*bitmap, recorded, path);
    return options.AutoOrient ? MadeUpright(std::move(bitmap), recorded.orientation) : std::move(bitmap);
}

}  // namespace

std::string UnusedProfileWarning(const std::string& path, const std::string& reason) {
    return FormatMessage("The colour profile of \"%s\" was not used (%s): its colours are shown as stored.",
                         path.c_str(), reason.c_str());
}

std::unique_ptr<TBitmap> MadeUpright(std::unique_ptr<TBitmap> bitmap, int orientation) {
    // Mirrors and the half turn in place, without a second picture beside the first.
    if (OrientUprightInPlace(orientation, *bitmap)) return bitmap;
    if (std::unique_ptr<TBitmap> upright = OrientUpright(orientation, *bitmap)) return upright;
    return bitmap;
}

StoredWorkingBitmap WorkingBitmapAsStored(std::unique_ptr<TGraphic> picture, const UprightOptions& options,
                                          const std::string& path) {
    Recorded recorded{picture->Orientation, std::move(picture->IccProfile), std::move(picture->IccProfileProblem)};
    StoredWorkingBitmap stored{PictureToBitmap(std::move(picture)), PendingOrientation(recorded.orientation, options)};
    ConvertColours(*stored.bitmap, recorded, path);
    return stored;
}

std::unique_ptr<TBitmap> WorkingBitmap(std::unique_ptr<TGraphic> picture, const UprightOptions& options,
                                       const std::string& path) {
    Recorded recorded{picture->Orientation, std::move(picture->IccProfile), std::move(picture->IccProfileProblem)};
    return Finish(PictureToBitmap(std::move(picture)), recorded, options, path);
}

std::unique_ptr<TBitmap> WorkingBitmap(TGraphic& picture, const UprightOptions& options, const std::string& path) {
    const Recorded recorded{picture.Orientation, picture.IccProfile, picture.IccProfileProblem};
    return Finish(PictureToBitmap(picture), recorded, options, path);
}
