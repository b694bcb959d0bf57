#include "app/core/jpeg_size_limit.h"

#include <algorithm>

#include "graphics/bitmap.h"
#include "jpeg/jpeg_encoder.h"

LimitedJpeg EncodeJpegWithinLimit(TBitmap& bitmap, int quality, int limitKB) {
    const int64_t limit = static_cast<int64_t>(limitKB) * 1024;
    // A quality outside 1..100 fails in the first trial, as without a limit.
    auto encode = [&](int q) {
        const ByteBuffer bytes = EncodeJpeg(bitmap, {q, false, false});
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    };

    LimitedJpeg result;
    SizeLimitOutcome& o = result.Outcome;
    o.RequestedQuality = quality;
    o.LimitKB = limitKB;
    auto finish = [&](int q, std::vector<uint8_t> bytes, bool over) {
        o.Quality = q;
        o.Bytes = static_cast<int64_t>(bytes.size());
        o.OverLimit = over;
        result.Bytes = std::move(bytes);
        return std::move(result);
    };

    std::vector<uint8_t> bytes = encode(quality);
    if (static_cast<int64_t>(bytes.size()) <= limit) return finish(quality, std::move(bytes), false);
    const int floor = std::min(quality, kMinLimitedJpegQuality);
    if (floor == quality) return finish(quality, std::move(bytes), true);
    std::vector<uint8_t> fitting = encode(floor);
    if (static_cast<int64_t>(fitting.size()) > limit) return finish(floor, std::move(fitting), true);
    // fits(low), !fits(high): halve the gap until the two are neighbours.
    int low = floor, high = quality;
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        std::vector<uint8_t> trial = encode(mid);
        if (static_cast<int64_t>(trial.size()) <= limit) {
            low = mid;
            fitting = std::move(trial);
        } else {
            high = mid;
        }
    }
    return finish(low, std::move(fitting), false);
}

std::string SizeLimitNote(const SizeLimitOutcome& outcome) {
    const std::string limit = std::to_string(outcome.LimitKB) + "K";
    if (outcome.OverLimit)
        return "Over the " + limit + " limit even at JPEG quality " + std::to_string(outcome.Quality);
    if (outcome.Quality == outcome.RequestedQuality) return {};
    return "JPEG quality " + std::to_string(outcome.Quality) + " to stay under " + limit;
}
