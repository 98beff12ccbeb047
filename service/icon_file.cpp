#include "service/icon_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace {

constexpr std::size_t kFileHeaderBytes = 6;
constexpr std::size_t kEntryBytes = 16;
constexpr std::uint32_t kBitmapHeaderMin = 40;  // BITMAPINFOHEADER
constexpr std::uint16_t kIconType = 1;          // 2 is a cursor file
constexpr std::uint32_t kUncompressed = 0;      // BI_RGB
constexpr std::size_t kPaletteEntryBytes = 4;   // B, G, R, 0
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kPngIhdrBytes = 13;
constexpr std::size_t kPngChunkOverhead = 12;  // length, type, CRC
constexpr std::uint32_t kPngMaxChunk = 0x7FFFFFFF;

using Bytes = std::span<const std::uint8_t>;

// True when n bytes from `at` lie inside the span; never overflows.
bool Has(Bytes bytes, std::size_t at, std::size_t n) { return at <= bytes.size() && n <= bytes.size() - at; }

std::uint16_t Le16(Bytes b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

std::uint32_t Le32(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(Le16(b, at)) | (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16);
}

std::int32_t LeI32(Bytes b, std::size_t at) { return static_cast<std::int32_t>(Le32(b, at)); }

std::uint32_t Be32(Bytes b, std::size_t at) {
    return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
           (static_cast<std::uint32_t>(b[at + 2]) << 8) | b[at + 3];
}

bool Fail(std::string* problem, const char* text) {
    if (problem) *problem = text;
    return false;
}

std::size_t RowBytes(int width, int bits) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
}

struct BitmapLayout {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::size_t paletteOffset = 0;
    std::size_t paletteCount = 0;
    std::size_t colourOffset = 0;
    std::size_t colourRow = 0;
    std::size_t maskOffset = 0;
    std::size_t maskRow = 0;
};

bool IsPng(Bytes image) {
    return image.size() >= kPngSignature.size() &&
           std::equal(kPngSignature.begin(), kPngSignature.end(), image.begin());
}

// The bitmap header checked against the image's bytes. directoryHeight is
// the picture's height as the directory gives it.
bool CheckBitmap(Bytes image, int directoryHeight, BitmapLayout& out, std::string* problem) {
    if (!Has(image, 0, kBitmapHeaderMin)) return Fail(problem, "an image is shorter than its bitmap header");
    const std::uint32_t headerBytes = Le32(image, 0);
    if (headerBytes < kBitmapHeaderMin || headerBytes > image.size())
        return Fail(problem, "an image's bitmap header has a wrong size");
    const std::int32_t width = LeI32(image, 4);
    const std::int32_t doubleHeight = LeI32(image, 8);
    const std::uint16_t planes = Le16(image, 12);
    const std::uint16_t bits = Le16(image, 14);
    const std::uint32_t compression = Le32(image, 16);
    const std::uint32_t coloursUsed = Le32(image, 32);
    if (width <= 0 || doubleHeight <= 0) return Fail(problem, "an image's width or height is 0 or negative");
    if (doubleHeight % 2 != 0 || doubleHeight / 2 != directoryHeight)
        return Fail(problem, "an image's bitmap height is not twice the image's");
    if (width > kMaxIconSide || doubleHeight / 2 > kMaxIconSide) return Fail(problem, "an image is over 256 pixels");
    if (planes != 1) return Fail(problem, "an image has more than one plane");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return Fail(problem, "an image has an unknown bit count");
    if (compression != kUncompressed) return Fail(problem, "an image is compressed");
    std::size_t palette = 0;
    if (bits <= 8) {
        const std::uint32_t most = 1u << bits;
        if (coloursUsed > most) return Fail(problem, "an image's palette is larger than its bit count allows");
        palette = coloursUsed != 0 ? coloursUsed : most;
    } else if (coloursUsed != 0) {
        return Fail(problem, "an image's palette is larger than its bit count allows");
    }
    out.width = width;
    out.height = doubleHeight / 2;
    out.bits = bits;
    out.paletteOffset = headerBytes;
    out.paletteCount = palette;
    out.colourOffset = out.paletteOffset + palette * kPaletteEntryBytes;
    out.colourRow = RowBytes(width, bits);
    out.maskOffset = out.colourOffset + out.colourRow * static_cast<std::size_t>(out.height);
    out.maskRow = RowBytes(width, 1);
    // Every term is bounded (header within the image, sides <= 256), so the
    // sum cannot wrap.
    if (!Has(image, out.maskOffset, out.maskRow * static_cast<std::size_t>(out.height)))
        return Fail(problem, "an image's colour bits or mask are cut short");
    return true;
}

// An embedded PNG: signature, IHDR first, and chunks that stay inside the
// image up to IEND. Fills width, height and depth.
bool CheckPng(Bytes image, IconEntry& entry, std::string* problem) {
    const std::size_t ihdr = kPngSignature.size();
    if (!Has(image, ihdr, kPngChunkOverhead + kPngIhdrBytes)) return Fail(problem, "an embedded PNG is cut short");
    if (Be32(image, ihdr) != kPngIhdrBytes || std::memcmp(image.data() + ihdr + 4, "IHDR", 4) != 0)
        return Fail(problem, "an embedded PNG does not start with its header");
    const std::uint32_t width = Be32(image, ihdr + 8);
    const std::uint32_t height = Be32(image, ihdr + 12);
    const std::uint8_t bitDepth = image[ihdr + 16];
    const std::uint8_t colourType = image[ihdr + 17];
    if (width == 0 || height == 0) return Fail(problem, "an image's width or height is 0 or negative");
    if (width > kMaxIconSide || height > kMaxIconSide) return Fail(problem, "an image is over 256 pixels");
    int channels = 0;
    switch (colourType) {
        case 0: channels = 1; break;  // grey
        case 2: channels = 3; break;  // RGB
        case 3: channels = 1; break;  // palette
        case 4: channels = 2; break;  // grey and alpha
        case 6: channels = 4; break;  // RGBA
        default: return Fail(problem, "an embedded PNG has an unknown colour type");
    }
    if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8 && bitDepth != 16)
        return Fail(problem, "an embedded PNG has an unknown bit depth");
    for (std::size_t at = ihdr; Has(image, at, 8);) {
        const std::uint32_t length = Be32(image, at);
        if (length > kPngMaxChunk || !Has(image, at, kPngChunkOverhead + length))
            return Fail(problem, "an embedded PNG is cut short");
        if (std::memcmp(image.data() + at + 4, "IEND", 4) == 0) {
            entry.width = static_cast<int>(width);
            entry.height = static_cast<int>(height);
            entry.colorDepth = bitDepth * channels;
            entry.png = true;
            return true;
        }
        at += kPngChunkOverhead + length;
    }
    return Fail(problem, "an embedded PNG is cut short");
}

// The image of directory entry i, checked against the bytes.
std::optional<IconEntry> ParseImage(Bytes bytes, std::size_t i, std::size_t directoryEnd, std::string* problem) {
    const std::size_t at = kFileHeaderBytes + i * kEntryBytes;
    IconEntry entry;
    entry.size = Le32(bytes, at + 8);
    entry.offset = Le32(bytes, at + 12);
    if (entry.size == 0 || entry.offset < directoryEnd || !Has(bytes, entry.offset, entry.size)) {
        Fail(problem, "an image lies outside the bytes");
        return std::nullopt;
    }
    const Bytes image = bytes.subspan(entry.offset, entry.size);
    if (IsPng(image)) {
        if (!CheckPng(image, entry, problem)) return std::nullopt;
        return entry;
    }
    const int directoryHeight = bytes[at + 1] == 0 ? kMaxIconSide : bytes[at + 1];
    BitmapLayout layout;
    if (!CheckBitmap(image, directoryHeight, layout, problem)) return std::nullopt;
    entry.width = layout.width;
    entry.height = layout.height;
    entry.colorDepth = layout.bits;  // one plane
    return entry;
}

}  // namespace

std::optional<IconFile> ParseIconFile(Bytes bytes, std::string* problem) {
    const auto refuse = [problem](const char* text) {
        Fail(problem, text);
        return std::nullopt;
    };
    if (!Has(bytes, 0, kFileHeaderBytes)) return refuse("too short for an icon file");
    if (Le16(bytes, 0) != 0 || Le16(bytes, 2) != kIconType) return refuse("not an icon file (wrong header)");
    const std::size_t count = Le16(bytes, 4);
    if (count == 0) return refuse("the icon file holds no images");
    const std::size_t directoryEnd = kFileHeaderBytes + count * kEntryBytes;
    if (directoryEnd > bytes.size()) return refuse("the icon directory is cut short");
    IconFile file;
    std::string firstProblem;
    for (std::size_t i = 0; i < count; ++i) {
        std::string imageProblem;
        if (std::optional<IconEntry> entry = ParseImage(bytes, i, directoryEnd, &imageProblem))
            file.images.push_back(*entry);
        else if (firstProblem.empty())
            firstProblem = imageProblem;
    }
    if (file.images.empty()) return refuse(firstProblem.c_str());
    return file;
}

std::vector<std::size_t> RankIconImages(const IconFile& file, int wantedWidth) {
    std::vector<std::size_t> order(file.images.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto rank = [&](std::size_t i) {
        const IconEntry& entry = file.images[i];
        return entry.width == wantedWidth ? entry.colorDepth : -1;  // depths are positive
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rank(a) > rank(b); });
    return order;
}

std::optional<IconPixels> DecodeIconBitmap(Bytes bytes, const IconEntry& entry) {
    if (entry.png || !Has(bytes, entry.offset, entry.size)) return std::nullopt;
    const Bytes image = bytes.subspan(entry.offset, entry.size);
    BitmapLayout layout;
    if (!CheckBitmap(image, entry.height, layout, nullptr)) return std::nullopt;

    IconPixels pixels;
    pixels.width = layout.width;
    pixels.height = layout.height;
    pixels.rgba.resize(static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(layout.height) * 4);
    bool anyAlpha = false;
    for (int y = 0; y < layout.height; ++y) {
        // Bitmaps are stored bottom row first.
        const auto row = static_cast<std::size_t>(layout.height - 1 - y);
        const std::uint8_t* colour = image.data() + layout.colourOffset + row * layout.colourRow;
        const std::uint8_t* mask = image.data() + layout.maskOffset + row * layout.maskRow;
        for (int x = 0; x < layout.width; ++x) {
            const auto ux = static_cast<std::size_t>(x);
            std::uint8_t* out = pixels.rgba.data() + (static_cast<std::size_t>(y) * layout.width + ux) * 4;
            const bool transparent = (mask[ux / 8] >> (7 - ux % 8)) & 1;
            if (layout.bits >= 24) {
                const std::uint8_t* p = colour + ux * static_cast<std::size_t>(layout.bits / 8);
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
                out[3] = layout.bits == 32 ? p[3] : (transparent ? 0 : 255);
                if (layout.bits == 32 && p[3] != 0) anyAlpha = true;
                continue;
            }
            const std::size_t bitAt = ux * static_cast<std::size_t>(layout.bits);
            const unsigned shift = 8 - static_cast<unsigned>(layout.bits) - static_cast<unsigned>(bitAt % 8);
            const std::size_t index = (colour[bitAt / 8] >> shift) & ((1u << layout.bits) - 1);
            if (index < layout.paletteCount) {
                const std::uint8_t* c = image.data() + layout.paletteOffset + index * kPaletteEntryBytes;
                out[0] = c[2];
                out[1] = c[1];
                out[2] = c[0];
            }
            out[3] = transparent ? 0 : 255;
        }
    }
    // A 32-bit image whose alpha bytes are all 0 is an old-style one: its mask
    // says which pixels show.
    if (layout.bits == 32 && !anyAlpha) {
        for (int y = 0; y < layout.height; ++y) {
            const auto row = static_cast<std::size_t>(layout.height - 1 - y);
            const std::uint8_t* mask = image.data() + layout.maskOffset + row * layout.maskRow;
            for (std::size_t x = 0; x < static_cast<std::size_t>(layout.width); ++x)
                pixels.rgba[(static_cast<std::size_t>(y) * layout.width + x) * 4 + 3] =
                    ((mask[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
        }
    }
    return pixels;
}
