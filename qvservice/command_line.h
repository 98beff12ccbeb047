// The command line of qvservice: "--name value" or "--name=value" options,
// "--name" flags and positional arguments.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv::server {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    std::map<std::string, std::string, std::less<>> options;
    std::set<std::string, std::less<>> flags;
    std::vector<std::string> positional;

    // The option's value, or fallback; throws UsageError when a required one is missing.
    std::string Get(std::string_view name, const char* fallback = nullptr) const;
};

// Throws UsageError for an unknown or repeated option, an option without a
// value or a flag with one.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::vector<std::string_view>& known,
                             const std::vector<std::string_view>& knownFlags = {});

}  // namespace qv::server
