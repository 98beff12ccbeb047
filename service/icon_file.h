#pragma once
// The Windows icon-file format (.ico), read from bytes that come from the
// network: a 6-byte header, one 16-byte directory entry per image, then the
// images, each a bitmap (header, colour table, colour bits, transparency
// mask) or an embedded PNG. Every size and offset is checked against the
// bytes before it is used. A faulty image is left out and the others are
// kept; a faulty header or directory, or a file with no sound image, is
// refused whole. No Qt here: PNG images are only checked for their structure
// and handed to the caller to decode.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr int kMaxIconSide = 256;

struct IconEntry {
    int width = 0;       // from the image's own header, not the directory
    int height = 0;      // of the picture (half the bitmap header's height)
    int colorDepth = 0;  // planes x bits per pixel
    std::size_t offset = 0;
    std::size_t size = 0;
    bool png = false;
};

struct IconFile {
    std::vector<IconEntry> images;  // the sound ones, in file order; never empty
};

// Nullopt when the bytes hold no sound icon image; *problem then says why
// (for a file whose every image is faulty, what was wrong with the first).
std::optional<IconFile> ParseIconFile(std::span<const std::uint8_t> bytes, std::string* problem = nullptr);

// The images in the order in which to try them for a wanted width: those
// exactly that wide by colour depth, greatest first (file order on a tie),
// then the others in file order. So the first is the image to show, and a
// later one stands in when an earlier one cannot be decoded.
std::vector<std::size_t> RankIconImages(const IconFile& file, int wantedWidth);

// Pixels as R, G, B, A bytes (not premultiplied), top row first.
struct IconPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// The pixels of a bitmap image of a parsed file; nullopt for a PNG image.
std::optional<IconPixels> DecodeIconBitmap(std::span<const std::uint8_t> bytes, const IconEntry& entry);
