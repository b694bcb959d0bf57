#include "readers/color_manager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "graphics/errors.h"
#include "readers/graphic_strings.h"

namespace {

bool IsIndexedOrGraySource(ColorScheme scheme) {
    return scheme == ColorScheme::Indexed || scheme == ColorScheme::Gray || scheme == ColorScheme::GrayAlpha;
}

bool IsIndexedOrGrayTarget(ColorScheme scheme) {
    return scheme == ColorScheme::Indexed || scheme == ColorScheme::Gray;
}

bool HasAlpha(ColorScheme scheme) {
    return scheme == ColorScheme::GrayAlpha || scheme == ColorScheme::RGBA || scheme == ColorScheme::BGRA;
}

bool IsRGBOrder(ColorScheme scheme) { return scheme == ColorScheme::RGB || scheme == ColorScheme::RGBA; }
bool IsBGROrder(ColorScheme scheme) { return scheme == ColorScheme::BGR || scheme == ColorScheme::BGRA; }
bool IsEightOrSixteen(unsigned bits) { return bits == 8 || bits == 16; }

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

size_t CheckedMul(size_t a, size_t b) {
    size_t result;
    if (__builtin_mul_overflow(a, b, &result)) throw ERangeError();
    return result;
}

// Bytes holding count fields of the given width, packed without gaps.
size_t PackedBytes(size_t count, unsigned bits) { return CheckedMul(count, bits) / 8 + ((count * bits) % 8 != 0); }

// Target pixel i is selected when its bit (bit 7 first, rotating right) is set in mask.
bool Selected(uint8_t mask, size_t i) { return (mask >> (7 - (i & 7))) & 1; }

size_t SelectedCount(size_t count, uint8_t mask) {
    size_t n = (count / 8) * static_cast<size_t>(std::popcount(mask));
    for (size_t i = count - count % 8; i < count; ++i) n += Selected(mask, i);
    return n;
}

// MSB-first bit fields of any width 1..16, also where a field straddles two bytes.
uint32_t ReadField(const uint8_t* data, size_t bitPos, unsigned bits) {
    if (8 % bits == 0) {
        const unsigned shift = 8 - bits - static_cast<unsigned>(bitPos & 7);
        return (data[bitPos >> 3] >> shift) & ((1u << bits) - 1);
    }
    uint32_t value = 0;
    for (unsigned k = 0; k < bits; ++k, ++bitPos) value = (value << 1) | ((data[bitPos >> 3] >> (7 - (bitPos & 7))) & 1);
    return value;
}

void WriteField(uint8_t* data, size_t bitPos, unsigned bits, uint32_t value) {
    if (8 % bits == 0) {
        const unsigned shift = 8 - bits - static_cast<unsigned>(bitPos & 7);
        const uint8_t fieldMask = static_cast<uint8_t>(((1u << bits) - 1) << shift);
        uint8_t& byte = data[bitPos >> 3];
        byte = static_cast<uint8_t>((byte & ~fieldMask) | ((value << shift) & fieldMask));
        return;
    }
    for (int k = static_cast<int>(bits) - 1; k >= 0; --k, ++bitPos) {
        const uint8_t bit = static_cast<uint8_t>(1u << (7 - (bitPos & 7)));
        uint8_t& byte = data[bitPos >> 3];
        byte = ((value >> k) & 1) ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
    }
}

uint32_t MaxValue(unsigned bits) { return (1u << bits) - 1; }

uint8_t Clamp8(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// Round half to even; non-finite and huge values are pinned so a hostile coefficient
// cannot make the conversion to an integer undefined.
int32_t RoundToInt(double x) {
    if (std::isnan(x)) return 0;
    const double r = std::nearbyint(x);
    constexpr double limit = 1 << 30;
    return static_cast<int32_t>(std::clamp(r, -limit, limit));
}

uint8_t RoundTo8(double x) {
    if (std::isnan(x)) return 0;
    return static_cast<uint8_t>(std::clamp(std::nearbyint(x), 0.0, 255.0));
}

// Reads the samples of the selected source pixels, interleaved or one plane per sample.
class SampleCursor {
public:
    SampleCursor(const std::array<std::span<const uint8_t>, 4>& planes, bool planar, size_t samplesPerPixel,
                 bool sixteen, bool swap)
        : planar_(planar), step_(samplesPerPixel), bytes_(sixteen ? 2 : 1), swap_(swap) {
        for (size_t k = 0; k < 4; ++k) planes_[k] = planes[k].data();
    }

    // Sample k of the current pixel: 8-bit, or 16-bit in host order after the optional swap.
    uint32_t Raw(size_t k) const {
        const uint8_t* p = Address(k);
        if (bytes_ == 1) return *p;
        const uint16_t v = Load16(p);
        return swap_ ? Swap16(v) : v;
    }
    const uint8_t* Address(size_t k) const {
        return planar_ ? planes_[k] + pixel_ * bytes_ : planes_[0] + (pixel_ * step_ + k) * bytes_;
    }
    void Next() { ++pixel_; }

private:
    const uint8_t* planes_[4] = {};
    bool planar_;
    size_t step_;
    size_t bytes_;
    bool swap_;
    size_t pixel_ = 0;
};

template <class F>
void ForEachSelected(size_t count, uint8_t mask, F&& f) {
    uint8_t bit = 0x80;
    for (size_t i = 0; i < count; ++i) {
        if (mask & bit) f(i);
        bit = bit == 1 ? 0x80 : static_cast<uint8_t>(bit >> 1);
    }
}

}  // namespace

TColorManager::TColorManager() { SetGammaValues(1.0f, 2.2f); }

void TColorManager::SetSourceBitsPerSample(int bits) {
    if (bits <= 0 || bits > 16) throw EColorConversionError(gesInvalidColorDepth);
    if (bits != sourceBitsPerSample_) {
        sourceBitsPerSample_ = static_cast<uint8_t>(bits);
        changed_ = true;
    }
}

void TColorManager::SetTargetBitsPerSample(int bits) {
    if (bits <= 0 || bits > 16) throw EColorConversionError(gesInvalidColorDepth);
    if (bits != targetBitsPerSample_) {
        targetBitsPerSample_ = static_cast<uint8_t>(bits);
        changed_ = true;
    }
}

void TColorManager::SetSourceSamplesPerPixel(int samples) {
    if (samples <= 0 || samples > 4) throw EColorConversionError(gesInvalidSampleCount);
    if (samples != sourceSamplesPerPixel_) {
        sourceSamplesPerPixel_ = static_cast<uint8_t>(samples);
        changed_ = true;
    }
}

void TColorManager::SetTargetSamplesPerPixel(int samples) {
    if (samples <= 0 || samples > 4) throw EColorConversionError(gesInvalidSampleCount);
    if (samples != targetSamplesPerPixel_) {
        targetSamplesPerPixel_ = static_cast<uint8_t>(samples);
        changed_ = true;
    }
}

void TColorManager::SetSourceScheme(ColorScheme scheme) {
    if (scheme != sourceScheme_) {
        sourceScheme_ = scheme;
        changed_ = true;
    }
}

void TColorManager::SetTargetScheme(ColorScheme scheme) {
    if (scheme != targetScheme_) {
        targetScheme_ = scheme;
        changed_ = true;
    }
}

void TColorManager::ChooseRowConverter() {
    RowConverter = nullptr;
    rowKind_ = RowKind::None;
    if (IsIndexedOrGraySource(sourceScheme_) != IsIndexedOrGrayTarget(targetScheme_))
        throw EColorConversionError(gesIndexedNotSupported);

    SourceOptions = HasAlpha(sourceScheme_) ? (SourceOptions | ColorOption::Alpha)
                                            : (SourceOptions & ~ColorOption::Alpha);
    TargetOptions = HasAlpha(targetScheme_) ? (TargetOptions | ColorOption::Alpha)
                                            : (TargetOptions & ~ColorOption::Alpha);

    const unsigned s = sourceBitsPerSample_;
    const unsigned t = targetBitsPerSample_;
    const bool toRGB = IsRGBOrder(targetScheme_);
    const bool toBGR = IsBGROrder(targetScheme_);
    auto pick = [&](TRowConverter routine, RowKind kind) {
        RowConverter = routine;
        rowKind_ = kind;
    };

    switch (sourceScheme_) {
        case ColorScheme::Indexed:
            if (s == 16 && t == 16) pick(&TColorManager::ConvertIndexed16To16, RowKind::Indexed16To16);
            else if (s == 16) pick(&TColorManager::ConvertIndexed16ToPacked, RowKind::Indexed16ToPacked);
            else if (t == 16) pick(&TColorManager::ConvertPackedToIndexed16, RowKind::PackedToIndexed16);
            else pick(&TColorManager::ConvertIndexed, RowKind::Packed);
            break;
        case ColorScheme::Gray:
            if (s != 16 && t != 16) pick(&TColorManager::ConvertIndexed, RowKind::Packed);
            else if (s >= 8 && t >= 8) pick(&TColorManager::ConvertGray, RowKind::Gray);
            break;
        case ColorScheme::GrayAlpha:
            if (IsEightOrSixteen(s) && IsEightOrSixteen(t)) pick(&TColorManager::ConvertGray, RowKind::Gray);
            break;
        case ColorScheme::RGB:
        case ColorScheme::RGBA:
            if (toRGB) pick(&TColorManager::ConvertRGBToRGB, RowKind::RGBFamily);
            else if (toBGR) pick(&TColorManager::ConvertRGBToBGR, RowKind::RGBFamily);
            break;
        case ColorScheme::BGR:
        case ColorScheme::BGRA:
            if (toRGB) pick(&TColorManager::ConvertBGRToRGB, RowKind::RGBFamily);
            else if (toBGR) pick(&TColorManager::ConvertBGRToBGR, RowKind::RGBFamily);
            break;
        case ColorScheme::CMYK:
            if (toRGB) pick(&TColorManager::ConvertCMYKToRGB, RowKind::CMYK);
            else if (toBGR) pick(&TColorManager::ConvertCMYKToBGR, RowKind::CMYK);
            break;
        case ColorScheme::CIELab:
            if (toRGB) pick(&TColorManager::ConvertLabToRGB, RowKind::ThreeSample);
            else if (toBGR) pick(&TColorManager::ConvertLabToBGR, RowKind::ThreeSample);
            break;
        case ColorScheme::YCbCr:
            if (toRGB || toBGR) {
                BuildChromaTables();
                if (toRGB) pick(&TColorManager::ConvertYCbCrToRGB, RowKind::ThreeSample);
                else pick(&TColorManager::ConvertYCbCrToBGR, RowKind::ThreeSample);
            }
            break;
        case ColorScheme::PhotoYCC:
            if (toRGB || toBGR) {
                BuildChromaTables();
                if (toRGB) pick(&TColorManager::ConvertPhotoYCCToRGB, RowKind::ThreeSample);
                else pick(&TColorManager::ConvertPhotoYCCToBGR, RowKind::ThreeSample);
            }
            break;
        default:
            break;  // CMY, Unknown and anything else: no routine
    }
    changed_ = false;
}

TColorManager::TRowNeeds TColorManager::NeedsFor(size_t count, uint8_t mask, size_t planeCount) const {
    const unsigned s = sourceBitsPerSample_;
    const unsigned t = targetBitsPerSample_;
    const size_t selected = SelectedCount(count, mask);
    const bool sourceAlpha = SourceOptions & ColorOption::Alpha;
    const bool targetAlpha = TargetOptions & ColorOption::Alpha;
    const size_t sourceBytes = s == 16 ? 2 : 1;
    const size_t colourTargetStep = targetAlpha ? 4 : 3;
    TRowNeeds needs;
    switch (rowKind_) {
        case RowKind::None:
            needs.planesRead = 0;
            break;
        case RowKind::Packed:
            if (s == t && mask == 0xFF) {
                needs.bytesPerPlane = needs.targetBytes = PackedBytes(count, s);
            } else {
                needs.bytesPerPlane = PackedBytes(selected, s);
                needs.targetBytes = PackedBytes(count, t);
            }
            break;
        case RowKind::Indexed16To16:
            needs.bytesPerPlane = CheckedMul(selected, 2);
            needs.targetBytes = CheckedMul(count, 2);
            break;
        case RowKind::Indexed16ToPacked:
            needs.bytesPerPlane = CheckedMul(selected, 2);
            needs.targetBytes = PackedBytes(count, t);
            break;
        case RowKind::PackedToIndexed16:
            needs.bytesPerPlane = PackedBytes(selected, s);
            needs.targetBytes = CheckedMul(count, 2);
            break;
        case RowKind::Gray:
            needs.bytesPerPlane = CheckedMul(CheckedMul(selected, s > 8 ? 2 : 1), sourceAlpha ? 2 : 1);
            needs.targetBytes = CheckedMul(count, t > 8 ? 2 : 1);
            break;
        case RowKind::RGBFamily:
            if (!IsEightOrSixteen(s) || !IsEightOrSixteen(t)) {
                needs.planesRead = 0;
                break;
            }
            if (planeCount > 1) {
                needs.planesRead = sourceAlpha && targetAlpha ? 4 : 3;
                needs.bytesPerPlane = CheckedMul(selected, sourceBytes);
            } else {
                needs.bytesPerPlane = CheckedMul(CheckedMul(selected, sourceAlpha ? 4 : 3), sourceBytes);
            }
            needs.targetBytes = CheckedMul(CheckedMul(count, colourTargetStep), t == 16 ? 2 : 1);
            break;
        case RowKind::CMYK:
            if (!IsEightOrSixteen(s)) {
                needs.planesRead = 0;
                break;
            }
            if (planeCount == 4) {
                needs.planesRead = 4;
                needs.bytesPerPlane = CheckedMul(selected, sourceBytes);
            } else {
                needs.bytesPerPlane = CheckedMul(CheckedMul(selected, 4), sourceBytes);
            }
            needs.targetBytes = CheckedMul(count, colourTargetStep);
            break;
        case RowKind::ThreeSample:
            if (!IsEightOrSixteen(s)) {
                needs.planesRead = 0;
                break;
            }
            if (planeCount > 1) {
                needs.planesRead = 3;
                needs.bytesPerPlane = CheckedMul(selected, sourceBytes);
            } else {
                needs.bytesPerPlane = CheckedMul(CheckedMul(selected, 3), sourceBytes);
            }
            needs.targetBytes = CheckedMul(count, colourTargetStep);
            break;
    }
    return needs;
}

size_t TColorManager::RequiredSourceBytes(size_t count, uint8_t mask, size_t planeCount) {
    if (changed_) ChooseRowConverter();
    const TRowNeeds needs = NeedsFor(count, mask, planeCount);
    return needs.planesRead ? needs.bytesPerPlane : 0;
}

size_t TColorManager::RequiredTargetBytes(size_t count) {
    if (changed_) ChooseRowConverter();
    return NeedsFor(count, 0xFF, 1).targetBytes;
}

void TColorManager::ConvertScanline(TSourceRows sources, std::span<uint8_t> target, size_t count, uint8_t mask) {
    if (changed_) ChooseRowConverter();
    if (!RowConverter) throw EColorConversionError(gesConversionUnsupported);
    if (sources.empty() || sources.size() > 4) throw ERangeError();

    // Everything the routine will touch is checked here, so the routines themselves can
    // walk their rows without per-sample checks.
    const TRowNeeds needs = NeedsFor(count, mask, sources.size());
    if (needs.planesRead > sources.size() || target.size() < needs.targetBytes) throw ERangeError();
    for (size_t p = 0; p < needs.planesRead; ++p)
        if (sources[p].size() < needs.bytesPerPlane) throw ERangeError();

    TRowJob job{{}, sources.size(), target, count, mask};
    for (size_t p = 0; p < sources.size(); ++p) job.planes[p] = sources[p];
    (this->*RowConverter)(job);
}

uint8_t TColorManager::Component(uint32_t raw, bool sixteen) const {
    const uint32_t v = sixteen ? raw * 255 / 65535 : raw;
    return (TargetOptions & ColorOption::ApplyGamma) ? gammaTable_[v & 0xFF] : static_cast<uint8_t>(v);
}

// ---- indexed and gray ------------------------------------------------------------------

void TColorManager::ConvertIndexed(const TRowJob& job) {
    const unsigned s = sourceBitsPerSample_;
    const unsigned t = targetBitsPerSample_;
    const uint8_t* source = job.planes[0].data();
    uint8_t* target = job.target.data();
    if (s == t && job.mask == 0xFF) {
        // An empty row may come with null data, which memcpy must not see.
        if (const size_t n = PackedBytes(job.count, s)) std::memcpy(target, source, n);
        return;
    }
    const uint32_t sourceMax = MaxValue(s);
    const uint32_t targetMax = MaxValue(t);
    size_t sourceBit = 0;
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const uint32_t v = ReadField(source, sourceBit, s);
        sourceBit += s;
        WriteField(target, i * t, t, v * targetMax / sourceMax);
    });
}

void TColorManager::ConvertIndexed16To16(const TRowJob& job) {
    const bool swap = SourceOptions & ColorOption::ByteSwap;
    const uint8_t* source = job.planes[0].data();
    uint8_t* target = job.target.data();
    if (job.mask == 0xFF && !swap) {
        if (job.count) std::memcpy(target, source, job.count * 2);
        return;
    }
    size_t n = 0;
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const uint16_t v = Load16(source + 2 * n++);
        Store16(target + 2 * i, swap ? Swap16(v) : v);
    });
}

void TColorManager::ConvertIndexed16ToPacked(const TRowJob& job) {
    const bool swap = SourceOptions & ColorOption::ByteSwap;
    const unsigned t = targetBitsPerSample_;
    const uint32_t targetMax = MaxValue(t);
    const uint8_t* source = job.planes[0].data();
    size_t n = 0;
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        uint16_t v = Load16(source + 2 * n++);
        if (swap) v = Swap16(v);
        WriteField(job.target.data(), i * t, t, uint32_t(v) * targetMax / 65535);
    });
}

void TColorManager::ConvertPackedToIndexed16(const TRowJob& job) {
    const bool swap = SourceOptions & ColorOption::ByteSwap;
    const unsigned s = sourceBitsPerSample_;
    const uint32_t sourceMax = MaxValue(s);
    size_t sourceBit = 0;
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const uint32_t v = ReadField(job.planes[0].data(), sourceBit, s);
        sourceBit += s;
        const uint16_t w = static_cast<uint16_t>(v * 65535 / sourceMax);
        Store16(job.target.data() + 2 * i, swap ? Swap16(w) : w);
    });
}

void TColorManager::ConvertGray(const TRowJob& job) {
    // Depths between 9 and 15 bits are held in 16-bit containers, like 16-bit samples.
    const bool sixteenIn = sourceBitsPerSample_ > 8;
    const bool sixteenOut = targetBitsPerSample_ > 8;
    const bool swap = SourceOptions & ColorOption::ByteSwap;
    const size_t sourceStep = (SourceOptions & ColorOption::Alpha) ? 2 : 1;
    const uint8_t* source = job.planes[0].data();
    uint8_t* target = job.target.data();
    size_t n = 0;
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const size_t at = n++ * sourceStep;
        if (!sixteenIn) {
            const uint8_t v = source[at];
            if (sixteenOut) Store16(target + 2 * i, static_cast<uint16_t>(v * 65535 / 255));
            else target[i] = v;
        } else {
            uint16_t w = Load16(source + 2 * at);
            if (swap) w = Swap16(w);
            if (sixteenOut) Store16(target + 2 * i, w);
            else target[i] = static_cast<uint8_t>(uint32_t(w) * 255 / 65535);
        }
    });
}

// ---- RGB and BGR family -----------------------------------------------------------------

void TColorManager::ConvertRGBToRGB(const TRowJob& job) { ConvertRGBFamily(job, false); }
void TColorManager::ConvertRGBToBGR(const TRowJob& job) { ConvertRGBFamily(job, true); }
void TColorManager::ConvertBGRToRGB(const TRowJob& job) { ConvertRGBFamily(job, true); }
void TColorManager::ConvertBGRToBGR(const TRowJob& job) { ConvertRGBFamily(job, false); }

void TColorManager::ConvertRGBFamily(const TRowJob& job, bool exchange) {
    const unsigned s = sourceBitsPerSample_;
    const unsigned t = targetBitsPerSample_;
    if (!IsEightOrSixteen(s) || !IsEightOrSixteen(t)) return;
    const bool sixteenIn = s == 16;
    const bool sixteenOut = t == 16;
    const bool swap = SourceOptions & ColorOption::ByteSwap;
    const bool sourceAlpha = SourceOptions & ColorOption::Alpha;
    const bool targetAlpha = TargetOptions & ColorOption::Alpha;
    const size_t targetBytes = sixteenOut ? 2 : 1;
    const size_t targetStep = (targetAlpha ? 4 : 3) * targetBytes;
    SampleCursor cursor(job.planes, job.planeCount > 1, sourceAlpha ? 4 : 3, sixteenIn, swap);

    auto put = [&](uint8_t* pixel, size_t slot, uint8_t value) {
        if (!sixteenOut) {
            pixel[slot] = value;
        } else {
            const uint16_t w = static_cast<uint16_t>(value * 65535 / 255);
            Store16(pixel + 2 * slot, swap ? Swap16(w) : w);
        }
    };

    ForEachSelected(job.count, job.mask, [&](size_t i) {
        uint8_t* pixel = job.target.data() + i * targetStep;
        const uint8_t a = Component(cursor.Raw(0), sixteenIn);
        const uint8_t b = Component(cursor.Raw(1), sixteenIn);
        const uint8_t c = Component(cursor.Raw(2), sixteenIn);
        put(pixel, exchange ? 2 : 0, a);
        put(pixel, 1, b);
        put(pixel, exchange ? 0 : 2, c);
        if (sourceAlpha && targetAlpha) {
            // Alpha is never gamma corrected. A 16-bit alpha keeps its stored bytes in a
            // 16-bit target and is reduced like the colours for an 8-bit one.
            if (sixteenOut && sixteenIn) std::memcpy(pixel + 6, cursor.Address(3), 2);
            else if (sixteenOut) put(pixel, 3, static_cast<uint8_t>(cursor.Raw(3)));
            else pixel[3] = static_cast<uint8_t>(sixteenIn ? cursor.Raw(3) * 255 / 65535 : cursor.Raw(3));
        }
        cursor.Next();
    });
}

// ---- CMYK -------------------------------------------------------------------------------

void TColorManager::ConvertCMYKToRGB(const TRowJob& job) { ConvertCMYK(job, false); }
void TColorManager::ConvertCMYKToBGR(const TRowJob& job) { ConvertCMYK(job, true); }

void TColorManager::ConvertCMYK(const TRowJob& job, bool bgr) {
    const unsigned s = sourceBitsPerSample_;
    if (!IsEightOrSixteen(s)) return;
    const bool sixteen = s == 16;
    const size_t targetStep = (TargetOptions & ColorOption::Alpha) ? 4 : 3;
    SampleCursor cursor(job.planes, job.planeCount == 4, 4, sixteen, SourceOptions & ColorOption::ByteSwap);
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const int64_t k = cursor.Raw(3);
        uint8_t rgb[3];
        for (size_t c = 0; c < 3; ++c) {
            const int64_t x = cursor.Raw(c);
            if (!sixteen) rgb[c] = Clamp8(255 - (x - x * k / 255 + k));
            else rgb[c] = Clamp8(255 - (x - x * k / 65535 + k) * 255 / 65535);
        }
        uint8_t* pixel = job.target.data() + i * targetStep;
        pixel[bgr ? 0 : 2] = rgb[2];
        pixel[1] = rgb[1];
        pixel[bgr ? 2 : 0] = rgb[0];
        cursor.Next();
    });
}

// ---- CIE L*a*b* -------------------------------------------------------------------------

void TColorManager::ConvertLabToRGB(const TRowJob& job) { ConvertLab(job, false); }
void TColorManager::ConvertLabToBGR(const TRowJob& job) { ConvertLab(job, true); }

void TColorManager::ConvertLab(const TRowJob& job, bool bgr) {
    const unsigned s = sourceBitsPerSample_;
    if (!IsEightOrSixteen(s)) return;
    const bool sixteen = s == 16;
    const bool scaled = SourceOptions & ColorOption::LabLightnessScaled;
    const bool offset = SourceOptions & ColorOption::LabChromaOffset;
    const size_t targetStep = (TargetOptions & ColorOption::Alpha) ? 4 : 3;
    SampleCursor cursor(job.planes, job.planeCount > 1, 3, sixteen, SourceOptions & ColorOption::ByteSwap);
    // 16-bit files store the same ranges as 8-bit ones at 256 times the resolution (L* up to
    // 65535, a* and b* around 32768). Taken as they are, every such picture would come out
    // white, so their high bytes are used (which keeps 32768 on the chroma zero of 128).
    auto sample = [&](size_t k) -> uint32_t {
        const uint32_t raw = cursor.Raw(k);
        return sixteen ? raw >> 8 : raw;
    };
    auto chroma = [&](uint32_t v) -> double {
        if (offset) return static_cast<double>(static_cast<int>(v) - 128);
        return static_cast<double>(static_cast<int8_t>(v));
    };
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        double l = sample(0);
        if (scaled) l /= 2.55;
        const double a = chroma(sample(1));
        const double b = chroma(sample(2));
        double x, y, z;
        if (l < 7.9996) {
            y = l / 903.3;
            x = y + a / 3893.5;
            z = y - b / 1557.4;
        } else {
            const double t = (l + 16) / 116;
            const double tx = t + a / 500;
            const double tz = t - b / 200;
            x = tx * tx * tx;
            y = t * t * t;
            z = tz * tz * tz;
        }
        const uint8_t blue = RoundTo8((0.099 * x - 0.198 * y + 1.099 * z) * 255);
        const uint8_t green = RoundTo8((-0.952 * x + 1.893 * y + 0.059 * z) * 255);
        const uint8_t red = RoundTo8((2.998 * x - 1.458 * y - 0.541 * z) * 255);
        uint8_t* pixel = job.target.data() + i * targetStep;
        pixel[bgr ? 0 : 2] = blue;
        pixel[1] = green;
        pixel[bgr ? 2 : 0] = red;
        cursor.Next();
    });
}

// ---- YCbCr and Photo-YCC ----------------------------------------------------------------

void TColorManager::BuildChromaTables() {
    const float kr = yCbCrCoefficients_[0];
    const float kg = yCbCrCoefficients_[1];
    const float kb = yCbCrCoefficients_[2];
    const float f1 = 2 - 2 * kr;
    const float f2 = 2 - 2 * kb;
    const float f3 = kr * f1 / kg;
    const float f4 = kb * f2 / kg;
    const bool photo = sourceScheme_ == ColorScheme::PhotoYCC;
    const int uZero = photo ? 137 : 128;
    const int vZero = photo ? 156 : 128;
    crToRed_.assign(256, 0);
    cbToBlue_.assign(256, 0);
    crToGreen_.assign(256, 0);
    cbToGreen_.assign(256, 0);
    for (int i = 0; i < 256; ++i) {
        const float u = static_cast<float>(i - uZero);
        const float v = static_cast<float>(i - vZero);
        crToRed_[i] = RoundToInt(f1 * u);
        cbToBlue_[i] = RoundToInt(f2 * v);
        crToGreen_[i] = -RoundToInt(f3 * u);
        cbToGreen_[i] = -RoundToInt(f4 * v);
    }
}

void TColorManager::ConvertYCbCrToRGB(const TRowJob& job) { ConvertYCbCr(job, false); }
void TColorManager::ConvertYCbCrToBGR(const TRowJob& job) { ConvertYCbCr(job, true); }
void TColorManager::ConvertPhotoYCCToRGB(const TRowJob& job) { ConvertYCbCr(job, false); }
void TColorManager::ConvertPhotoYCCToBGR(const TRowJob& job) { ConvertYCbCr(job, true); }

void TColorManager::ConvertYCbCr(const TRowJob& job, bool bgr) {
    const unsigned s = sourceBitsPerSample_;
    if (!IsEightOrSixteen(s)) return;
    if (crToRed_.size() != 256) BuildChromaTables();
    const bool sixteen = s == 16;
    const size_t targetStep = (TargetOptions & ColorOption::Alpha) ? 4 : 3;
    SampleCursor cursor(job.planes, job.planeCount > 1, 3, sixteen, SourceOptions & ColorOption::ByteSwap);
    auto eight = [&](size_t k) -> uint32_t {
        const uint32_t raw = cursor.Raw(k);
        return sixteen ? raw * 255 / 65535 : raw;
    };
    ForEachSelected(job.count, job.mask, [&](size_t i) {
        const int64_t y = eight(0);
        const uint32_t cb = eight(1);
        const uint32_t cr = eight(2);
        uint8_t* pixel = job.target.data() + i * targetStep;
        const uint8_t blue = Clamp8(y + cbToBlue_[cb]);
        const uint8_t green = Clamp8(y + int64_t(cbToGreen_[cb]) + crToGreen_[cr]);
        const uint8_t red = Clamp8(y + crToRed_[cr]);
        pixel[bgr ? 0 : 2] = blue;
        pixel[1] = green;
        pixel[bgr ? 2 : 0] = red;
        cursor.Next();
    });
}

// ---- gamma, luma/chroma, formats, palettes ----------------------------------------------

void TColorManager::SetGammaValues(float main, float display) {
    // Non-finite values are as unusable as non-positive ones.
    if (!(main > 0) || !std::isfinite(main)) main = 1.0f;
    if (!(display > 0) || !std::isfinite(display)) display = 2.2f;
    mainGamma_ = main;
    displayGamma_ = display;
    const float g = 1.0f / (main * display);
    // Every user of the table looks up 8-bit values and wants 8-bit results, so the table
    // always spans 0..255 in and out, whatever the sample depths.
    for (int i = 0; i < 256; ++i) {
        const float level = std::pow(static_cast<float>(i) / 255.0f, g);
        gammaTable_[i] = RoundTo8(static_cast<double>(level * 255.0f));
    }
}

void TColorManager::SetLumaChromaParameters(std::span<const float> coefficients, int horizontal, int vertical) {
    bool differs = false;
    for (size_t k = 0; k < coefficients.size() && k < 3; ++k) {
        if (coefficients[k] != yCbCrCoefficients_[k]) differs = true;
        yCbCrCoefficients_[k] = coefficients[k];
    }
    // The chroma tables come from the coefficients; rebuild them at the next row.
    if (differs) changed_ = true;
    auto valid = [](int v) { return v == 1 || v == 2 || v == 4; };
    if (!valid(horizontal) || !valid(vertical)) throw EColorConversionError(gesInvalidSubSampling);
    if (horizontal < vertical) throw EColorConversionError(gesVerticalSubSamplingError);
    horizontalSubsampling_ = static_cast<uint8_t>(horizontal);
    verticalSubsampling_ = static_cast<uint8_t>(vertical);
}

TPixelFormat TColorManager::BitmapFormatFor(TConversionSide which) const {
    const unsigned b = which == TConversionSide::Source ? sourceBitsPerSample_ : targetBitsPerSample_;
    const unsigned s = which == TConversionSide::Source ? sourceSamplesPerPixel_ : targetSamplesPerPixel_;
    if (s == 1) {
        if (b == 1) return TPixelFormat::pf1bit;
        if (b >= 2 && b <= 4) return TPixelFormat::pf4bit;
        if (b >= 8) return TPixelFormat::pf8bit;
    } else if (s == 3) {
        return b <= 5 ? TPixelFormat::pf15bit : TPixelFormat::pf24bit;
    } else if (s == 4 && b >= 8) {
        return TPixelFormat::pf32bit;
    }
    return TPixelFormat::pfCustom;
}

std::vector<TRGBQuad> TColorManager::BuildColorPalette(TSourceRows sources, PaletteLayout layout, size_t count,
                                                       bool bgrOrder) {
    const unsigned s = sourceBitsPerSample_;
    const unsigned t = targetBitsPerSample_;
    bool planar = false, sixteen = false;
    size_t stride = 3;
    switch (layout) {
        case PaletteLayout::Interleaved8Triples: break;
        case PaletteLayout::Interleaved8Quads: stride = 4; break;
        case PaletteLayout::Planar8:
        case PaletteLayout::Planar8Quad: planar = true; break;
        case PaletteLayout::Interleaved16Triples: sixteen = true; break;
        case PaletteLayout::Interleaved16Quads: sixteen = true; stride = 4; break;
        case PaletteLayout::Planar16:
        case PaletteLayout::Planar16Quad: planar = sixteen = true; break;
        default: throw ERangeError();
    }
    const size_t valueBytes = sixteen ? 2 : 1;

    // Re-spreading from a source range above 256 indices refers to entries beyond the
    // 256th, so they are read too (a 16-bit palette picture shown with 8-bit indices).
    const bool respread = t <= 8 && s != t;
    size_t entries = std::min<size_t>(count, 256);
    if (respread && s > 8) entries = std::min<size_t>(count, size_t(1) << s);

    if (entries > 0) {
        if (planar) {
            if (sources.size() < 3) throw ERangeError();
            for (size_t p = 0; p < 3; ++p)
                if (sources[p].size() < entries * valueBytes) throw ERangeError();
        } else {
            if (sources.empty() || sources[0].size() < entries * stride * valueBytes) throw ERangeError();
        }
    }

    const bool swap = SourceOptions & ColorOption::ByteSwap;
    auto value = [&](size_t plane, size_t index) -> uint8_t {
        const uint8_t* p = sources[plane].data() + index * valueBytes;
        uint32_t raw = *p;
        if (sixteen) {
            const uint16_t w = Load16(p);
            raw = swap ? Swap16(w) : w;
        }
        return Component(raw, sixteen);
    };

    std::vector<TRGBQuad> palette(entries);
    for (size_t i = 0; i < entries; ++i) {
        TRGBQuad& q = palette[i];
        if (planar) {
            q.rgbRed = value(0, i);
            q.rgbGreen = value(1, i);
            q.rgbBlue = value(2, i);
        } else {
            const uint8_t first = value(0, i * stride);
            q.rgbGreen = value(0, i * stride + 1);
            const uint8_t third = value(0, i * stride + 2);
            q.rgbRed = bgrOrder ? third : first;
            q.rgbBlue = bgrOrder ? first : third;
        }
    }

    if (respread) {
        const size_t sourceMax = MaxValue(s);
        const size_t targetMax = MaxValue(t);
        std::vector<TRGBQuad> spread(targetMax + 1);
        for (size_t i = 0; i <= targetMax; ++i) {
            const size_t from = i * sourceMax / targetMax;
            if (from < palette.size()) spread[i] = palette[from];  // missing entries stay black
        }
        palette = std::move(spread);
    }
    return palette;
}

std::vector<TRGBQuad> TColorManager::BuildGrayPalette(bool minIsWhite) const {
    const unsigned bits = std::min<unsigned>(unsigned(targetBitsPerSample_) * targetSamplesPerPixel_, 8);
    const size_t n = size_t(1) << bits;
    const unsigned step = 255 / static_cast<unsigned>(n - 1);
    const bool gamma = TargetOptions & ColorOption::ApplyGamma;
    std::vector<TRGBQuad> palette(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned level = static_cast<unsigned>(i) * step;
        const uint8_t v = gamma ? gammaTable_[level] : static_cast<uint8_t>(level);
        palette[minIsWhite ? n - 1 - i : i] = TRGBQuad{v, v, v, 0};
    }
    return palette;
}
