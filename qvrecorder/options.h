// The daemon's settings, from /etc/qvrecorder.conf (or --config FILE) and
// the command line, which wins. The file's lines are "name = value" with the
// options' names without "--"; "#" starts a comment line.
#pragma once

#include "qvrecorder/relay_protocol.h"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::recorder {

inline constexpr const char* kDefaultConfig = "/etc/qvrecorder.conf";

// A command line that cannot be run; main prints the usage with it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A settings file that cannot be used; the text names the file and line.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DaemonOptions {
    std::string server;  // HOST:PORT
    std::string tlsCa;
    std::string tlsCert;
    std::string tlsKey;
    std::string spool = "/var/lib/qvrecorder";
    std::string socket = kDefaultSocket;
    std::string userPrefix;
    std::chrono::seconds retryMax{300};
    std::uint64_t spoolMaxBytes = std::uint64_t{1} << 30;
};

// Throws UsageError for the command line, SettingsError for the file. A missing default file is no error; a
// missing named one is. Checks that every required setting is given.
DaemonOptions ParseDaemonOptions(const std::vector<std::string>& args,
                                 const std::string& defaultConfig = kDefaultConfig);

// send and status: the socket from --socket, else from the settings file
// when it can be read, else the default.
std::string ParseClientSocket(const std::vector<std::string>& args, const std::string& defaultConfig = kDefaultConfig);

// Lines of /etc/qvrecorder.conf named so belong to the session recorder; the daemon passes over them.
inline constexpr const char* kSessionSettingsPrefix = "session-";

struct SettingsLine {
    std::string name;
    std::string value;
    std::string where;  // "FILE:LINE: ", to start an error's text
};

// The "name = value" lines of a settings file, without comments and blank lines. Throws SettingsError for a line
// without "=" or a file that cannot be read; a missing file that is not required has no lines.
std::vector<SettingsLine> ReadSettingsLines(const std::string& path, bool required);

// True when the arguments ask for help.
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace qv::recorder
