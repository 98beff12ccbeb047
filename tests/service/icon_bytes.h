#pragma once
// Icon files made byte by byte for the decoder's tests: bitmap images from ARGB pixels (top row first), PNG images from
// given bytes, and the field offsets a test changes to make a file faulty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::test {

inline constexpr std::size_t kIconDirectory = 6;  // first directory entry
inline constexpr std::size_t kIconEntryBytes = 16;

struct IconPart {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<std::uint8_t> data;  // what the directory entry points to
};

inline void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

inline std::uint32_t Get32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at] | (in[at + 1] << 8) | (in[at + 2] << 16)) |
           (static_cast<std::uint32_t>(in[at + 3]) << 24);
}

inline std::size_t RowStride(int width, int bits) { return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4; }

// A bitmap image. Palette images list their distinct colours first and pad the palette to `paletteEntries` (default:
// all the depth allows). Pixels with alpha 0 are masked out.
inline IconPart BitmapPart(int width, int height, int bits, const std::vector<std::uint32_t>& argb,
                           std::uint32_t paletteEntries = 0) {
    std::vector<std::uint32_t> palette;
    if (bits <= 8) {
        for (std::uint32_t pixel : argb)
            if (std::find(palette.begin(), palette.end(), pixel & 0xFFFFFF) == palette.end())
                palette.push_back(pixel & 0xFFFFFF);
        palette.resize(paletteEntries ? paletteEntries : 1u << bits, 0);
    }
    const std::size_t colourRow = RowStride(width, bits);
    const std::size_t maskRow = RowStride(width, 1);
    std::vector<std::uint8_t> out(40 + palette.size() * 4 + (colourRow + maskRow) * height, 0);
    Put32(out, 0, 40);
    Put32(out, 4, static_cast<std::uint32_t>(width));
    Put32(out, 8, static_cast<std::uint32_t>(2 * height));
    Put16(out, 12, 1);
    Put16(out, 14, static_cast<std::uint32_t>(bits));
    Put32(out, 32, paletteEntries);
    for (std::size_t i = 0; i < palette.size(); ++i) Put32(out, 40 + 4 * i, palette[i]);
    const std::size_t colours = 40 + palette.size() * 4;
    const std::size_t masks = colours + colourRow * height;
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(height - 1 - y);  // bottom row first
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = argb[static_cast<std::size_t>(y * width + x)];
            std::uint8_t* colour = out.data() + colours + row * colourRow;
            if (bits >= 24) {
                for (int k = 0; k < bits / 8; ++k)
                    colour[x * (bits / 8) + k] = static_cast<std::uint8_t>(pixel >> (8 * k));
            } else {
                const auto index = static_cast<std::uint32_t>(
                    std::find(palette.begin(), palette.end(), pixel & 0xFFFFFF) - palette.begin());
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                colour[bit / 8] |= static_cast<std::uint8_t>(index << (8 - bits - bit % 8));
            }
            if ((pixel >> 24) == 0) out[masks + row * maskRow + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    return {width, height, bits, std::move(out)};
}

inline IconPart SolidPart(int side, int bits, std::uint32_t argb) {
    return BitmapPart(side, side, bits, std::vector<std::uint32_t>(static_cast<std::size_t>(side * side), argb));
}

inline std::vector<std::uint8_t> IconFileBytes(const std::vector<IconPart>& parts, std::uint16_t type = 1) {
    std::vector<std::uint8_t> out(kIconDirectory + parts.size() * kIconEntryBytes, 0);
    Put16(out, 2, type);
    Put16(out, 4, static_cast<std::uint32_t>(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t entry = kIconDirectory + i * kIconEntryBytes;
        out[entry] = static_cast<std::uint8_t>(parts[i].width >= 256 ? 0 : parts[i].width);
        out[entry + 1] = static_cast<std::uint8_t>(parts[i].height >= 256 ? 0 : parts[i].height);
        Put16(out, entry + 4, 1);
        Put16(out, entry + 6, static_cast<std::uint32_t>(parts[i].bits));
        Put32(out, entry + 8, static_cast<std::uint32_t>(parts[i].data.size()));
        Put32(out, entry + 12, static_cast<std::uint32_t>(out.size()));
        out.insert(out.end(), parts[i].data.begin(), parts[i].data.end());
    }
    return out;
}

// Where image i's bitmap header starts in the file.
inline std::size_t ImageAt(const std::vector<std::uint8_t>& file, std::size_t i) {
    return Get32(file, kIconDirectory + i * kIconEntryBytes + 12);
}

}  // namespace qv::test
