// The subcommands of qvrecorder; each returns the exit code and throws
// UsageError for a command line it cannot run.
#pragma once

#include <string>
#include <vector>

namespace qv::recorder {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// session: a desktop it cannot record (GNOME or KDE on Wayland, no display);
// the user unit does not restart on it.
inline constexpr int kExitUnsupportedDesktop = 2;

int RunDaemon(const std::vector<std::string>& args);
int RunSend(const std::vector<std::string>& args);
int RunStatus(const std::vector<std::string>& args);
int RunSession(const std::vector<std::string>& args);

}  // namespace qv::recorder
