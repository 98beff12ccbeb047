#include "cli/report_options.h"

#include "platform/ole_date.h"

#include <QRegularExpression>

#include <map>

namespace {

const std::map<QString, ReportTree> kTrees = {
    {"users", ReportTree::Users}, {"computers", ReportTree::Computers}, {"applications", ReportTree::Applications}};
const std::map<QString, int> kPeriods = {{"today", kPeriodToday},
                                         {"week", kPeriodThisWeek},
                                         {"month", kPeriodThisMonth},
                                         {"year", kPeriodThisYear},
                                         {"custom", kPeriodCustom}};

ParsedOptions Refuse(const QString& why) { return {std::nullopt, why}; }

}  // namespace

std::optional<double> ParseLocalDateTime(const QString& text) {
    static const QRegularExpression form(QStringLiteral(R"(^\s*(\d{4})-(\d{2})-(\d{2})(?:[ T](\d{2}):(\d{2}))?\s*$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    return OleDateFromFields(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                             m.captured(4).isEmpty() ? 0 : m.captured(4).toInt(),
                             m.captured(5).isEmpty() ? 0 : m.captured(5).toInt());
}

ParsedOptions ParseReportOptions(const QStringList& arguments) {
    ReportOptions options;
    QString tree, path, period, from, to;
    bool pathGiven = false;
    const std::map<QString, QString*> valued = {{"--server", &options.server},
                                                {"--tree", &tree},
                                                {"--path", &path},
                                                {"--period", &period},
                                                {"--from", &from},
                                                {"--to", &to},
                                                {"--html", &options.htmlFile},
                                                {"--csv", &options.csvFile},
                                                {"--tls-ca", &options.tlsCaFile},
                                                {"--tls-cert", &options.tlsCertFile},
                                                {"--tls-key", &options.tlsKeyFile}};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return {options, {}};
        }
        if (argument == "--version") {
            options.version = true;
            return {options, {}};
        }
        const auto found = valued.find(argument);
        if (found == valued.end()) return Refuse(QStringLiteral("unknown argument \"%1\"").arg(argument));
        if (i + 1 >= arguments.size()) return Refuse(QStringLiteral("%1 needs a value").arg(argument));
        *found->second = arguments[++i];
        if (argument == "--path") pathGiven = true;
    }
    if (options.server.trimmed().isEmpty()) return Refuse(QStringLiteral("--server is required"));
    const auto treeFound = kTrees.find(tree);
    if (treeFound == kTrees.end()) return Refuse(QStringLiteral("--tree must be users, computers or applications"));
    options.tree = treeFound->second;
    if (!pathGiven || path.isEmpty()) return Refuse(QStringLiteral("--path is required"));
    options.path = path.split(QLatin1Char('/'));
    if (options.path.contains(QString()))
        return Refuse(QStringLiteral("--path has an empty element: \"%1\"").arg(path));
    const auto periodFound = kPeriods.find(period);
    if (periodFound == kPeriods.end())
        return Refuse(QStringLiteral("--period must be today, week, month, year or custom"));
    options.periodType = periodFound->second;
    if (options.periodType == kPeriodCustom) {
        if (from.isEmpty() || to.isEmpty()) return Refuse(QStringLiteral("a custom period needs --from and --to"));
        const std::optional<double> start = ParseLocalDateTime(from);
        const std::optional<double> end = ParseLocalDateTime(to);
        if (!start) return Refuse(QStringLiteral("--from \"%1\" is not a date \"YYYY-MM-DD HH:MM\"").arg(from));
        if (!end) return Refuse(QStringLiteral("--to \"%1\" is not a date \"YYYY-MM-DD HH:MM\"").arg(to));
        if (*end < *start) return Refuse(QStringLiteral("--to comes before --from"));
        options.from = *start;
        options.to = *end;
    } else if (!from.isEmpty() || !to.isEmpty()) {
        return Refuse(QStringLiteral("--from and --to belong to --period custom"));
    }
    if (options.htmlFile.isEmpty() && options.csvFile.isEmpty())
        return Refuse(QStringLiteral("--html or --csv is required"));
    if (options.tlsCertFile.isEmpty() != options.tlsKeyFile.isEmpty())
        return Refuse(QStringLiteral("--tls-cert and --tls-key go together"));
    if (!options.tlsCertFile.isEmpty() && options.tlsCaFile.isEmpty())
        return Refuse(QStringLiteral("--tls-cert needs --tls-ca"));
    return {options, {}};
}

QString ReportUsage() {
    return QStringLiteral(
        "usage: qvreport --server NAME --tree users|computers|applications --path \"A/B/C\"\n"
        "                --period today|week|month|year|custom [--from \"YYYY-MM-DD HH:MM\"] [--to ...]\n"
        "                [--html FILE] [--csv FILE] [--tls-ca FILE [--tls-cert FILE --tls-key FILE]]\n"
        "       qvreport --help | --version\n"
        "Builds the report of the tree item named by --path (display texts, top level first)\n"
        "for the period and writes it as the viewer's Export Report would (--html) or as CSV\n"
        "with the milliseconds after \"Time Spent\" (--csv). With --tls-ca it connects over TLS,\n"
        "checking the service's certificate against that CA and the server's host name, and\n"
        "shows the service the client certificate of --tls-cert. Exit status: 0 written, 1 failed,\n"
        "2 bad command line.\n");
}
