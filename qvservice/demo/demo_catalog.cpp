#include "qvservice/demo/demo_catalog.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace qv::server {

namespace {

using K = ProgramKind;

constexpr std::array<DemoProgram, 60> kPrograms{{
    {"winword.exe", "Microsoft Word", K::Document},
    {"excel.exe", "Microsoft Excel", K::Sheet},
    {"powerpnt.exe", "Microsoft PowerPoint", K::Slides},
    {"outlook.exe", "Microsoft Outlook", K::Mail},
    {"onenote.exe", "Microsoft OneNote", K::Document},
    {"msaccess.exe", "Microsoft Access", K::Business},
    {"winproj.exe", "Microsoft Project", K::Business},
    {"visio.exe", "Microsoft Visio", K::Design},
    {"teams.exe", "Microsoft Teams", K::Chat},
    {"chrome.exe", "Google Chrome", K::Browser},
    {"firefox.exe", "Firefox", K::Browser},
    {"msedge.exe", "Microsoft Edge", K::Browser},
    {"iexplore.exe", "Internet Explorer", K::Browser},
    {"thunderbird.exe", "Thunderbird", K::Mail},
    {"slack.exe", "Slack", K::Chat},
    {"skype.exe", "Skype", K::Chat},
    {"zoom.exe", "Zoom Meetings", K::Chat},
    {"devenv.exe", "Microsoft Visual Studio", K::Code},
    {"code.exe", "Visual Studio Code", K::Code},
    {"idea64.exe", "IntelliJ IDEA", K::Code},
    {"pycharm64.exe", "PyCharm", K::Code},
    {"qtcreator.exe", "Qt Creator", K::Code},
    {"ssms.exe", "SQL Server Management Studio", K::Code},
    {"cmd.exe", "Windows Command Processor", K::Console},
    {"powershell.exe", "Windows PowerShell", K::Console},
    {"putty.exe", "PuTTY SSH client", K::Console},
    {"windowsterminal.exe", "Windows Terminal", K::Console},
    {"mstsc.exe", "Remote Desktop Connection", K::Console},
    {"explorer.exe", "Windows Explorer", K::Files},
    {"totalcmd.exe", "Total Commander", K::Files},
    {"winrar.exe", "WinRAR archiver", K::Files},
    {"7zfm.exe", "7-Zip File Manager", K::Files},
    {"vlc.exe", "VLC media player", K::Media},
    {"spotify.exe", "Spotify", K::Media},
    {"wmplayer.exe", "Windows Media Player", K::Media},
    {"mspaint.exe", "Paint", K::Design},
    {"photoshop.exe", "Adobe Photoshop", K::Design},
    {"illustrator.exe", "Adobe Illustrator", K::Design},
    {"acad.exe", "AutoCAD", K::Design},
    {"gimp-2.10.exe", "GNU Image Manipulation Program", K::Design},
    {"inkscape.exe", "Inkscape", K::Design},
    {"acrord32.exe", "Adobe Acrobat Reader", K::Reader},
    {"sumatrapdf.exe", "SumatraPDF", K::Reader},
    {"saplogon.exe", "SAP Logon", K::Business},
    {"1cv8.exe", "1C:Enterprise 8", K::Business},
    {"qbw32.exe", "QuickBooks", K::Business},
    {"notepad.exe", "Notepad", K::Document},
    {"notepad++.exe", "Notepad++", K::Document},
    {"wordpad.exe", "Windows Wordpad Application", K::Document},
    {"swriter.exe", "LibreOffice Writer", K::Document},
    {"scalc.exe", "LibreOffice Calc", K::Sheet},
    {"simpress.exe", "LibreOffice Impress", K::Slides},
    {"calc.exe", "Windows Calculator", K::Tool},
    {"taskmgr.exe", "Task Manager", K::Tool},
    {"mmc.exe", "Microsoft Management Console", K::Tool},
    {"keepass.exe", "KeePass Password Safe", K::Tool},
    {"snippingtool.exe", "Snipping Tool", K::Tool},
    {"regedit.exe", "Registry Editor", K::Tool},
    {"javaw.exe", "", K::Business},
    {"crmclient.exe", "", K::Business},
}};

constexpr std::array<const char*, 25> kFirstNames{
    "anna", "ben",  "carla", "david",   "eva",  "felix", "greta", "hugo", "ines", "jonas",  "katja", "lukas", "mila",
    "noah", "olga", "paul",  "quentin", "rosa", "sven",  "tanja", "uwe",  "vera", "walter", "xenia", "yusuf"};
constexpr std::array<const char*, 12> kLastNames{"meyer",  "schmidt",  "novak",   "dubois",  "rossi",  "garcia",
                                                 "larsen", "kowalski", "ivanova", "fischer", "moreau", "berg"};
constexpr std::array<const char*, 6> kDepartments{"FIN", "SALES", "DEV", "HR", "OPS", "LEGAL"};

constexpr std::array<const char*, 24> kTopics{"Budget 2025",
                                              "Quarterly report Q3",
                                              "Meeting notes",
                                              "Contract draft",
                                              "Project plan",
                                              "Invoice 10234",
                                              "Übersicht Vertrieb",
                                              "Отчёт за месяц",
                                              "Price list",
                                              "Customer list",
                                              "Roadmap",
                                              "Travel expenses",
                                              "Onboarding checklist",
                                              "Inventory",
                                              "Offer Müller GmbH",
                                              "Minutes board meeting",
                                              "Résumé candidates",
                                              "Forecast",
                                              "Release notes",
                                              "Audit findings",
                                              "営業報告",
                                              "Marketing plan",
                                              "Timesheet",
                                              "Policy update"};
constexpr std::array<const char*, 16> kSites{"Intranet - Home",
                                             "Search results",
                                             "News",
                                             "Online banking",
                                             "Weather forecast",
                                             "Wiki - Procedures",
                                             "Ticket #4711",
                                             "Supplier portal",
                                             "Webmail",
                                             "Maps",
                                             "Video",
                                             "Stock quotes",
                                             "Travel booking",
                                             "Documentation",
                                             "Shop - Cart",
                                             "Forum"};
constexpr std::array<const char*, 12> kFolders{"Documents",   "Downloads", "Desktop",   "Projects",
                                               "Shared (S:)", "Pictures",  "Reports",   "Archive",
                                               "Scans",       "Invoices",  "Contracts", "Temp"};
constexpr std::array<const char*, 12> kFiles{"main.cpp",  "service.cs", "index.ts",     "report.sql",
                                             "App.java",  "utils.py",   "Makefile",     "config.yaml",
                                             "README.md", "schema.sql", "build.gradle", "test_orders.py"};

template <typename Array>
const char* Pick(const Array& values, std::mt19937_64& random) {
    return values[random() % values.size()];
}

std::string Title(const DemoProgram& program, std::mt19937_64& random) {
    const std::string app = *program.description ? program.description : program.process;
    switch (program.kind) {
        case K::Document: return std::string(Pick(kTopics, random)) + ".docx - " + app;
        case K::Sheet: return std::string(Pick(kTopics, random)) + ".xlsx - " + app;
        case K::Slides: return std::string(Pick(kTopics, random)) + ".pptx - " + app;
        case K::Browser: return std::string(Pick(kSites, random)) + " - " + app;
        case K::Mail: return std::string(random() % 3 ? "Inbox - " : "RE: ") + Pick(kTopics, random) + " - " + app;
        case K::Chat: return std::string("Chat | ") + Pick(kFirstNames, random) + " | " + app;
        case K::Code: return std::string(Pick(kFiles, random)) + " - " + Pick(kTopics, random) + " - " + app;
        case K::Console: return std::string("C:\\Users\\") + Pick(kFirstNames, random) + "\\" + Pick(kFolders, random);
        case K::Files: return std::string(Pick(kFolders, random)) + " - " + Pick(kTopics, random);
        case K::Media: return std::string("Track ") + std::to_string(random() % 40 + 1) + " - " + app;
        case K::Design: return std::string(Pick(kTopics, random)) + ".png @ 100% - " + app;
        case K::Reader: return std::string(Pick(kTopics, random)) + ".pdf - " + app;
        case K::Business: return app + " - " + Pick(kTopics, random);
        case K::Tool: return app;
    }
    return app;
}

}  // namespace

std::span<const DemoProgram> DemoPrograms() { return kPrograms; }

std::vector<std::string> DemoUserNames(std::size_t count) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(std::string("CORP\\") + kFirstNames[i % kFirstNames.size()] + "." +
                        kLastNames[(i * 7) % kLastNames.size()] + (i >= kFirstNames.size() ? std::to_string(i) : ""));
    }
    return names;
}

std::vector<std::string> DemoComputerNames(std::size_t count) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "WS-%s-%02zu", kDepartments[i % kDepartments.size()], i + 1);
        names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> DemoWindowTitles(const DemoProgram& program, std::mt19937_64& random) {
    const std::size_t count = program.kind == K::Tool ? 1 : 10 + random() % 50;
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < count * 3 && titles.size() < count; ++i) {
        std::string title = Title(program, random);
        if (std::find(titles.begin(), titles.end(), title) == titles.end()) titles.push_back(std::move(title));
    }
    return titles;
}

std::pair<double, double> DemoEventRates(ProgramKind kind) {
    switch (kind) {
        case K::Document:
        case K::Mail:
        case K::Code:
        case K::Console: return {2.5, 0.4};
        case K::Sheet:
        case K::Business: return {1.5, 0.8};
        case K::Chat: return {1.8, 0.3};
        case K::Design:
        case K::Slides: return {0.4, 2.0};
        case K::Browser:
        case K::Reader:
        case K::Files: return {0.3, 1.2};
        case K::Media:
        case K::Tool: return {0.05, 0.3};
    }
    return {0.5, 0.5};
}

}  // namespace qv::server
