#include "qvservice/command_line.h"

#include <algorithm>

namespace qv::server {

std::string CommandLine::Get(std::string_view name, const char* fallback) const {
    if (const auto found = options.find(name); found != options.end()) return found->second;
    if (!fallback) throw UsageError("--" + std::string(name) + " is required");
    return fallback;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::vector<std::string_view>& known,
                             const std::vector<std::string_view>& knownFlags) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            line.positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        if (std::find(knownFlags.begin(), knownFlags.end(), name) != knownFlags.end()) {
            if (!line.flags.insert(name).second) throw UsageError(arg + " is given twice");
            continue;
        }
        std::string value;
        if (const std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        } else {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            value = args[++i];
        }
        if (std::find(knownFlags.begin(), knownFlags.end(), name) != knownFlags.end()) {
            throw UsageError("--" + name + " takes no value");
        }
        if (std::find(known.begin(), known.end(), name) == known.end()) throw UsageError("unknown option --" + name);
        if (!line.options.emplace(name, value).second) throw UsageError("--" + name + " is given twice");
    }
    return line;
}

}  // namespace qv::server
