// The programs' log: one line per event on standard error, stamped with the
// local time and the program's name, or plain when standard error is the
// journal's stream (it stamps and names every line itself).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

void LogLine(std::string_view message);
// The line with its end; the journal's has neither time stamp nor name.
std::string FormatLogLine(std::string_view message, bool toJournal, std::string_view program);

// True when fd is the stream that journalStream ("DEVICE:INODE", the value of
// JOURNAL_STREAM) names; null or malformed names none.
bool IsJournalStream(const char* journalStream, int fd);

// Text from a client made safe for a log line or a description: control and
// non-ASCII bytes escaped, long texts cut.
std::string Printable(std::string_view text, std::size_t maxBytes = 80);

}  // namespace qv
