#include "records/icon_file.h"

#include <cstdint>

namespace qv {

namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kEntryBytes = 16;

std::uint32_t Read16(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Read32(std::span<const unsigned char> b, std::size_t at) {
    return Read16(b, at) | (Read16(b, at + 2) << 16);
}

}  // namespace

void AppendLittleEndian16(std::vector<unsigned char>& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void AppendLittleEndian32(std::vector<unsigned char>& out, std::uint32_t value) {
    AppendLittleEndian16(out, value & 0xFFFF);
    AppendLittleEndian16(out, value >> 16);
}

std::vector<unsigned char> WriteIconFile(const std::vector<IconEntry>& entries) {
    std::vector<unsigned char> out;
    AppendLittleEndian16(out, 0);
    AppendLittleEndian16(out, 1);
    AppendLittleEndian16(out, static_cast<std::uint32_t>(entries.size()));
    std::size_t offset = kHeaderBytes + entries.size() * kEntryBytes;
    for (const IconEntry& entry : entries) {
        out.push_back(static_cast<unsigned char>(entry.width >= 256 ? 0 : entry.width));
        out.push_back(static_cast<unsigned char>(entry.height >= 256 ? 0 : entry.height));
        out.push_back(static_cast<unsigned char>(entry.colours >= 256 ? 0 : entry.colours));
        out.push_back(0);
        AppendLittleEndian16(out, 1);
        AppendLittleEndian16(out, static_cast<std::uint32_t>(entry.bitsPerPixel));
        AppendLittleEndian32(out, static_cast<std::uint32_t>(entry.data.size()));
        AppendLittleEndian32(out, static_cast<std::uint32_t>(offset));
        offset += entry.data.size();
    }
    for (const IconEntry& entry : entries) out.insert(out.end(), entry.data.begin(), entry.data.end());
    return out;
}

std::optional<std::string> IconFileProblem(std::span<const unsigned char> bytes) {
    if (bytes.size() > kMaxIconBytes) return "larger than " + std::to_string(kMaxIconBytes) + " bytes";
    if (bytes.size() < kHeaderBytes) return std::string("too short for an icon file");
    if (Read16(bytes, 0) != 0 || Read16(bytes, 2) != 1) return std::string("not an icon file (wrong header)");
    const std::size_t count = Read16(bytes, 4);
    if (count == 0) return std::string("holds no images");
    const std::size_t directoryEnd = kHeaderBytes + count * kEntryBytes;
    if (directoryEnd > bytes.size()) return std::string("its directory is cut short");
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderBytes + i * kEntryBytes;
        const std::uint64_t size = Read32(bytes, entry + 8);
        const std::uint64_t offset = Read32(bytes, entry + 12);
        if (size == 0 || offset < directoryEnd || offset + size > bytes.size()) {
            return "image " + std::to_string(i + 1) + " lies outside the file";
        }
    }
    return std::nullopt;
}

}  // namespace qv
