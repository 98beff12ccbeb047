// Icon files (.ico): the check one passes before the service stores it (the
// recorder makes the same check, so that a bad icon is refused to its sender
// instead of reaching the service), and the writing of one from its images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qv {

inline constexpr std::size_t kMaxIconBytes = 1 << 20;

// Why the bytes are not an icon file the viewer can read; nothing when they are.
std::optional<std::string> IconFileProblem(std::span<const unsigned char> bytes);

// One image of an icon file, already encoded: a bitmap (header, colours, mask)
// or a PNG file.
struct IconEntry {
    int width = 0;  // pixels; 256 and more are written as 0, as the format wants
    int height = 0;
    int colours = 0;  // of a palette; 0 for none
    int bitsPerPixel = 32;
    std::vector<unsigned char> data;
};

// The icon file of these images, in this order: header, directory, images.
std::vector<unsigned char> WriteIconFile(const std::vector<IconEntry>& entries);

// The little-endian integers of icon files and bitmaps.
void AppendLittleEndian16(std::vector<unsigned char>& out, std::uint32_t value);
void AppendLittleEndian32(std::vector<unsigned char>& out, std::uint32_t value);

}  // namespace qv
