#pragma once
// What qvviewer answers without opening a window, so that it works without
// a display: --help and --version. Every other argument is left to Qt
// (-platform, -style, ...).
#include <cstdio>
#include <optional>

// The exit status when the arguments ask for help or the version, which it
// writes to out; nothing otherwise.
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::FILE* out);
