// The writer of Windows icon files (.ico) that makes the demo store's icons.
// The check before storing one is records/icon_file.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::server {

struct IconImage {
    int size = 16;                    // width and height in pixels
    int bitsPerPixel = 32;            // 32 (with alpha), 8 or 4 (palette)
    std::vector<std::uint32_t> argb;  // size * size pixels, top row first; alpha 0 = transparent
};

// Throws std::invalid_argument for a malformed image or a palette image with
// more colours than its depth holds.
std::vector<unsigned char> EncodeIconFile(const std::vector<IconImage>& images);

}  // namespace qv::server
