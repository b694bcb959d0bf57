#pragma once
// libheif, opened the first time a HEIF or AVIF picture is read rather than when the program
// starts: it brings the HEVC and AV1 codec libraries with it, whose loading and set-up cost
// every start of imbrix-batch 7 ms of 28, for pictures most runs never meet.
#include <libheif/heif.h>

// The functions the HEIF reader calls, named as libheif names them.
#define IMBRIX_HEIF_FUNCTIONS(X)                     \
    X(heif_context_alloc)                            \
    X(heif_context_free)                             \
    X(heif_context_set_maximum_image_size_limit)     \
    X(heif_context_read_from_memory_without_copy)    \
    X(heif_context_get_primary_image_handle)         \
    X(heif_image_handle_release)                     \
    X(heif_image_handle_get_width)                   \
    X(heif_image_handle_get_height)                  \
    X(heif_image_handle_has_alpha_channel)           \
    X(heif_image_handle_get_luma_bits_per_pixel)     \
    X(heif_image_handle_get_ispe_width)              \
    X(heif_image_handle_get_ispe_height)             \
    X(heif_image_handle_get_raw_color_profile_size)  \
    X(heif_image_handle_get_raw_color_profile)       \
    X(heif_decoding_options_alloc)                   \
    X(heif_decoding_options_free)                    \
    X(heif_decode_image)                             \
    X(heif_image_release)                            \
    X(heif_image_get_plane_readonly)                 \
    X(heif_image_get_width)                          \
    X(heif_image_get_height)                         \
    X(heif_image_get_bits_per_pixel)                 \
    X(heif_image_is_premultiplied_alpha)

struct HeifLibrary {
#define IMBRIX_HEIF_MEMBER(name) decltype(&::name) name = nullptr;
    IMBRIX_HEIF_FUNCTIONS(IMBRIX_HEIF_MEMBER)
#undef IMBRIX_HEIF_MEMBER
};

// The library, opened on first use (from any thread) and kept for the life of the process.
// Raises EInvalidGraphic, naming the library and the loader's reason, when it cannot be
// opened or lacks a function; every later call raises the same.
const HeifLibrary& Heif();
