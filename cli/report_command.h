#pragma once
// qvreport's work: connect to the server as the viewer does, walk the tree
// by display texts, build the item's report with the viewer's report
// classes, and write the files. Every failure is one line on standard
// error; the exit status says whether the files were written.
#include "cli/report_options.h"

inline constexpr int kExitWritten = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Needs a QApplication (the report view is a widget, never shown).
int RunReportCommand(const ReportOptions& options);
// Parses, runs, and reports; the whole program.
int ReportMain(int argc, char** argv);
