#pragma once
// The command line of qvreport, read into what the report needs: the
// server, the tree and the path of display texts to walk, the period, and
// the files to write.
#include "service/report_period.h"

#include <QString>
#include <QStringList>

#include <optional>

enum class ReportTree { Users, Computers, Applications };

struct ReportOptions {
    QString server;
    ReportTree tree = ReportTree::Users;
    QStringList path;  // display texts, top level first
    int periodType = kPeriodThisYear;
    double from = 0.0;  // OLE dates; custom period only
    double to = 0.0;
    QString htmlFile;
    QString csvFile;
    QString tlsCaFile;    // empty: plain text
    QString tlsCertFile;  // with tlsKeyFile, or neither
    QString tlsKeyFile;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<ReportOptions> options;
    QString error;  // why the command line was refused
};

ParsedOptions ParseReportOptions(const QStringList& arguments);
// "YYYY-MM-DD HH:MM" (or "YYYY-MM-DD", midnight) in local time.
std::optional<double> ParseLocalDateTime(const QString& text);
QString ReportUsage();
