#pragma once
// Images of an icon file for the document's image lists: the decoder picks
// the image by width and colour depth; bitmaps are turned into pixels here,
// embedded PNGs are decoded by Qt.
#include "icon_file.h"

#include <QImage>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class IconFileImages {
public:
    // Nullopt when the bytes are not a sound icon file.
    static std::optional<IconFileImages> Read(std::span<const std::uint8_t> bytes);

    // The image chosen for a list of `size` pixels, at its own size; a null
    // image when the chosen image cannot be made.
    QImage ImageFor(int size) const;

private:
    IconFileImages(std::vector<std::uint8_t> bytes, IconFile file) : bytes_(std::move(bytes)), file_(std::move(file)) {}

    std::vector<std::uint8_t> bytes_;
    IconFile file_;
};
