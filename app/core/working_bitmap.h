#pragma once
// The working bitmap of a loaded picture, as the pipeline, the tray thumbnails and the viewer
// all see it: 24 bits on white (PictureToBitmap), colours converted from the picture's
// embedded ICC profile to sRGB, and turned upright by its recorded orientation.
#include <memory>
#include <string>

#include "imageops/resample.h"

class TBitmap;
class TGraphic;

struct UprightOptions {
    bool AutoOrient = true;  // apply the recorded orientation (the "AutoOrient" setting)
};

// A profile that cannot be used leaves the colours as stored and warns through the warning
// sink, naming path; it never fails the load. Pictures without a profile or orientation, or
// with an sRGB one, come out byte for byte as PictureToBitmap gives them.
std::unique_ptr<TBitmap> WorkingBitmap(std::unique_ptr<TGraphic> picture, const UprightOptions& options,
                                       const std::string& path);
// The same, leaving the picture as it is.
std::unique_ptr<TBitmap> WorkingBitmap(TGraphic& picture, const UprightOptions& options, const std::string& path);

// The working bitmap in sRGB but as the file stores it, with the orientation still to apply
// (1 for none, or with AutoOrient off): the pipeline resamples a picture as stored and turns
// the smaller result upright.
struct StoredWorkingBitmap {
    std::unique_ptr<TBitmap> bitmap;
    int orientation = 1;
};
StoredWorkingBitmap WorkingBitmapAsStored(std::unique_ptr<TGraphic> picture, const UprightOptions& options,
                                          const std::string& path);

// The orientation still to apply to a picture that recorded this one: 1 (none) for an
// invalid value or with AutoOrient off.
inline int PendingOrientation(int recorded, const UprightOptions& options) {
    return options.AutoOrient && recorded >= 2 && recorded <= 8 ? recorded : 1;
}
// Whether the orientation (5 to 8) stores the picture's rows as its columns.
inline bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
// Resampling of a picture stored with this orientation: the stored columns and rows that run
// the other way in the upright picture are sampled mirrored, so that the result, turned
// upright, is the upright picture resampled: byte for byte where the sides stay, and within
// the rounding between the two passes where they swap.
inline ResampleOptions StoredResampling(int orientation) {
    ResampleOptions options;
    options.mirrorColumns = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    options.mirrorRows = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    return options;
}
// The bitmap turned upright by orientation: in place where the shape stays, else a new one.
std::unique_ptr<TBitmap> MadeUpright(std::unique_ptr<TBitmap> bitmap, int orientation);

// The text of the warning for a profile that was not used.
std::string UnusedProfileWarning(const std::string& path, const std::string& reason);
