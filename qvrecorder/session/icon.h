// Program icons as the store keeps them: Windows icon files (.ico), made
// from a window's own pixels or from the PNG files of an icon theme.
#pragma once

#include "records/icon_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv::recorder {

struct ArgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // width * height, top row first, alpha in the high byte
};

// One 32-bit image (BGRA with an AND mask) per image given, each 1 to 256
// pixels a side; empty when there is none or one is malformed.
std::vector<unsigned char> IconFromArgb(const std::vector<ArgbImage>& images);

// The PNG files as the images of one icon file (an .ico may hold PNG
// images); files that are not PNGs are left out; empty when none is left.
std::vector<unsigned char> IconFromPngs(const std::vector<std::string>& pngs);

// The image of images nearest in size to size, scaled to size x size
// (nearest neighbour); what _NET_WM_ICON offers seldom fits exactly.
ArgbImage ScaledImage(const std::vector<ArgbImage>& images, int size);

}  // namespace qv::recorder
