#include "app/viewer_command_line.h"

#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: qvviewer [Qt options]\n"
    "       qvviewer --help | --version\n"
    "The Quorvis activity viewer. It connects to the Quorvis Service named in its\n"
    "Options and keeps its settings in $XDG_CONFIG_HOME/qvviewer/user.reg, or in the\n"
    "file named by QVVIEWER_HIVE. Qt's own options, such as -platform and -style,\n"
    "are accepted.\n";

}  // namespace

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::FILE* out) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, out);
            return 0;
        }
        if (argument == "--version") {
            std::fputs("qvviewer " QVVIEWER_VERSION "\n", out);
            return 0;
        }
    }
    return std::nullopt;
}
