#pragma once
// The working bitmap of a loaded picture, as the pipeline, the tray thumbnails and the viewer
// all see it: 24 bits on white (PictureToBitmap), colours converted from the picture's
// embedded ICC profile to sRGB, and turned upright by its recorded orientation.
#include <memory>
#include <string>

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

// The text of the warning for a profile that was not used.
std::string UnusedProfileWarning(const std::string& path, const std::string& reason);
