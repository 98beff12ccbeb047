// The service's log: one line per event on standard error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::server {

void LogLine(std::string_view message);

// Text from a client made safe for a log line or a description: control and
// non-ASCII bytes escaped, long texts cut.
std::string Printable(std::string_view text, std::size_t maxBytes = 80);

}  // namespace qv::server
