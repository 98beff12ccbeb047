// libFuzzer target of the icon-file decoder: any bytes are refused or decode into pixels of the image's size, reading
// nothing outside the input. The GoogleTest program runs the same entry point over crafted inputs.
#include "service/icon_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::optional<IconFile> file = ParseIconFile(bytes);
    if (!file) return 0;
    if (file->images.empty()) std::abort();
    for (int wanted : {16, 32, 48}) {
        const std::vector<std::size_t> ranked = RankIconImages(*file, wanted);
        if (ranked.size() != file->images.size()) std::abort();
        const IconEntry& entry = file->images[ranked.front()];
        if (entry.width < 1 || entry.width > kMaxIconSide || entry.height < 1 || entry.height > kMaxIconSide)
            std::abort();
        const std::optional<IconPixels> pixels = DecodeIconBitmap(bytes, entry);
        if (entry.png != !pixels) std::abort();
        if (pixels && pixels->rgba.size() != static_cast<std::size_t>(pixels->width) * pixels->height * 4) std::abort();
    }
    return 0;
}
