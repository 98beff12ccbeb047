#pragma once
// The viewer's own settings under the key
// "SOFTWARE\Marrowind Software\Quorvis\Viewer" of the current user's hive:
// the report period ("StartDate", "EndDate" as 8 raw little-endian bytes of
// the OLE date, "PeriodType" as a DWORD), the server name ("Server") and the
// files of a TLS connection to it ("TlsCaFile", "TlsCertFile",
// "TlsKeyFile"). An absent value leaves the caller's value as it was.
#include "platform/hive_store.h"
#include "platform/tls_files.h"
#include "service/report_period.h"

#include <string>

inline constexpr char16_t kViewerKey[] = u"SOFTWARE\\Marrowind Software\\Quorvis\\Viewer";

// False when the key cannot be opened or created (nothing is read).
bool LoadSettings(HiveStore& hive, ReportPeriod& period);
// False when the key cannot be opened or created, or the hive file could not
// be written (the reason goes to standard error).
bool SaveSettings(HiveStore& hive, const ReportPeriod& period);

// Empty when absent or unreadable.
std::u16string ReadServerName(HiveStore& hive);
// Stores the name and writes the hive file at once; false when it could not.
bool WriteServerName(HiveStore& hive, std::u16string_view server);

// The three paths, UTF-8; an absent or unreadable value is empty.
TlsFiles ReadTlsSettings(HiveStore& hive);
// Stores the paths (an empty one removes its value) and writes the hive
// file at once; false when it could not.
bool WriteTlsSettings(HiveStore& hive, const TlsFiles& files);
