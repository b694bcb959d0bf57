#include "icc/matrix_shaper.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include <emmintrin.h>

namespace {


struct CurveDeleter {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};

using Matrix = std::array<double, 9>;

// The colourants as the columns of a matrix: linear red, green, blue to the PCS's XYZ.
bool Colourants(cmsHPROFILE profile, Matrix& m) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        if (!xyz || !std::isfinite(xyz->X) || !std::isfinite(xyz->Y) || !std::isfinite(xyz->Z)) return false;
        m[size_t(c)] = xyz->X;
        m[size_t(3 + c)] = xyz->Y;
        m[size_t(6 + c)] = xyz->Z;
    }
    return true;
}

bool Invert(const Matrix& m, Matrix& inverse) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (!std::isfinite(det) || std::abs(det) < 1e-9) return false;
    inverse = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
               (m[5] * m[6] - m[3] * m[8]) / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
               (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det};
    return true;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[size_t(i * 3 + j)] += a[size_t(i * 3 + k)] * b[size_t(k * 3 + j)];
    return m;
}

// Tags whose presence makes LittleCMS take a table instead of the matrix and curves.
bool HasTables(cmsHPROFILE profile) {
    const cmsTagSignature tables[] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag,
                                      cmsSigDToB0Tag, cmsSigDToB1Tag, cmsSigDToB2Tag};
    return std::any_of(std::begin(tables), std::end(tables), [&](cmsTagSignature t) { return cmsIsTag(profile, t); });
}

// Levels that show each part going wrong: near black (the curves' steep start), the
// saturated corners (clamping), the mid tones.
constexpr uint8_t kCheckLevels[] = {0, 1, 3, 8, 24, 64, 128, 192, 250, 255};

// What every conversion shares: the sRGB profile's matrix, inverted, and its curve, inverted,
// as levels of linear light. Made once, on first use (by any thread).
struct SRGBSide {
    bool ready = false;
    Matrix fromXYZ{};
    std::vector<uint8_t> encode;
};

const SRGBSide& TheSRGBSide(int linearBits) {
    static const SRGBSide side = [linearBits] {
        SRGBSide made;
        cmsContext context = cmsCreateContext(nullptr, nullptr);
        if (!context) return made;
        cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
        Matrix toXYZ{};
        const auto* curve = srgb ? static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag)) : nullptr;
        std::unique_ptr<cmsToneCurve, CurveDeleter> encode(curve ? cmsReverseToneCurve(curve) : nullptr);
        if (encode && Colourants(srgb, toXYZ) && Invert(toXYZ, made.fromXYZ)) {
            const int top = 1 << linearBits;
            made.encode.resize(size_t(top) + 1);
            for (int i = 0; i <= top; ++i) {
                const float level = cmsEvalToneCurveFloat(encode.get(), float(i) / float(top));
                made.encode[size_t(i)] = uint8_t(std::lround(std::clamp(double(level), 0.0, 1.0) * 255));
            }
            made.ready = true;
        }
        encode.reset();
        if (srgb) cmsCloseProfile(srgb);
        cmsDeleteContext(context);
        return made;
    }();
    return side;
}

}  // namespace

std::unique_ptr<MatrixShaperToSRGB> MatrixShaperToSRGB::Create(cmsHPROFILE profile, cmsHTRANSFORM reference) {
    if (!profile || !reference || cmsGetColorSpace(profile) != cmsSigRgbData || cmsGetPCS(profile) != cmsSigXYZData ||
        !cmsIsMatrixShaper(profile) || HasTables(profile))
        return nullptr;
    const SRGBSide& srgb = TheSRGBSide(kLinearBits);
    Matrix source{};
    if (!srgb.ready || !Colourants(profile, source)) return nullptr;
    const Matrix m = Multiply(srgb.fromXYZ, source);

    // Every sum must fit 32 bits: full light times the largest row of coefficients.
    for (int row = 0; row < 3; ++row) {
        double magnitude = 0;
        for (int c = 0; c < 3; ++c) magnitude += std::abs(m[size_t(row * 3 + c)]);
        if (!std::isfinite(magnitude) || magnitude * (1 << kSumBits) > double(INT32_MAX) - 2 * kRounding) return nullptr;
    }

    std::unique_ptr<MatrixShaperToSRGB> result(new MatrixShaperToSRGB());
    // Stored order is blue, green, red; the matrix's is red, green, blue.
    const cmsTagSignature curves[3] = {cmsSigBlueTRCTag, cmsSigGreenTRCTag, cmsSigRedTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, curves[c]));
        if (!curve) return nullptr;
        const int column = 2 - c;
        for (int v = 0; v < 256; ++v) {
            const double lin = std::clamp(double(cmsEvalToneCurveFloat(curve, float(v) / 255.0f)), 0.0, 1.0);
            Lanes& lanes = result->add_[size_t(c)][size_t(v)];
            for (int out = 0; out < 3; ++out) {
                const int row = 2 - out;
                const double add = std::isfinite(lin) ? lin * m[size_t(row * 3 + column)] * (1 << kSumBits) : 0;
                // Blue's lanes carry the rounding of the sum, which saves an addition per pixel.
                lanes.v[out] = int32_t(std::lround(add)) + (c == 0 ? kRounding : 0);
            }
        }
    }

    result->encode_ = srgb.encode.data();

    // LittleCMS has the last word: where it would convert otherwise (black point
    // compensation, a curve this reading misses), it converts.
    constexpr size_t n = std::size(kCheckLevels);
    std::vector<uint8_t> in, ours, theirs(n * n * n * 3);
    for (uint8_t r : kCheckLevels)
        for (uint8_t g : kCheckLevels)
            for (uint8_t b : kCheckLevels) in.insert(in.end(), {b, g, r});
    ours = in;
    result->Convert(ours.data(), int(n * n * n), 3);
    // The reference takes red first: the same bytes reversed per pixel.
    for (size_t i = 0; i < in.size(); i += 3) std::swap(in[i], in[i + 2]);
    cmsDoTransform(reference, in.data(), theirs.data(), cmsUInt32Number(n * n * n));
    for (size_t i = 0; i < theirs.size(); i += 3) std::swap(theirs[i], theirs[i + 2]);
    for (size_t i = 0; i < in.size(); ++i)
        if (std::abs(int(ours[i]) - int(theirs[i])) > 1) return nullptr;
    return result;
}

void MatrixShaperToSRGB::Convert(uint8_t* p, int width, int step) const {
    const Lanes* blue = add_[0].data();
    const Lanes* green = add_[1].data();
    const Lanes* red = add_[2].data();
    const uint8_t* encode = encode_;
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi16(1 << kLinearBits);
    for (int x = 0; x < width; ++x, p += step) {
        __m128i sum = _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(blue[p[0]].v)),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(green[p[1]].v)));
        sum = _mm_add_epi32(sum, _mm_load_si128(reinterpret_cast<const __m128i*>(red[p[2]].v)));
        // Out of gamut clamps per channel, to black and to full.
        sum = _mm_srai_epi32(sum, kSumBits - kLinearBits);
        sum = _mm_packs_epi32(sum, sum);
        sum = _mm_min_epi16(_mm_max_epi16(sum, zero), top);
        p[0] = encode[_mm_extract_epi16(sum, 0)];
        p[1] = encode[_mm_extract_epi16(sum, 1)];
        p[2] = encode[_mm_extract_epi16(sum, 2)];
    }
}
