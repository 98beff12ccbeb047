// The string table: every text the program shows or writes by id.
#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <iterator>

namespace {

struct StringEntry {
    unsigned id;
    const char16_t* text;
};

// Ascending by id, so lookups can bisect.
constexpr StringEntry kStrings[] = {
    {kIdsOleInitFailed, u""},
    {kIdsToolbarStandard, u"Standard"},
    {kIdsProcess, u"Process"},
    {kIdsServerNotSet, u"Quorvis server name not set!"},
    {kIdsHtmlStyleHeader,
     u"<html>\r\n"
     u"<head>\r\n"
     u"<style TYPE=\"text/css\">\r\n"
     u"body  { color: #33342E; background-color: #E9EBE0; font-family: Arial; font-size: 10pt}\r\n"
     u"table { font-size: 12px; font-family: Arial; border: 1px solid #8C947E; background-color:#FFFFFF}\r\n"
     u"td    { border-left: 1px solid #A9ABA0; border-right: 1px solid #A9ABA0;\r\n"
     u"        border-top: 1px solid #E3E4E0; border-bottom: 1px solid #E4E6E1;}\r\n"
     u"th    { background-color: #DEDFDB; color: #000000; border: 1px solid #A9ABA0;}\r\n"
     u"</style>\r\n"},
    {kIdsVendorWebAddress, u"http://www.marrowind.com"},
    {kIdsOptions, u"Options"},
    {kIdsGeneral, u"General"},
    {kIdsFieldEmpty, u"This filed cannot be empty."},
    {kIdsCannotConnect, u"Cannot connect to - '%s'"},
    {kIdsAccessDenied, u"Access is denied to Quorvis Service on `%s`"},
    {kIdsNotInstalled, u"Quorvis Service is not installed on `%s`. Please install service."},
    {kIdsNotAvailable, u"`%s` is not available."},
    {kIdsConnectFailed, u"Can not connect to `%s`. Failed with message - %s"},
    {kIdsDocTemplate, u"QVViewer\n\nQVViewer\n\n\nQVViewer.Document\nQVViewer.Document"},
    {kIdsUsers, u"Users"},
    {kIdsComputers, u"Computers"},
    {kIdsApplications, u"Applications"},
    {kIdsComputer, u"Computer"},
    {kIdsTimeSpent, u"Time Spent"},
    {kIdsKeyboardEvents, u"Keyboard Events"},
    {kIdsMouseEvents, u"Mouse Events"},
    {kIdsOthers, u"Others"},
    {kIdsProgramName, u"Program Name"},
    {kIdsComputerCaption, u"%s on %s"},
    {kIdsWindowTitle, u"Window Title"},
    {kIdsUserName, u"User Name"},
    {kIdsApplicationCaption, u"%s (%s on %s)"},
    {kIdsAppUserCaption, u"% s (by %s)"},
    {kIdsAppTitle, u"QVViewer"},
    {kIdsIdleMessage, u"Ready"},
    {kIdsIndicatorCaps, u"CAP"},
    {kIdsIndicatorNum, u"NUM"},
    {kIdsIndicatorScroll, u"SCRL"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; }));

const StringEntry* FindEntry(unsigned id) {
    const auto* it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                      [](const StringEntry& e, unsigned key) { return e.id < key; });
    return (it != std::end(kStrings) && it->id == id) ? it : nullptr;
}

}  // namespace

QString LoadResString(unsigned id) {
    const StringEntry* entry = FindEntry(id);
    return entry ? QString::fromUtf16(entry->text) : QString();
}

bool HasResString(unsigned id) { return FindEntry(id) != nullptr; }

QList<unsigned> ResStringIds() {
    QList<unsigned> ids;
    for (const StringEntry& entry : kStrings) ids.append(entry.id);
    return ids;
}

QString FormatResText(const QString& format, const QStringList& args) {
    QString out;
    out.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != u'%') {
            out.append(c);
            continue;
        }
        if (format.mid(i + 1, 1) == u"%") {
            out.append(u'%');
            ++i;
        } else if (format.mid(i + 1, 1) == u"s" || format.mid(i + 1, 2) == u" s") {
            if (next < args.size()) out.append(args.at(next));
            ++next;
            i += format.at(i + 1) == u's' ? 1 : 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString FormatResString(unsigned id, const QStringList& args) { return FormatResText(LoadResString(id), args); }
