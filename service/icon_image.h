#pragma once
// Images of an icon file for the document's image lists: the decoder ranks
// the sound images by width and colour depth; bitmaps are turned into pixels
// here, embedded PNGs are decoded by Qt.
#include "service/icon_file.h"

#include <QImage>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class IconFileImages {
public:
    // Nullopt when the bytes hold no sound icon image.
    static std::optional<IconFileImages> Read(std::span<const std::uint8_t> bytes);

    // The image chosen for a list of `size` pixels, at its own size: the
    // best-ranked one that decodes (an embedded PNG's compressed pixels are
    // checked only here); a null image when none of the first few does.
    QImage ImageFor(int size) const;

private:
    QImage Decode(const IconEntry& entry) const;

    IconFileImages(std::vector<std::uint8_t> bytes, IconFile file) : bytes_(std::move(bytes)), file_(std::move(file)) {}

    std::vector<std::uint8_t> bytes_;
    IconFile file_;
};
