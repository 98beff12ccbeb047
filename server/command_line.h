// The command line of qvservice: "--name value" or "--name=value" options
// and positional arguments.
#pragma once

#include <map>
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
  std::vector<std::string> positional;

  // The option's value, or fallback; throws UsageError when a required one is missing.
  std::string Get(std::string_view name, const char* fallback = nullptr) const;
};

// Throws UsageError for an unknown or repeated option or one without a value.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::vector<std::string_view>& known);

}  // namespace qv::server
