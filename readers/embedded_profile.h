#pragma once
// Helpers for readers that keep their file's ICC profile on the graphic (TGraphic::IccProfile):
// the profile itself is converted later, by icc/colour_profile.h, on the working bitmap.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Profiles are small (a few kilobytes, rarely a megabyte); a larger one is refused.
inline constexpr size_t kMaxEmbeddedProfileBytes = 16u << 20;

// Inflates a zlib stream holding a profile (PNG's iCCP). False, with the reason in *problem,
// when the stream is damaged, incomplete or inflates beyond the limit.
bool InflateProfile(std::span<const uint8_t> zlibData, std::vector<uint8_t>& profile, std::string& problem);

// The profile of a Photoshop image resource block (resource 1039), empty when it has none.
// Resources that run past the block end the search.
std::vector<uint8_t> PhotoshopResourceProfile(std::span<const uint8_t> resources);
