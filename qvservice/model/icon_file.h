// Windows icon files (.ico): the check that an import makes before storing
// one, and the writer that makes the demo store's icons.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qv::server {

inline constexpr std::size_t kMaxIconBytes = 1 << 20;

// Why the bytes are not an icon file the viewer can read; nothing when they are.
std::optional<std::string> IconFileProblem(std::span<const unsigned char> bytes);

struct IconImage {
    int size = 16;                    // width and height in pixels
    int bitsPerPixel = 32;            // 32 (with alpha), 8 or 4 (palette)
    std::vector<std::uint32_t> argb;  // size * size pixels, top row first; alpha 0 = transparent
};

// Throws std::invalid_argument for a malformed image or a palette image with
// more colours than its depth holds.
std::vector<unsigned char> EncodeIconFile(const std::vector<IconImage>& images);

}  // namespace qv::server
