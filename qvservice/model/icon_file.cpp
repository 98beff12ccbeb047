#include "qvservice/model/icon_file.h"

#include "records/icon_file.h"

#include <algorithm>
#include <stdexcept>

namespace qv::server {

namespace {

constexpr std::size_t kBitmapHeaderBytes = 40;

std::size_t RowBytes(int pixels, int bitsPerPixel) {
    return ((static_cast<std::size_t>(pixels) * static_cast<std::size_t>(bitsPerPixel) + 31) / 32) * 4;
}

// The image as a bitmap header, palette, colour bits and mask, bottom row first.
std::vector<unsigned char> EncodeImage(const IconImage& image) {
    const int n = image.size;
    const int bpp = image.bitsPerPixel;
    if (n <= 0 || n > 256 || image.argb.size() != static_cast<std::size_t>(n * n)) {
        throw std::invalid_argument("an icon image needs size * size pixels, size 1 to 256");
    }
    if (bpp != 4 && bpp != 8 && bpp != 32) throw std::invalid_argument("icon images have 4, 8 or 32 bits per pixel");
    std::vector<std::uint32_t> palette;
    if (bpp < 32) {
        for (const std::uint32_t pixel : image.argb) {
            const std::uint32_t rgb = pixel & 0xFFFFFF;
            if ((pixel >> 24) != 0 && std::find(palette.begin(), palette.end(), rgb) == palette.end())
                palette.push_back(rgb);
        }
        if (palette.empty()) palette.push_back(0);
        if (palette.size() > (std::size_t{1} << bpp))
            throw std::invalid_argument("too many colours for the icon's depth");
        palette.resize(std::size_t{1} << bpp, 0);
    }
    const std::size_t colourRow = RowBytes(n, bpp);
    const std::size_t maskRow = RowBytes(n, 1);
    std::vector<unsigned char> out;
    AppendLittleEndian32(out, kBitmapHeaderBytes);
    AppendLittleEndian32(out, static_cast<std::uint32_t>(n));
    AppendLittleEndian32(out, static_cast<std::uint32_t>(2 * n));  // colour bits and mask together
    AppendLittleEndian16(out, 1);
    AppendLittleEndian16(out, static_cast<std::uint32_t>(bpp));
    AppendLittleEndian32(out, 0);
    AppendLittleEndian32(out, static_cast<std::uint32_t>((colourRow + maskRow) * static_cast<std::size_t>(n)));
    AppendLittleEndian32(out, 0);
    AppendLittleEndian32(out, 0);
    AppendLittleEndian32(out, 0);
    AppendLittleEndian32(out, 0);
    for (const std::uint32_t rgb : palette) AppendLittleEndian32(out, rgb);  // B, G, R, 0 in file order
    for (int y = n - 1; y >= 0; --y) {
        std::vector<unsigned char> row(colourRow, 0);
        for (int x = 0; x < n; ++x) {
            const std::uint32_t pixel = image.argb[static_cast<std::size_t>(y * n + x)];
            if (bpp == 32) {
                for (int k = 0; k < 4; ++k)
                    row[static_cast<std::size_t>(x * 4 + k)] = static_cast<unsigned char>(pixel >> (8 * k));
                continue;
            }
            const auto index = (pixel >> 24) == 0
                                   ? 0
                                   : static_cast<unsigned>(std::find(palette.begin(), palette.end(), pixel & 0xFFFFFF) -
                                                           palette.begin());
            const std::size_t bit = static_cast<std::size_t>(x * bpp);
            row[bit / 8] |= static_cast<unsigned char>(index << (8 - bpp - bit % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<unsigned char> row(maskRow, 0);
        for (int x = 0; x < n; ++x) {
            if ((image.argb[static_cast<std::size_t>(y * n + x)] >> 24) == 0)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

std::vector<unsigned char> EncodeIconFile(const std::vector<IconImage>& images) {
    std::vector<IconEntry> entries;
    for (const auto& image : images) {
        entries.push_back({image.size, image.size, image.bitsPerPixel < 8 ? 1 << image.bitsPerPixel : 0,
                           image.bitsPerPixel, EncodeImage(image)});
    }
    return WriteIconFile(entries);
}

}  // namespace qv::server
