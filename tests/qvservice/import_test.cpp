// qvservice import: what a good file stores; that a bad row, a repeated file or a bad icon leaves the store as it was;
// the store's files private, published durably, no dead builds left behind. The CSV reader.
#include "qvservice/demo/demo_data.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/model/icon_file.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/new_store_file.h"
#include "qvservice/store/store_database.h"
#include "records/csv_parser.h"
#include "records/icon_file.h"
#include "service/icon_file.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/service_process.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <thread>

namespace qv::test {
namespace {

using server::ImportCsv;
using server::ImportError;

std::string ImportFailure(const server::ImportOptions& options) {
    try {
        ImportCsv(options);
    } catch (const ImportError& error) {
        return error.what();
    }
    return "no failure";
}

const std::string kHeader = std::string(qv::kCsvHeader) + "\r\n";

class ServiceImportOnEachEngine : public EachStoreEngine {};
QV_ON_EACH_STORE_ENGINE(ServiceImportOnEachEngine);

TEST_P(ServiceImportOnEachEngine, StoresRecordsNamesTimesAndIcons) {
    setenv("TZ", "UTC0", 1);
    tzset();
    TempDir dir;
    const std::string store = NewStore(dir);
    const std::string csv = dir.File("records.csv");
    WriteFile(csv,
              "\xEF\xBB\xBF" + kHeader +
                  "anna,WS-01,app.exe,\"Editor, the best\",\"Line one\nline two\",2024-03-25T10:00:00Z,60000,10,20\r\n"
                  "anna,WS-01,app.exe,,\"say \"\"hi\"\"\",2024-03-25T12:30:00+02:00,30000,1,2\r\n"
                  "\r\n"
                  "j\xC3\xBCrgen,WS-02,tool.exe,Tool,T,2024-03-25T11:00:00,0,5,0\n");
    const std::vector<std::uint32_t> pixels(16 * 16, 0xFF00AA00);
    const auto icon = server::EncodeIconFile({{16, 32, pixels}});
    WriteFile(dir.File("app.exe.ico"), std::string(icon.begin(), icon.end()));
    WriteFile(dir.File("tool.ico"), std::string(icon.begin(), icon.end()));

    const auto summary = ImportCsv({store, csv, dir.Path()});
    EXPECT_EQ(summary.records, 3);
    EXPECT_EQ(summary.icons, 2u);

    LocalService service(StoreOptions(store));
    ServiceClient client = service.Client();
    const Answer users = client.Query(server::EncodeActivityRequest(0, 0, 0, 0, 0, 0));
    ASSERT_EQ(users.rows.size(), 2u);
    for (const auto& row : users.rows) {
        const std::string name = Cell(users, row, "Name").bytes();
        EXPECT_EQ(Cell(users, row, "TimeSpent").integer(), name == "anna" ? 90000 : 0) << name;
        EXPECT_EQ(Cell(users, row, "KeyboardEvents").real(), name == "anna" ? 11 : 5) << name;
    }
    // 10:00Z and 12:30+02:00 are both in the hour of 10:00 UTC; 11:00 local (UTC here) is not.
    const double tenUtc = 45376.0 + 10.0 / 24;
    const Answer tenToEleven = client.Query(server::EncodeActivityRequest(3, 0, 0, 0, tenUtc, tenUtc + 1.0 / 24));
    ASSERT_EQ(tenToEleven.rows.size(), 2u);
    const Answer titles = client.Query(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
    std::set<std::string> names;
    for (const auto& row : titles.rows) names.insert(Cell(titles, row, "Name").bytes());
    EXPECT_EQ(names, (std::set<std::string>{"Line one\nline two", "say \"hi\""}));

    const Answer app = client.ProgramInfo(server::EncodeProgramInfoRequest(1));
    ASSERT_EQ(app.rows.size(), 1u);
    EXPECT_EQ(Cell(app, app.rows[0], "Description").bytes(), "Editor, the best")
        << "an empty description keeps the old one";
    EXPECT_EQ(Cell(app, app.rows[0], "ProcessName").bytes(), "app.exe");
    EXPECT_EQ(Cell(app, app.rows[0], "Icon").tag(), contract::kTagByteArray);
    EXPECT_EQ(Cell(app, app.rows[0], "Icon").bytes(), std::string(icon.begin(), icon.end()));
    const Answer tool = client.ProgramInfo(server::EncodeProgramInfoRequest(2));
    EXPECT_EQ(Cell(tool, tool.rows[0], "Icon").tag(), contract::kTagByteArray) << "found as tool.ico";
}

// Local times the clocks skip or repeat are refused below, so the zone has summer time.
TEST_P(ServiceImportOnEachEngine, BadInputImportsNothing) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    TempDir dir;
    const std::string store = NewStore(dir);
    const auto files = [&] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.insert(entry.path().filename());
        return names;
    };
    const std::string first = "anna,WS-01,app.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n";
    const std::string bad = dir.File("bad.csv"), good = dir.File("good.csv");
    WriteFile(bad, kHeader + first + "ben,WS-02\n");
    EXPECT_NE(ImportFailure({store, bad, ""}).find("line 3: expected 9 fields, found 2"), std::string::npos);
    if (Postgres()) {
        EXPECT_EQ(server::OpenStore(store, server::Database::Mode::ReadOnly)->SchemaVersion(), 0) << "no empty tables";
    } else {
        EXPECT_EQ(files(), (std::set<std::string>{"bad.csv"}));
    }
    WriteFile(good, kHeader + first);
    ASSERT_EQ(ImportCsv({store, good, ""}).records, 1);
    if (!Postgres()) {
        EXPECT_EQ(files(), (std::set<std::string>{"bad.csv", "good.csv", "store.db"}));
    }

    const std::string row = "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n";
    const std::pair<std::string, std::string> cases[] = {
        {kHeader + row + "ben,WS-02,b.exe,,\"two\nlines\",2024-03-25T10:00:00Z,1000,1,1\n" +
             "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,abc,1,1\n",
         "line 5: duration_ms is not a whole number"},
        {kHeader + row + "ben,WS-02,b.exe,,t,yesterday,1,1,1\n", "line 3: start"},
        {kHeader + ",WS-02,b.exe,,t,2024-03-25T10:00:00Z,1,1,1\n", "line 2: user is empty"},
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,-5,1,1\n", "line 2: duration_ms"},
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,5,1,-1\n", "mouse_events is negative"},
        {kHeader + row + "ben,WS-02,b.exe,,\"open", "line 3: a quoted field is not closed"},
        {"user,computer,process\n" + row, "line 1: the header"},
        {"", "empty"},
        // Numbers with anything around their digits.
        {kHeader + row + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1.5,1,1\n",
         "line 3: duration_ms is not a whole number: '1.5'"},
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,12abc,1\n",
         "line 2: keyboard_events is not a whole number: '12abc'"},
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1, 7\n",
         "line 2: mouse_events is not a whole number: ' 7'"},
        {kHeader + "ben,WS-02,b.exe,," + std::string(qv::kMaxTextBytes + 1, 't') + ",2024-03-25T10:00:00Z,1,1,1\n",
         "line 2: window_title is longer than 65535 bytes"},
        // Counts the reports cannot carry.
        {kHeader + row + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,2147483648,1\n",
         "line 3: keyboard_events is above 2147483647"},
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,99999999999999999999\n",
         "line 2: mouse_events is out of range"},
        // The header's fields are compared, not their joined text.
        {"\"user,computer\",process,description,window_title,start,duration_ms,keyboard_events,mouse_events\n" + row,
         "line 1: the header must be exactly"},
        // Local times the clocks skip or repeat place no record.
        {kHeader + "ben,WS-02,b.exe,,t,2024-03-31T02:30:00,1000,1,1\n",
         "line 2: start '2024-03-31T02:30:00' does not exist in local time (the clocks skip it); give it with its UTC"},
        {kHeader + row + "ben,WS-02,b.exe,,t,2024-10-27T02:30:00,1000,1,1\n",
         "line 3: start '2024-10-27T02:30:00' occurs twice in local time"},
        // The same content again, under any file name.
        {kHeader + first, "imported before"},
    };
    for (const auto& [content, says] : cases) {
        WriteFile(bad, content);
        const std::string error = ImportFailure({store, bad, ""});
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    EXPECT_NE(ImportFailure({store, dir.File("missing.csv"), ""}).find("cannot open"), std::string::npos);
    // A bad icon stops the whole import too.
    WriteFile(dir.File("b.exe.ico"), "not an icon");
    WriteFile(bad, kHeader + row);
    EXPECT_NE(ImportFailure({store, bad, dir.Path()}).find("b.exe.ico: not an icon file"), std::string::npos);

    for (const char* table : {"activity", "users", "day_programs", "imports"})
        EXPECT_EQ(StoreRowCount(store, table), 1) << table;

    // Text and counts at their most.
    WriteFile(good, kHeader + "ben,WS-02,b.exe,," + std::string(qv::kMaxTextBytes, 't') +
                        ",2024-10-27T02:30:00+01:00,1000,2147483647,2147483647\n");
    EXPECT_EQ(ImportCsv({store, good, ""}).records, 1);
}

TEST(ServiceImport, ANewStoreNeverReplacesOneThatAppearedMeanwhile) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    {
        server::NewStoreFile file(store);
        WriteFile(file.BuildPath(), "built");
        WriteFile(store, "theirs");
        EXPECT_THROW(file.Publish(), server::StoreError);
    }
    EXPECT_EQ(ReadFile(store), "theirs");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "the new file is removed";
}

// The writer's icons read back pixel for pixel through the viewer's reader: palettes, packing, row order, mask.
TEST(ServiceImport, IconFilesAreCheckedBeforeTheyAreStoredAndWrittenAsTheViewerReadsThem) {
    std::vector<std::uint32_t> small(16 * 16), large(32 * 32);
    for (std::uint32_t i = 0; i < small.size(); ++i) small[i] = i == 3 ? 0 : 0xFF000000 | (i * 0x010307);
    for (std::uint32_t i = 0; i < large.size(); ++i) large[i] = i % 7 == 0 ? 0 : 0xFF000000 | (i % 5) * 0x330011;
    const std::vector<server::IconImage> images{{16, 32, small}, {32, 4, large}, {32, 8, large}};
    const auto icon = server::EncodeIconFile(images);
    EXPECT_FALSE(IconFileProblem(icon));
    const auto file = ParseIconFile(icon);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->images.size(), images.size());
    for (std::size_t k = 0; k < images.size(); ++k) {
        const auto pixels = DecodeIconBitmap(icon, file->images[k]);
        ASSERT_TRUE(pixels) << k;
        ASSERT_EQ(pixels->rgba.size(), 4 * images[k].argb.size()) << k;
        for (std::size_t p = 0; p < images[k].argb.size(); ++p) {
            const std::uint8_t* rgba = &pixels->rgba[4 * p];
            const std::uint32_t shown =
                std::uint32_t{rgba[3]} << 24 | std::uint32_t{rgba[0]} << 16 | std::uint32_t{rgba[1]} << 8 | rgba[2];
            const std::uint32_t wanted = images[k].argb[p];
            EXPECT_EQ(wanted >> 24 ? shown : shown >> 24, wanted) << "image " << k << " pixel " << p;
        }
    }

    // A cursor file, no images, the first image's offset far past the end.
    for (const auto& [at, value] : {std::pair{2, 2}, {4, 0}, {6 + 13, 0xFF}}) {
        auto bad = icon;
        bad[at] = static_cast<unsigned char>(value);
        EXPECT_TRUE(IconFileProblem(bad)) << at;
    }
    EXPECT_TRUE(IconFileProblem(std::vector<unsigned char>(icon.begin(), icon.begin() + 20)));
    EXPECT_THROW(server::EncodeIconFile({{16, 32, std::vector<std::uint32_t>(100)}}), std::invalid_argument);
    std::vector<std::uint32_t> colourful(16 * 16, 0xFF000000);
    for (std::uint32_t i = 0; i < 17; ++i) colourful[i] = 0xFF000000 | i;
    EXPECT_THROW(server::EncodeIconFile({{16, 4, colourful}}), std::invalid_argument);
}

const std::string kRecords =
    std::string(qv::kCsvHeader) + "\nanna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,60000,1,2\n";

mode_t Permissions(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(StoreFiles, ImportPublishesAPrivateSyncedStoreLeavesNoDeadBuildAndEscapesWhatItShows) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    // No process has an id as high as pid_max.
    const std::string deadBuild = store + ".new-" + std::to_string(std::stoi(ReadFile("/proc/sys/kernel/pid_max")));
    const std::string liveBuild = store + ".new-1";
    for (const std::string& leftover : {deadBuild, deadBuild + "-wal", liveBuild}) WriteFile(leftover, "personal data");
    WriteFile(dir.File("records.csv"), kRecords);

    const std::string folder = std::filesystem::canonical(dir.Path());
    bool syncedWithStore = false;
    const mode_t previous = ::umask(022);
    {
        const FsyncWatch watch(
            [&](const std::string& path) { syncedWithStore |= path == folder && std::filesystem::exists(store); });
        server::ImportCsv({store, dir.File("records.csv"), ""});
    }
    server::WriteDemoStore(dir.File("demo.db"), {.records = 50, .days = 5, .users = 2, .computers = 2});
    const ToolResult init = RunQvservice({"init", "--store", dir.File("init.db")});
    ::umask(previous);
    ASSERT_EQ(init.exitCode, 0) << init.err;
    for (const char* made : {"store.db", "demo.db", "init.db"}) EXPECT_EQ(Permissions(dir.File(made)), 0600) << made;
    EXPECT_TRUE(syncedWithStore);
    EXPECT_FALSE(std::filesystem::exists(deadBuild));
    EXPECT_FALSE(std::filesystem::exists(deadBuild + "-wal"));
    EXPECT_TRUE(std::filesystem::exists(liveBuild)) << "pid 1 still runs";

    // Import's messages show fields and file names escaped.
    const std::string escaped = dir.File("escaped.db"), sneaky = dir.File("a\x1B]0;title\x07.csv");
    WriteFile(sneaky, kRecords);
    server::ImportCsv({escaped, sneaky, ""});
    WriteFile(dir.File("again.csv"), kRecords);
    WriteFile(dir.File("bad.csv"),
              std::string(qv::kCsvHeader) + "\nanna,WS,app.exe,,,2024-03-25T10:00:00Z,1\x1B[2J,1,2\n");
    for (const char* file : {"again.csv", "bad.csv"}) {
        try {
            server::ImportCsv({escaped, dir.File(file), ""});
            ADD_FAILURE() << file << " was imported";
        } catch (const server::ImportError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.find_first_of("\x1B\x07"), std::string::npos) << message;
            EXPECT_NE(message.find("\\x1B"), std::string::npos) << message;
        }
    }
}

constexpr std::size_t kMaxFields = 4;

std::vector<std::pair<std::vector<std::string>, std::size_t>> ParseCsv(const std::string& text, std::size_t chunk) {
    std::vector<std::pair<std::vector<std::string>, std::size_t>> records;
    CsvParser parser(kMaxFields,
                     [&](std::vector<std::string>& fields, std::size_t line) { records.emplace_back(fields, line); });
    for (std::size_t at = 0; at < text.size(); at += chunk) parser.Feed(std::string_view(text).substr(at, chunk));
    parser.Finish();
    return records;
}

// The line and reason of the parser's refusal; {0, ""} when it takes the text.
std::pair<std::size_t, std::string> Refusal(const std::string& text, std::size_t chunk = 2) {
    try {
        ParseCsv(text, chunk);
    } catch (const CsvError& error) {
        return {error.Line(), error.what()};
    }
    return {0, ""};
}

TEST(ServiceCsvParser, ReadsQuotedFieldsAcrossLinesAndChunksAndRefusesAFieldOrARecordBeyondItsLimit) {
    // Quoting, lines and chunks as an import sees them are ServiceImportOnEachEngine's and the fuzz target's.
    EXPECT_EQ(
        ParseCsv("a,b\r\n\"two\nlines\",\"\xC3\xA4\"\nlast,plain\rcr", 1),
        (decltype(ParseCsv("", 1)){{{"a", "b"}, 1}, {{"two\nlines", "\xC3\xA4"}, 2}, {{"last", "plain\rcr"}, 4}}));
    EXPECT_EQ(Refusal("h\nok\n\"open\nstill open").first, 3u);
    // A CR after a closing quote must end the line.
    for (const char* bad : {"h\nab\"c\n", "h\n\"ab\"c\n", "h\n\"ab\"\rc\n", "h\n\"ab\"\r,c\n", "h\n1,2,3,4,5\n"}) {
        EXPECT_EQ(Refusal(bad).first, 2u) << bad;
    }
    EXPECT_EQ(ParseCsv("\"ab\"\r\n\"cd\"\r", 1), (decltype(ParseCsv("", 1)){{{"ab"}, 1}, {{"cd"}, 2}}));
    EXPECT_EQ(ParseCsv("1,2,3,4\n,,,\n", 1).size(), 2u) << "as many fields as allowed";

    // A field of exactly the limit, quoted or not, is taken; a byte more is refused.
    const std::string full(CsvParser::kMaxFieldBytes, 'x');
    const auto records = ParseCsv("h\n" + full + ",\"" + full + "\"\n", 1 << 16);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].first, (std::vector<std::string>{full, full}));
    const std::pair<std::size_t, std::string> tooLong{2, "a field is longer than 1048576 bytes"};
    EXPECT_EQ(Refusal("h\n" + full + "x\n", 1 << 16), tooLong);
    EXPECT_EQ(Refusal("h\n\"" + full + "x\"\n", 1 << 16), tooLong);

    // A line of commas that never ends: the parser stops at the field beyond the limit.
    CsvParser parser(kMaxFields, [](std::vector<std::string>&, std::size_t) {});
    parser.Feed("a,b,c,d\n");
    try {
        parser.Feed(std::string(1 << 20, ','));
        FAIL() << "no error";
    } catch (const CsvError& error) {
        EXPECT_EQ(error.Line(), 2u);
        EXPECT_STREQ(error.what(), "more than 4 fields");
    }
}

}  // namespace
}  // namespace qv::test
