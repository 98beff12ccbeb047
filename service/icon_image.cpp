#include "service/icon_image.h"

#include <cstring>

namespace {

// Bounds the PNG decoding one program's icon may cost the UI thread, however
// many undecodable images its file holds.
constexpr std::size_t kMaxDecodeAttempts = 16;

}  // namespace

std::optional<IconFileImages> IconFileImages::Read(std::span<const std::uint8_t> bytes) {
    std::optional<IconFile> file = ParseIconFile(bytes);
    if (!file) return std::nullopt;
    return IconFileImages(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), std::move(*file));
}

QImage IconFileImages::ImageFor(int size) const {
    const std::vector<std::size_t> ranked = RankIconImages(file_, size);
    for (std::size_t i = 0; i < ranked.size() && i < kMaxDecodeAttempts; ++i) {
        QImage image = Decode(file_.images[ranked[i]]);
        if (!image.isNull()) return image;
    }
    return {};
}

QImage IconFileImages::Decode(const IconEntry& entry) const {
    if (entry.png) {
        const auto* data = bytes_.data() + entry.offset;
        return QImage::fromData(data, static_cast<int>(entry.size), "PNG");
    }
    std::optional<IconPixels> pixels = DecodeIconBitmap(bytes_, entry);
    if (!pixels) return {};
    QImage image(pixels->width, pixels->height, QImage::Format_RGBA8888);
    if (image.isNull()) return {};
    const auto rowBytes = static_cast<std::size_t>(pixels->width) * 4;
    for (int y = 0; y < pixels->height; ++y)
        std::memcpy(image.scanLine(y), pixels->rgba.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    return image;
}
