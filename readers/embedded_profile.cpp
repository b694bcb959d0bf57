#include "readers/embedded_profile.h"

#include <zlib.h>

#include <exception>

#include "graphics/byte_reader.h"

bool InflateProfile(std::span<const uint8_t> zlibData, std::vector<uint8_t>& profile, std::string& problem) {
    profile.clear();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        problem = "the profile cannot be inflated";
        return false;
    }
    z.next_in = const_cast<Bytef*>(zlibData.data());
    z.avail_in = static_cast<uInt>(std::min<size_t>(zlibData.size(), UINT32_MAX));
    uint8_t block[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = block;
        z.avail_out = sizeof block;
        rc = inflate(&z, Z_NO_FLUSH);
        const size_t produced = sizeof block - z.avail_out;
        if (profile.size() + produced > kMaxEmbeddedProfileBytes) {
            rc = Z_MEM_ERROR;
            break;
        }
        profile.insert(profile.end(), block, block + produced);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // the stream stopped short
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        profile.clear();
        problem = rc == Z_MEM_ERROR ? "the profile is too large" : "the compressed profile is damaged";
        return false;
    }
    return true;
}

std::vector<uint8_t> PhotoshopResourceProfile(std::span<const uint8_t> resources) {
    constexpr uint16_t kIccResource = 1039;
    try {
        ByteReader r(resources);
        while (r.remaining() >= 12) {
            if (r.u32be() != 0x3842494D) break;  // "8BIM"
            const uint16_t id = r.u16be();
            const uint8_t nameLength = r.u8();
            r.skip(nameLength + ((nameLength + 1) % 2));  // Pascal string padded to even
            const uint32_t size = r.u32be();
            const auto body = r.bytes(size);
            if (size % 2) r.skip(std::min<size_t>(1, r.remaining()));
            if (id == kIccResource) {
                if (size > kMaxEmbeddedProfileBytes) break;
                return std::vector<uint8_t>(body.begin(), body.end());
            }
        }
    } catch (const std::exception&) {
        // A resource cut short: no profile from it.
    }
    return {};
}
