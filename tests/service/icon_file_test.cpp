// The icon-file decoder: which image it picks, the pixels it makes, and the faulty files it refuses (bytes come from
// the network).
#include "records/icon_file.h"
#include "service/icon_file.h"
#include "service/icon_image.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Icon files made byte by byte: bitmap images from ARGB pixels (top row first), PNG images from given bytes.
constexpr std::size_t kIconDirectory = 6;  // first directory entry
constexpr std::size_t kIconEntryBytes = 16;
using IconPart = qv::IconEntry;
using qv::WriteIconFile;

void Put8(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
}

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put8(out, at, value & 0xFF);
    Put8(out, at + 1, value >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at] | (in[at + 1] << 8) | (in[at + 2] << 16)) |
           (static_cast<std::uint32_t>(in[at + 3]) << 24);
}

// The bytes with one field changed.
template <typename Put>
std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes, Put put, std::size_t at, std::uint32_t value) {
    put(bytes, at, value);
    return bytes;
}

std::size_t RowStride(int width, int bits) { return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4; }

// A bitmap image. Palette images list their distinct colours first and pad the palette to `paletteEntries` (default:
// all the depth allows). Pixels with alpha 0 are masked out.
IconPart BitmapPart(int width, int height, int bits, const std::vector<std::uint32_t>& argb,
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
    return {width, height, 0, bits, std::move(out)};
}

IconPart SolidPart(int side, int bits, std::uint32_t argb) {
    return BitmapPart(side, side, bits, std::vector<std::uint32_t>(static_cast<std::size_t>(side * side), argb));
}

// Where image i's bitmap header starts in the file.
std::size_t ImageAt(const std::vector<std::uint8_t>& file, std::size_t i) {
    return Get32(file, kIconDirectory + i * kIconEntryBytes + 12);
}

constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kBlue = 0xFF0000FF;
constexpr std::uint32_t kClear = 0x00FF0000;  // transparent; its colour is red

std::vector<std::uint8_t> PngBytes(int side, QRgb colour) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return {bytes.begin(), bytes.end()};
}

// How many of the file's images were found sound; 0 when it was refused.
std::size_t SoundImages(const std::vector<std::uint8_t>& bytes) {
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());  // must not crash either
    const auto file = ParseIconFile(bytes);
    return file ? file->images.size() : 0;
}

bool Refused(const std::vector<std::uint8_t>& bytes) { return SoundImages(bytes) == 0; }

// The image shown at the size; a null one when the file is refused.
QImage Shown(const std::vector<std::uint8_t>& bytes, int size) {
    const auto images = IconFileImages::Read(bytes);
    return images ? images->ImageFor(size) : QImage();
}

// An image that the decoder must leave out: its bitmap is compressed.
IconPart FaultyPart(int side, int bits) {
    IconPart part = SolidPart(side, bits, kBlue);
    Put32(part.data, 16, 1);
    return part;
}

// A PNG whose header is sound and whose compressed pixels are garbage.
std::vector<std::uint8_t> GarbledPng(int side) {
    auto png = PngBytes(side, qRgba(0, 0, 255, 255));
    const char* idat = "IDAT";
    const auto at = std::search(png.begin(), png.end(), idat, idat + 4);
    EXPECT_NE(at, png.end());
    std::fill_n(at + 4, (at[-2] << 8) | at[-1], 0x55);  // the chunk's length: small images stay under 64 KiB
    return png;
}

}  // namespace

TEST(IconFileImages, WidthFirstThenDepthThenTheFirstSoundImageAndItsPixelsPaletteAndMask) {
    // The deeper of two images of the width wins, and with none of the width the first one is shown: through the
    // document in ViewerDocTest.ProgramInfoIsAskedOncePerProgramWithItsIconsUntilACallFails.
    // Equal depth: the first of them; the width comes from the bitmap header, not from the directory (99 there).
    const auto file =
        ParseIconFile(With(WriteIconFile({SolidPart(16, 8, kRed), SolidPart(16, 8, kBlue)}), Put8, kIconDirectory, 99));
    ASSERT_TRUE(file);
    EXPECT_EQ(RankIconImages(*file, 16), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(file->images[0].width, 16);

    // PNG entries take part by their own header.
    const auto withPng = WriteIconFile({SolidPart(16, 4, kRed), {16, 16, 0, 32, PngBytes(16, qRgba(0, 0, 255, 255))}});
    EXPECT_EQ(Shown(withPng, 16).pixel(3, 3), kBlue);

    // The faulty 8-bit image would win at 32 pixels; the sound 4-bit one does.
    const auto faulty = WriteIconFile({FaultyPart(32, 8), SolidPart(32, 4, kRed), SolidPart(16, 8, kGreen)});
    ASSERT_EQ(SoundImages(faulty), 2u);
    EXPECT_EQ(Shown(faulty, 32).pixel(5, 5), kRed);
    EXPECT_EQ(Shown(faulty, 16).pixel(5, 5), kGreen);

    // No width matches: the first sound image, not the faulty first one.
    const QImage fallback = Shown(WriteIconFile({FaultyPart(16, 8), SolidPart(32, 4, kRed)}), 16);
    EXPECT_EQ(fallback.width(), 32);
    EXPECT_EQ(fallback.pixel(5, 5), kRed);

    // A PNG whose pixels cannot be decoded yields to the next image in rank.
    EXPECT_EQ(Shown(WriteIconFile({{32, 32, 0, 32, GarbledPng(32)}, SolidPart(32, 4, kGreen)}), 32).pixel(5, 5),
              kGreen);

    // Only when no image is sound is the file refused, saying what was wrong.
    std::string problem;
    EXPECT_FALSE(ParseIconFile(WriteIconFile({FaultyPart(32, 8), FaultyPart(16, 4)}), &problem));
    EXPECT_EQ(problem, "an image is compressed");
    EXPECT_FALSE(IconFileImages::Read(WriteIconFile({FaultyPart(32, 8)})));

    // Top row red, bottom row blue, one transparent pixel: in every depth.
    std::vector<std::uint32_t> argb(16 * 16, kGreen);
    for (int x = 0; x < 16; ++x) {
        argb[static_cast<std::size_t>(x)] = kRed;
        argb[static_cast<std::size_t>(15 * 16 + x)] = kBlue;
    }
    argb[17] = kClear;
    for (int bits : {1, 4, 8, 24, 32}) {
        std::vector<std::uint32_t> pixels = argb;
        if (bits == 1) std::replace(pixels.begin(), pixels.end(), kGreen, kRed);  // two colours at most
        const QImage image = Shown(WriteIconFile({BitmapPart(16, 16, bits, pixels)}), 16);
        EXPECT_EQ(image.pixel(0, 0), kRed) << bits;
        EXPECT_EQ(image.pixel(15, 15), kBlue) << bits;
        EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0) << bits;
        EXPECT_EQ(qAlpha(image.pixel(2, 1)), 255) << bits;
    }

    // A 32-bit image with no alpha at all is an old-style one: its mask rules.
    auto old = BitmapPart(16, 16, 32, std::vector<std::uint32_t>(16 * 16, 0x0000FF00));
    const std::size_t maskAt = 40 + 16 * 16 * 4;
    old.data[maskAt + 15 * 4] = 0x80;  // top row's first pixel (rows are stored bottom first)
    const QImage image = Shown(WriteIconFile({old}), 16);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(image.pixel(1, 0), kGreen);

    // A palette shorter than the depth allows; indexes past it read black.
    const auto shortPalette = BitmapPart(16, 16, 8, std::vector<std::uint32_t>(256, kRed), 1);
    EXPECT_EQ(Shown(WriteIconFile({shortPalette}), 16).pixel(0, 0), kRed);
}

TEST(IconFileHardening, HeaderDirectoryBitmapAndPngFaultsAreRefused) {
    const auto good = WriteIconFile({SolidPart(16, 8, kRed), SolidPart(32, 32, kGreen)});
    ASSERT_FALSE(Refused(good));

    EXPECT_TRUE(Refused({}));
    EXPECT_TRUE(Refused({0, 0, 1, 0, 1}));
    EXPECT_TRUE(Refused(With(WriteIconFile({SolidPart(16, 8, kRed)}), Put16, 2, 2)));  // a cursor file
    EXPECT_TRUE(Refused(With(good, Put16, 0, 1)));                                     // reserved
    EXPECT_TRUE(Refused(WriteIconFile({})));                                           // no images
    EXPECT_TRUE(Refused(With(good, Put16, 4, 4000)));  // the directory runs past the bytes

    // A directory entry that points wrong leaves its image out; the first image stays, and alone it would be refused.
    ASSERT_EQ(SoundImages(good), 2u);
    const std::size_t second = kIconDirectory + kIconEntryBytes;
    const std::size_t size = second + 8, offset = second + 12;
    EXPECT_EQ(SoundImages(With(good, Put32, size, Get32(good, size) + 1)), 1u);  // one byte past the end
    // offset + size wraps in 32 bits
    EXPECT_EQ(SoundImages(With(With(good, Put32, offset, 0xFFFFFFF0), Put32, size, 0x20)), 1u);
    EXPECT_EQ(SoundImages(With(good, Put32, size, 0xFFFFFFFF)), 1u);  // huge size
    EXPECT_EQ(SoundImages(With(good, Put32, size, 0)), 1u);           // empty
    EXPECT_EQ(SoundImages(With(good, Put32, offset, 2)), 1u);         // inside the directory
    EXPECT_TRUE(Refused(With(WriteIconFile({SolidPart(16, 8, kRed)}), Put32, kIconDirectory + 12, 2)));

    // The bitmap header.
    const auto bitmap = WriteIconFile({SolidPart(32, 4, kRed)});
    const std::size_t at = ImageAt(bitmap, 0);
    const auto with = [&](auto put, std::size_t field, std::uint32_t value) {
        return With(bitmap, put, at + field, value);
    };
    EXPECT_TRUE(Refused(with(Put32, 0, 12)));          // an old core header
    EXPECT_TRUE(Refused(with(Put32, 0, 0x7FFFFFFF)));  // header larger than the image
    EXPECT_TRUE(Refused(with(Put32, 4, 0)));           // width 0
    EXPECT_TRUE(Refused(with(Put32, 4, 0xFFFFFFE0)));  // width -32
    EXPECT_TRUE(Refused(with(Put32, 8, 0)));           // height 0
    EXPECT_TRUE(Refused(with(Put32, 8, 0xFFFFFFC0)));  // height -64 (top-down)
    EXPECT_TRUE(Refused(with(Put32, 8, 32)));          // not twice the image's height
    EXPECT_TRUE(Refused(with(Put32, 8, 65)));          // odd
    EXPECT_TRUE(Refused(with(Put16, 12, 2)));          // two planes
    for (std::uint32_t bits : {0u, 2u, 3u, 16u, 33u, 0xFFFFu}) EXPECT_TRUE(Refused(with(Put16, 14, bits))) << bits;
    EXPECT_TRUE(Refused(with(Put32, 32, 17)));  // palette larger than 4 bits allow
    EXPECT_TRUE(Refused(with(Put32, 32, 0xFFFFFFFF)));
    EXPECT_TRUE(Refused(WriteIconFile({BitmapPart(16, 16, 8, std::vector<std::uint32_t>(256, kRed), 257)})));
    const auto truecolour = WriteIconFile({SolidPart(16, 24, kRed)});
    EXPECT_TRUE(Refused(With(truecolour, Put32, ImageAt(truecolour, 0) + 32, 4)));  // a palette beside 24 bits

    // The mask one byte short, the directory's size telling the truth.
    auto shortMask = SolidPart(32, 4, kRed);
    shortMask.data.pop_back();
    EXPECT_TRUE(Refused(WriteIconFile({shortMask})));
    // Over 256 pixels wide, or tall (the directory says 256 as 0).
    EXPECT_TRUE(Refused(WriteIconFile({BitmapPart(257, 1, 1, std::vector<std::uint32_t>(257, kRed))})));
    EXPECT_TRUE(Refused(WriteIconFile({BitmapPart(1, 257, 1, std::vector<std::uint32_t>(257, kRed))})));
    EXPECT_FALSE(Refused(WriteIconFile({BitmapPart(256, 1, 1, std::vector<std::uint32_t>(256, kRed))})));

    // An embedded PNG.
    const auto png = PngBytes(32, qRgba(1, 2, 3, 255));
    const auto part = [](std::vector<std::uint8_t> bytes) {
        return WriteIconFile({{32, 32, 0, 32, std::move(bytes)}});
    };
    ASSERT_FALSE(Refused(part(png)));
    for (std::size_t cut : {9u, 20u, 33u, static_cast<unsigned>(png.size() / 2), static_cast<unsigned>(png.size() - 1)})
        EXPECT_TRUE(Refused(part({png.begin(), png.begin() + static_cast<std::ptrdiff_t>(cut)}))) << cut;
    EXPECT_TRUE(Refused(part(With(png, Put32, 16, 0))));        // no width
    EXPECT_TRUE(Refused(part(With(png, Put8, 16 + 2, 0x01))));  // width big-endian 0x0001xx20: far over 256
    EXPECT_TRUE(Refused(part(With(png, Put8, 8 + 25, 0xFF))));  // the next chunk 0xFF...... long: must not wrap
    EXPECT_TRUE(Refused(part(With(png, Put8, 8 + 8 + 9, 5))));  // colour type 5
    // A PNG whose compressed pixels are garbage gives no image, not a failure.
    const auto images = IconFileImages::Read(part(GarbledPng(32)));
    ASSERT_TRUE(images);
    EXPECT_TRUE(images->ImageFor(32).isNull());
}
