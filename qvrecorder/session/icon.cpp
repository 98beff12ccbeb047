#include "qvrecorder/session/icon.h"

#include <cstdlib>

namespace qv::recorder {

namespace {

// Every image of ours has 32 bits a pixel: a bitmap with alpha, or a PNG file.
std::vector<unsigned char> IconFile(const std::vector<IconEntry>& entries) {
    if (entries.empty()) return {};
    std::vector<unsigned char> out = WriteIconFile(entries);
    if (out.size() > kMaxIconBytes) return {};
    return out;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

std::vector<unsigned char> IconFromArgb(const std::vector<ArgbImage>& images) {
    std::vector<IconEntry> entries;
    for (const ArgbImage& image : images) {
        const int w = image.width;
        const int h = image.height;
        if (w <= 0 || h <= 0 || w > 256 || h > 256 || image.pixels.size() != static_cast<std::size_t>(w * h)) return {};
        const std::size_t maskRow = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
        IconEntry entry{w, h, 0, 32, {}};
        std::vector<unsigned char>& out = entry.data;
        AppendLittleEndian32(out, 40);
        AppendLittleEndian32(out, static_cast<std::uint32_t>(w));
        AppendLittleEndian32(out, static_cast<std::uint32_t>(2 * h));  // colour and mask together
        AppendLittleEndian16(out, 1);
        AppendLittleEndian16(out, 32);
        AppendLittleEndian32(out, 0);
        AppendLittleEndian32(
            out, static_cast<std::uint32_t>((static_cast<std::size_t>(w) * 4 + maskRow) * static_cast<std::size_t>(h)));
        for (int i = 0; i < 4; ++i) AppendLittleEndian32(out, 0);
        // Bottom row first; a 32-bit pixel in file order is B, G, R, A: the ARGB word little-endian.
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x) AppendLittleEndian32(out, image.pixels[static_cast<std::size_t>(y * w + x)]);
        }
        for (int y = h - 1; y >= 0; --y) {
            std::vector<unsigned char> row(maskRow, 0);
            for (int x = 0; x < w; ++x) {
                if ((image.pixels[static_cast<std::size_t>(y * w + x)] >> 24) == 0)
                    row[static_cast<std::size_t>(x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
            out.insert(out.end(), row.begin(), row.end());
        }
        entries.push_back(std::move(entry));
    }
    return IconFile(entries);
}

std::vector<unsigned char> IconFromPngs(const std::vector<std::string>& pngs) {
    static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
    std::vector<IconEntry> entries;
    for (const std::string& png : pngs) {
        // The signature, then the IHDR chunk with width and height first.
        if (png.size() < 24 || png.compare(0, 8, kSignature) != 0 || png.compare(12, 4, "IHDR") != 0) continue;
        const std::uint32_t width = BigEndian32(png, 16);
        const std::uint32_t height = BigEndian32(png, 20);
        if (width == 0 || height == 0 || width > 256 || height > 256) continue;
        entries.push_back({static_cast<int>(width), static_cast<int>(height), 0, 32, {png.begin(), png.end()}});
    }
    return IconFile(entries);
}

ArgbImage ScaledImage(const std::vector<ArgbImage>& images, int size) {
    const ArgbImage* best = nullptr;
    for (const ArgbImage& image : images) {
        // The nearest size, a larger one before a smaller at the same distance: shrinking loses less.
        const auto distance = [size](const ArgbImage& i) { return std::abs(i.width - size) * 2 - (i.width > size); };
        if (!best || distance(image) < distance(*best)) best = &image;
    }
    ArgbImage scaled{size, size, {}};
    if (!best || best->width <= 0 || best->height <= 0) return {};
    scaled.pixels.resize(static_cast<std::size_t>(size * size));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int sx = x * best->width / size;
            const int sy = y * best->height / size;
            scaled.pixels[static_cast<std::size_t>(y * size + x)] =
                best->pixels[static_cast<std::size_t>(sy * best->width + sx)];
        }
    }
    return scaled;
}

}  // namespace qv::recorder
