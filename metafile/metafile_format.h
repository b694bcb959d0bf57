#pragma once
// How metafiles begin: the placeable header's key, and the tests that tell the three kinds
// apart by their first bytes.
#include <cstdint>
#include <span>

namespace metafile {

inline constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
inline constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

enum class MetafileKind { None, Wmf, Emf };

// A placeable or plain Windows metafile header, or an enhanced metafile header record.
MetafileKind DetectMetafile(std::span<const uint8_t> data);

}  // namespace metafile
