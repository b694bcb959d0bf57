#include "icc/colour_profile.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "graphics/bitmap.h"
#include "icc/matrix_shaper.h"
#include "imageops/parallel.h"

namespace {

// Below this many pixels per thread a second thread costs more than it saves.
constexpr double kMinPixelsPerThread = 1 << 18;
// LittleCMS reads profiles of any size it is handed; no real one comes near this.
constexpr size_t kMaxProfileBytes = 64u << 20;

// One LittleCMS context per use, so that its error messages reach the caller that caused them
// and never a process-wide log.
class Context {
public:
    Context() : context_(cmsCreateContext(nullptr, this)) {
        if (context_) cmsSetLogErrorHandlerTHR(context_, &Context::Log);
    }
    ~Context() {
        if (context_) cmsDeleteContext(context_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    cmsContext get() const { return context_; }
    cmsContext release() {
        cmsContext c = context_;
        context_ = nullptr;
        return c;
    }
    const std::string& message() const { return message_; }

private:
    static void Log(cmsContext id, cmsUInt32Number, const char* text) {
        auto* self = static_cast<Context*>(cmsGetContextUserData(id));
        if (self && self->message_.empty() && text) self->message_ = text;
    }
    cmsContext context_;
    std::string message_;
};

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(static_cast<cmsHPROFILE>(p)); }
};
struct TransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(static_cast<cmsHTRANSFORM>(t)); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformDeleter>;

void SetProblem(std::string* problem, const std::string& text) {
    if (problem) *problem = text;
}

std::string Reason(const Context& context, const char* fallback) {
    return context.message().empty() ? fallback : context.message();
}

Profile OpenProfile(const Context& context, std::span<const uint8_t> bytes, std::string* problem) {
    if (bytes.size() > kMaxProfileBytes) {
        SetProblem(problem, "the profile is too large");
        return nullptr;
    }
    Profile profile(cmsOpenProfileFromMemTHR(context.get(), bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (!profile) SetProblem(problem, Reason(context, "the profile cannot be read"));
    return profile;
}

// From the profile's space to sRGB, perceptual. NOCACHE: the transform is shared by threads.
Transform MakeTransform(const Context& context, const Profile& from, cmsUInt32Number inFormat,
                        cmsUInt32Number outFormat, cmsUInt32Number flags, std::string* problem) {
    Profile srgb(cmsCreate_sRGBProfileTHR(context.get()));
    if (!srgb) {
        SetProblem(problem, Reason(context, "no sRGB profile"));
        return nullptr;
    }
    Transform t(cmsCreateTransformTHR(context.get(), from.get(), inFormat, srgb.get(), outFormat, INTENT_PERCEPTUAL,
                                      flags | cmsFLAGS_NOCACHE));
    if (!t) SetProblem(problem, Reason(context, "the profile cannot be used for a conversion"));
    return t;
}

// The transform made in context, kept with it; the context's messages no longer go anywhere,
// as no caller waits for them.
void Keep(KeptTransform& into, Context& context, Transform transform) {
    into.transform = transform.release();
    into.context = context.release();
    cmsSetLogErrorHandlerTHR(static_cast<cmsContext>(into.context), nullptr);
}

// Every combination of these levels per channel goes through the transform.
constexpr std::array<uint8_t, 9> kGridLevels = {0, 32, 64, 96, 128, 160, 192, 224, 255};

// The header's colour space field, read from the bytes: LittleCMS hands it back as an enum
// that a damaged profile can fill with any value, which C++ does not allow.
uint32_t ColourSpace(std::span<const uint8_t> bytes) {
    if (bytes.size() < 20) return 0;
    return uint32_t(bytes[16]) << 24 | uint32_t(bytes[17]) << 16 | uint32_t(bytes[18]) << 8 | bytes[19];
}

bool ActsAsIdentity(cmsHTRANSFORM transform) {
    std::array<uint8_t, kGridLevels.size() * kGridLevels.size() * kGridLevels.size() * 3> in{}, out{};
    size_t i = 0;
    for (uint8_t r : kGridLevels)
        for (uint8_t g : kGridLevels)
            for (uint8_t b : kGridLevels) {
                in[i++] = r;
                in[i++] = g;
                in[i++] = b;
            }
    cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(in.size() / 3));
    for (size_t k = 0; k < in.size(); ++k)
        if (std::abs(int(in[k]) - int(out[k])) > 1) return false;
    return true;
}

}  // namespace

bool IsSRGBProfile(std::span<const uint8_t> bytes) {
    Context context;
    if (!context.get()) return false;
    Profile profile = OpenProfile(context, bytes, nullptr);
    if (!profile || ColourSpace(bytes) != cmsSigRgbData) return false;
    Transform t = MakeTransform(context, profile, TYPE_RGB_8, TYPE_RGB_8, 0, nullptr);
    return t && ActsAsIdentity(t.get());
}

KeptTransform::~KeptTransform() {
    if (transform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
    if (context) cmsDeleteContext(static_cast<cmsContext>(context));
}

std::unique_ptr<RowsToSRGB> RowsToSRGB::Create(std::span<const uint8_t> bytes, TPixelFormat format,
                                               ProfileOutcome* outcome, std::string* problem) {
    *outcome = ProfileOutcome::Unusable;
    if (bytes.empty()) {
        *outcome = ProfileOutcome::NoProfile;
        return nullptr;
    }
    if (format != TPixelFormat::pf24bit && format != TPixelFormat::pf32bit) {
        SetProblem(problem, "the picture is not in 24 or 32 bits");
        return nullptr;
    }
    Context context;
    if (!context.get()) {
        SetProblem(problem, "LittleCMS could not start");
        return nullptr;
    }
    Profile profile = OpenProfile(context, bytes, problem);
    if (!profile) return nullptr;
    const uint32_t space = ColourSpace(bytes);
    const bool alpha = format == TPixelFormat::pf32bit;
    std::unique_ptr<RowsToSRGB> rows(new RowsToSRGB());
    rows->step_ = alpha ? 4 : 3;

    if (space == cmsSigGrayData) {
        // One curve for every channel: each level's converted gray, per channel.
        Transform t = MakeTransform(context, profile, TYPE_GRAY_8, TYPE_BGR_8, 0, problem);
        if (!t) return nullptr;
        std::array<uint8_t, 256> levels{};
        rows->grayLevels_ = std::make_unique<uint8_t[]>(256 * 3);
        uint8_t* converted = rows->grayLevels_.get();
        for (int v = 0; v < 256; ++v) levels[size_t(v)] = uint8_t(v);
        cmsDoTransform(t.get(), levels.data(), converted, 256);
        bool identity = true;
        for (int v = 0; v < 256 && identity; ++v)
            for (int c = 0; c < 3; ++c) identity = identity && converted[size_t(v) * 3 + size_t(c)] == v;
        *outcome = identity ? ProfileOutcome::AlreadySRGB : ProfileOutcome::Converted;
        return identity ? nullptr : std::move(rows);
    }
    if (space != cmsSigRgbData) {
        SetProblem(problem, "the profile is not for RGB or gray pixels");
        return nullptr;
    }
    Transform check = MakeTransform(context, profile, TYPE_RGB_8, TYPE_RGB_8, 0, problem);
    if (!check) return nullptr;
    if (ActsAsIdentity(check.get())) {
        *outcome = ProfileOutcome::AlreadySRGB;
        return nullptr;
    }
    rows->matrixShaper_ = MatrixShaperToSRGB::Create(profile.get(), check.get());
    if (!rows->matrixShaper_) {
        Transform t = MakeTransform(context, profile, alpha ? TYPE_BGRA_8 : TYPE_BGR_8,
                                    alpha ? TYPE_BGRA_8 : TYPE_BGR_8, alpha ? cmsFLAGS_COPY_ALPHA : 0, problem);
        if (!t) return nullptr;
        check.reset();
        profile.reset();
        Keep(rows->lcms_, context, std::move(t));
    }
    *outcome = ProfileOutcome::Converted;
    return rows;
}

RowsToSRGB::~RowsToSRGB() = default;

void RowsToSRGB::Row(uint8_t* pixels, int width) const {
    if (width <= 0) return;
    if (grayLevels_) {
        const uint8_t* converted = grayLevels_.get();
        uint8_t* p = pixels;
        for (int x = 0; x < width; ++x, p += step_)
            for (int c = 0; c < 3; ++c) p[c] = converted[size_t(p[c]) * 3 + size_t(c)];
    } else if (matrixShaper_) {
        matrixShaper_->Convert(pixels, width, step_);
    } else {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(lcms_.transform), pixels, pixels,
                       static_cast<cmsUInt32Number>(width));
    }
}

ProfileOutcome ConvertToSRGB(TBitmap& bitmap, std::span<const uint8_t> bytes, std::string* problem, int threads) {
    ProfileOutcome outcome = ProfileOutcome::NoProfile;
    const std::unique_ptr<RowsToSRGB> rows = RowsToSRGB::Create(bytes, bitmap.PixelFormat(), &outcome, problem);
    if (!rows) return outcome;
    const int width = bitmap.Width(), height = bitmap.Height();
    const int n = imageops::ChooseThreadCount(threads, double(width) * height, kMinPixelsPerThread, height);
    imageops::ParallelFor(height, n, 1, [&](int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) rows->Row(bitmap.ScanLine(static_cast<int>(y)), width);
    });
    return ProfileOutcome::Converted;
}

std::unique_ptr<CmykToSRGB> CmykToSRGB::Create(std::span<const uint8_t> bytes, bool inverted, std::string* problem) {
    Context context;
    if (!context.get()) {
        SetProblem(problem, "LittleCMS could not start");
        return nullptr;
    }
    Profile profile = OpenProfile(context, bytes, problem);
    if (!profile) return nullptr;
    if (ColourSpace(bytes) != cmsSigCmykData) {
        SetProblem(problem, "the profile is not for CMYK pixels");
        return nullptr;
    }
    Transform t = MakeTransform(context, profile, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, TYPE_BGR_8, 0, problem);
    if (!t) return nullptr;
    std::unique_ptr<CmykToSRGB> result(new CmykToSRGB());
    profile.reset();
    Keep(result->lcms_, context, std::move(t));
    return result;
}

CmykToSRGB::~CmykToSRGB() = default;

void CmykToSRGB::Row(const uint8_t* cmyk, uint8_t* bgr, int width) const {
    if (width > 0)
        cmsDoTransform(static_cast<cmsHTRANSFORM>(lcms_.transform), cmyk, bgr, static_cast<cmsUInt32Number>(width));
}
