#include "fuzz/harness.h"
#include "readers/color_manager.h"

// Source and target formats come from the parameter bytes (the setters refuse what they must);
// the data is split into up to four source planes and converted into a target row.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Setup();
    fuzz::Params p(data, size);
    TColorManager manager;
    try {
        manager.SetSourceScheme(static_cast<ColorScheme>(p.u8() % 14));
        manager.SetTargetScheme(static_cast<ColorScheme>(p.u8() % 14));
        manager.SetSourceBitsPerSample(p.u8() % 18);
        manager.SetTargetBitsPerSample(p.u8() % 18);
        manager.SetSourceSamplesPerPixel(p.u8() % 6);
        manager.SetTargetSamplesPerPixel(p.u8() % 6);
    } catch (const EImbrixError&) {
        return 0;  // a refused format
    }
    manager.SourceOptions = p.u8();
    manager.TargetOptions = p.u8();
    const uint8_t mask = p.u8();
    const size_t count = p.u8() % 64;
    const size_t planes = 1 + p.u8() % 4;
    const bool gamma = p.flag();
    const uint8_t gammaStep = p.u8();

    const std::vector<uint8_t> bytes(p.data().begin(), p.data().end());
    std::vector<std::vector<uint8_t>> planeData(planes);
    const size_t planeSize = bytes.size() / planes;
    for (size_t i = 0; i < planes; ++i)
        planeData[i].assign(bytes.begin() + i * planeSize, bytes.begin() + (i + 1) * planeSize);
    std::vector<std::span<const uint8_t>> sources(planeData.begin(), planeData.end());

    try {
        if (gamma) manager.SetGammaValues(0.5f + (gammaStep % 40) / 10.0f, 2.2f);
        // Mostly a target of the size the routine needs, so that the row code runs for every
        // format; now and then a guessed one, so that short targets are refused safely.
        const size_t targetSize =
            (mask & 7) == 7 ? (count * 8 + 7) / 2 + (mask & 7) * 3 : manager.RequiredTargetBytes(count);
        std::vector<uint8_t> target(targetSize);
        manager.ConvertScanline(TColorManager::TSourceRows(sources), target, count, mask);
        fuzz::Touch(target);
    } catch (const EImbrixError&) {
    }
    // Palettes from the same bytes, whether or not the row was converted.
    try {
        const auto layout = static_cast<PaletteLayout>(mask % 8);
        const auto palette = manager.BuildColorPalette(TColorManager::TSourceRows(sources), layout, count, mask & 8);
        fuzz::Touch(std::span(reinterpret_cast<const uint8_t*>(palette.data()), palette.size() * sizeof(TRGBQuad)));
    } catch (const EImbrixError&) {
    }
    try {
        const auto gray = manager.BuildGrayPalette(mask & 16);
        fuzz::Touch(std::span(reinterpret_cast<const uint8_t*>(gray.data()), gray.size() * sizeof(TRGBQuad)));
    } catch (const EImbrixError&) {
    }
    return 0;
}
