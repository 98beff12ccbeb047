#include "qvservice/demo/demo_catalog.h"
#include "qvservice/model/icon_file.h"

#include <algorithm>
#include <cmath>

namespace qv::server {

namespace {

std::uint32_t Rgb(int r, int g, int b) {
    return 0xFF000000u | static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 |
           static_cast<std::uint32_t>(b);
}

// A saturated colour for each program, spread around the colour wheel.
std::uint32_t BaseColour(std::size_t index) {
    const double hue = std::fmod(static_cast<double>(index) * 137.508, 360.0) / 60.0;
    const double x = 1.0 - std::fabs(std::fmod(hue, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hue)) {
        case 0:
            r = 1;
            g = x;
            break;
        case 1:
            r = x;
            g = 1;
            break;
        case 2:
            g = 1;
            b = x;
            break;
        case 3:
            g = x;
            b = 1;
            break;
        case 4:
            r = x;
            b = 1;
            break;
        default:
            r = 1;
            b = x;
            break;
    }
    const auto level = [](double v) { return static_cast<int>(40 + v * 180); };
    return Rgb(level(r), level(g), level(b));
}

std::uint32_t Darker(std::uint32_t colour, double factor) {
    const auto channel = [&](int shift) { return static_cast<int>(((colour >> shift) & 0xFF) * factor); };
    return Rgb(channel(16), channel(8), channel(0));
}

// A rounded tile in the program's colour with a white emblem whose shape
// depends on the program; flat colours when the depth has a palette.
IconImage Draw(std::size_t index, int size, int bitsPerPixel) {
    IconImage image;
    image.size = size;
    image.bitsPerPixel = bitsPerPixel;
    image.argb.assign(static_cast<std::size_t>(size * size), 0);
    const std::uint32_t base = BaseColour(index);
    const double radius = size / 5.0;
    const double c = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = std::max({radius - x, x - (size - 1 - radius), 0.0});
            const double dy = std::max({radius - y, y - (size - 1 - radius), 0.0});
            if (dx * dx + dy * dy > radius * radius) continue;  // a rounded corner stays transparent
            const bool edge =
                x == 0 || y == 0 || x == size - 1 || y == size - 1 || dx * dx + dy * dy > (radius - 1) * (radius - 1);
            std::uint32_t colour = edge ? Darker(base, 0.6) : base;
            if (!edge && bitsPerPixel == 32) colour = Darker(base, 1.0 - 0.35 * y / size);
            const double u = (x - c) / size;
            const double v = (y - c) / size;
            bool emblem = false;
            switch (index % 4) {
                case 0: emblem = u * u + v * v < 0.07; break;
                case 1: emblem = std::fabs(u) < 0.25 && std::fabs(v) < 0.08; break;
                case 2: emblem = std::fabs(u) + std::fabs(v) < 0.3; break;
                default:
                    emblem = (std::fabs(u) < 0.07 || std::fabs(v) < 0.07) && std::fabs(u) < 0.3 && std::fabs(v) < 0.3;
                    break;
            }
            if (emblem) colour = Rgb(255, 255, 255);
            image.argb[static_cast<std::size_t>(y * size + x)] = colour;
        }
    }
    return image;
}

}  // namespace

std::vector<unsigned char> DemoIcon(std::size_t programIndex) {
    std::vector<IconImage> images{Draw(programIndex, 16, 32), Draw(programIndex, 32, 32)};
    if (programIndex % 3 == 0) {
        images.push_back(Draw(programIndex, 16, 4));
        images.push_back(Draw(programIndex, 32, 4));
    } else if (programIndex % 3 == 1) {
        images.push_back(Draw(programIndex, 32, 8));
    }
    return EncodeIconFile(images);
}

}  // namespace qv::server
