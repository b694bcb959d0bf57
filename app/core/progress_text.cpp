#include "app/core/progress_text.h"

#include <vector>

#include "graphics/errors.h"

int64_t ProgressStepCount(int64_t fileCount) {
    if (fileCount < 0 || fileCount > INT64_MAX / kStepsPerFile) throw EIntOverflow();
    return fileCount * kStepsPerFile;
}

namespace {
// Byte offsets at which each UTF-8 code point starts (continuation bytes are skipped).
std::vector<size_t> CharacterStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    return starts;
}
}  // namespace

std::string ShortenPath(const std::string& text) {
    constexpr size_t kLimit = 45, kHead = 23, kTail = 20;
    const std::vector<size_t> starts = CharacterStarts(text);
    if (starts.size() <= kLimit) return text;
    const size_t headEnd = starts[kHead];
    const size_t tailStart = starts[starts.size() - kTail];
    return text.substr(0, headEnd) + "..." + text.substr(tailStart);
}
