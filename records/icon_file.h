// The check an icon file (.ico) passes before the service stores it; the
// recorder makes the same check, so that a bad icon is refused to its sender
// instead of reaching the service.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace qv {

inline constexpr std::size_t kMaxIconBytes = 1 << 20;

// Why the bytes are not an icon file the viewer can read; nothing when they are.
std::optional<std::string> IconFileProblem(std::span<const unsigned char> bytes);

}  // namespace qv
