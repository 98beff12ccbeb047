#include "qvrecorder/options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>

namespace qv::recorder {

namespace {

constexpr std::array<std::string_view, 9> kNames{"server", "tls-ca",      "tls-cert",  "tls-key",        "spool",
                                                 "socket", "user-prefix", "retry-max", "spool-max-bytes"};
constexpr std::int64_t kMaxRetrySeconds = 86'400;
constexpr std::size_t kMaxPrefixBytes = 256;

using Settings = std::map<std::string, std::string, std::less<>>;

bool Known(std::string_view name) { return std::find(kNames.begin(), kNames.end(), name) != kNames.end(); }

std::uint64_t WholeNumber(const std::string& text, std::uint64_t max, const std::string& what) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
        throw std::invalid_argument(what + " takes a whole number up to " + std::to_string(max) + ", not '" + text +
                                    "'");
    }
    return value;
}

// A byte count, with an optional K, M or G (powers of 1024).
std::uint64_t ByteCount(std::string text) {
    const std::string original = text;
    int shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K': shift = 10; break;
            case 'M': shift = 20; break;
            case 'G': shift = 30; break;
        }
        if (shift != 0) text.pop_back();
    }
    const std::uint64_t limit = (std::uint64_t{1} << 50) >> shift;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > limit) {
        throw std::invalid_argument("spool-max-bytes takes a byte count above 0, as 1073741824, 1024M or 1G, not '" +
                                    original + "'");
    }
    return value << shift;
}

void Apply(DaemonOptions& options, std::string_view name, const std::string& value) {
    if (value.empty() && name != "user-prefix") throw std::invalid_argument(std::string(name) + " needs a value");
    if (name == "server") {
        const std::size_t colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() ||
            value.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
            throw std::invalid_argument("server takes HOST:PORT, not '" + value + "'");
        }
        WholeNumber(value.substr(colon + 1), 65535, "server's port");
        options.server = value;
    } else if (name == "tls-ca") {
        options.tlsCa = value;
    } else if (name == "tls-cert") {
        options.tlsCert = value;
    } else if (name == "tls-key") {
        options.tlsKey = value;
    } else if (name == "spool") {
        options.spool = value;
    } else if (name == "socket") {
        options.socket = value;
    } else if (name == "user-prefix") {
        if (value.size() > kMaxPrefixBytes ||
            std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
            throw std::invalid_argument("user-prefix must be at most " + std::to_string(kMaxPrefixBytes) +
                                        " bytes without control characters");
        }
        options.userPrefix = value;
    } else if (name == "retry-max") {
        const auto seconds = WholeNumber(value, kMaxRetrySeconds, "retry-max");
        if (seconds == 0) throw std::invalid_argument("retry-max takes at least 1 second");
        options.retryMax = std::chrono::seconds(seconds);
    } else if (name == "spool-max-bytes") {
        options.spoolMaxBytes = ByteCount(value);
    }
}

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// Applies the file's settings to options; the session recorder's lines are its own.
void ReadSettingsFile(const std::string& path, bool required, DaemonOptions& options) {
    Settings settings;
    for (const SettingsLine& line : ReadSettingsLines(path, required)) {
        if (line.name.rfind(kSessionSettingsPrefix, 0) == 0) continue;
        if (!Known(line.name)) throw SettingsError(line.where + "unknown setting '" + line.name + "'");
        if (settings.contains(line.name)) throw SettingsError(line.where + line.name + " is set twice");
        try {
            Apply(options, line.name, line.value);
        } catch (const std::invalid_argument& bad) {
            throw SettingsError(line.where + bad.what());
        }
        settings[line.name] = line.value;
    }
}

// "--name value" and "--name=value"; the config file's name under "config".
Settings ParseArgs(const std::vector<std::string>& args, bool clientOnly) {
    Settings given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) throw UsageError("unexpected argument " + arg);
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const bool allowed = name == "config" || (clientOnly ? name == "socket" : Known(name));
        if (!allowed) throw UsageError("unknown option --" + name);
        if (given.contains(name)) throw UsageError("--" + name + " is given twice");
        if (equals != std::string::npos) {
            given[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            given[name] = args[++i];
        } else {
            throw UsageError("--" + name + " needs a value");
        }
    }
    return given;
}

}  // namespace

std::vector<SettingsLine> ReadSettingsLines(const std::string& path, bool required) {
    std::vector<SettingsLine> lines;
    std::ifstream in(path);
    if (!in) {
        if (!required && (errno == ENOENT || errno == EACCES)) return lines;
        throw SettingsError("cannot read the settings file " + path + ": " + std::strerror(errno));
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string text = Trim(line);
        if (text.empty() || text.front() == '#') continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) throw SettingsError(where + "expected 'name = value'");
        lines.push_back(
            {Trim(std::string_view(text).substr(0, equals)), Trim(std::string_view(text).substr(equals + 1)), where});
    }
    if (in.bad()) throw SettingsError("cannot read the settings file " + path);
    return lines;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

DaemonOptions ParseDaemonOptions(const std::vector<std::string>& args, const std::string& defaultConfig) {
    const Settings given = ParseArgs(args, false);
    DaemonOptions options;
    const auto config = given.find("config");
    ReadSettingsFile(config == given.end() ? defaultConfig : config->second, config != given.end(), options);
    for (const auto& [name, value] : given) {
        if (name == "config") continue;
        try {
            Apply(options, name, value);
        } catch (const std::invalid_argument& bad) {
            throw UsageError("--" + std::string(bad.what()));
        }
    }
    for (const auto& [value, name] : {std::pair{&options.server, "server"}, std::pair{&options.tlsCa, "tls-ca"},
                                      std::pair{&options.tlsCert, "tls-cert"}, std::pair{&options.tlsKey, "tls-key"}}) {
        if (value->empty())
            throw UsageError(std::string("--") + name + " is required (or " + name + " in " +
                             (config == given.end() ? defaultConfig : config->second) + ")");
    }
    return options;
}

std::string ParseClientSocket(const std::vector<std::string>& args, const std::string& defaultConfig) {
    const Settings given = ParseArgs(args, true);
    if (const auto socket = given.find("socket"); socket != given.end()) return socket->second;
    DaemonOptions options;
    const auto config = given.find("config");
    ReadSettingsFile(config == given.end() ? defaultConfig : config->second, config != given.end(), options);
    return options.socket;
}

}  // namespace qv::recorder
