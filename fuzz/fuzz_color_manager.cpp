#include "fuzz/harness.h"
#include "readers/color_manager.h"

// Source and target formats come from the parameter bytes (the setters refuse what they must);
// the data is split into up to four source planes and converted into a target row.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Setup();
    fuzz::Params p(data, size);
    try {
        TColorManager manager;
        manager.SetSourceScheme(static_cast<ColorScheme>(p.u8() % 14));
        manager.SetTargetScheme(static_cast<ColorScheme>(p.u8() % 14));
        manager.SetSourceBitsPerSample(p.u8() % 18);
        manager.SetTargetBitsPerSample(p.u8() % 18);
        manager.SetSourceSamplesPerPixel(p.u8() % 6);
        manager.SetTargetSamplesPerPixel(p.u8() % 6);
        manager.SourceOptions = p.u8();
        manager.TargetOptions = p.u8();
        const uint8_t mask = p.u8();
        const size_t count = p.u8() % 64;
        const size_t planes = 1 + p.u8() % 4;
        if (p.flag()) manager.SetGammaValues(0.5f + (p.u8() % 40) / 10.0f, 2.2f);

        const std::vector<uint8_t> bytes(p.data().begin(), p.data().end());
        std::vector<std::vector<uint8_t>> planeData(planes);
        const size_t planeSize = bytes.size() / planes;
        for (size_t i = 0; i < planes; ++i)
            planeData[i].assign(bytes.begin() + i * planeSize, bytes.begin() + (i + 1) * planeSize);
        std::vector<std::span<const uint8_t>> sources(planeData.begin(), planeData.end());
        std::vector<uint8_t> target((count * 8 + 7) / 2 + (mask & 7) * 3);
        manager.ConvertScanline(TColorManager::TSourceRows(sources), target, count, mask);
        fuzz::Touch(target);

        // Palettes from the same bytes.
        const auto layout = static_cast<PaletteLayout>(mask % 8);
        const auto palette = manager.BuildColorPalette(TColorManager::TSourceRows(sources), layout, count, mask & 8);
        fuzz::Touch(std::span(reinterpret_cast<const uint8_t*>(palette.data()), palette.size() * sizeof(TRGBQuad)));
        const auto gray = manager.BuildGrayPalette(mask & 16);
        fuzz::Touch(std::span(reinterpret_cast<const uint8_t*>(gray.data()), gray.size() * sizeof(TRGBQuad)));
    } catch (const EImbrixError&) {
    }
    return 0;
}
