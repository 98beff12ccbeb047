// qvservice import and prune: what they store and remove, all or nothing also when killed, beside a serving and
// recording service; the store's files private and published durably; the CSV reader.
#include "qvservice/demo/demo_data.h"
#include "qvservice/import/batch_ingest.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/model/icon_file.h"
#include "qvservice/model/store_pruner.h"
#include "qvservice/model/time_buckets.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/new_store_file.h"
#include "qvservice/store/store_database.h"
#include "records/csv_parser.h"
#include "records/icon_file.h"
#include "service/icon_file.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/kill_point.h"
#include "tests/support/random_records.h"
#include "tests/support/service_process.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
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
    const auto encoded = server::EncodeIconFile({{16, 32, std::vector<std::uint32_t>(16 * 16, 0xFF00AA00)}});
    const std::string icon(encoded.begin(), encoded.end());
    for (const char* file : {"app.exe.ico", "tool.ico"}) WriteFile(dir.File(file), icon);

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
    ASSERT_EQ(client.Query(server::EncodeActivityRequest(3, 0, 0, 0, tenUtc, tenUtc + 1.0 / 24)).rows.size(), 2u);
    const Answer titles = client.Query(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
    std::set<std::string> names;
    for (const auto& row : titles.rows) names.insert(Cell(titles, row, "Name").bytes());
    EXPECT_EQ(names, (std::set<std::string>{"Line one\nline two", "say \"hi\""}));

    const Answer app = client.ProgramInfo(server::EncodeProgramInfoRequest(1));
    ASSERT_EQ(app.rows.size(), 1u);
    EXPECT_EQ(Cell(app, app.rows[0], "Description").bytes(), "Editor, the best")
        << "an empty description keeps the old one";
    EXPECT_EQ(Cell(app, app.rows[0], "ProcessName").bytes(), "app.exe");
    EXPECT_EQ(Cell(app, app.rows[0], "Icon").bytes(), icon);
    const Answer tool = client.ProgramInfo(server::EncodeProgramInfoRequest(2));
    EXPECT_EQ(Cell(tool, tool.rows[0], "Icon").bytes(), icon) << "found as tool.ico";
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

    // ben's record up to its start, then at 10:00Z up to its counts.
    const std::string ben = "ben,WS-02,b.exe,,t,", atTen = ben + "2024-03-25T10:00:00Z,", row = atTen + "1000,1,1\n";
    const std::pair<std::string, std::string> cases[] = {
        {kHeader + row + "ben,WS-02,b.exe,,\"two\nlines\",2024-03-25T10:00:00Z,1000,1,1\n" + atTen + "abc,1,1\n",
         "line 5: duration_ms is not a whole number"},
        {kHeader + row + ben + "yesterday,1,1,1\n", "line 3: start"},
        {kHeader + ",WS-02,b.exe,,t,2024-03-25T10:00:00Z,1,1,1\n", "line 2: user is empty"},
        {kHeader + atTen + "-5,1,1\n", "line 2: duration_ms"},
        {kHeader + atTen + "5,1,-1\n", "mouse_events is negative"},
        {kHeader + row + "ben,WS-02,b.exe,,\"open", "line 3: a quoted field is not closed"},
        {"user,computer,process\n" + row, "line 1: the header"},
        {"", "empty"},
        // Numbers with anything around their digits.
        {kHeader + row + atTen + "1.5,1,1\n", "line 3: duration_ms is not a whole number: '1.5'"},
        {kHeader + atTen + "1000,12abc,1\n", "line 2: keyboard_events is not a whole number: '12abc'"},
        {kHeader + atTen + "1000,1, 7\n", "line 2: mouse_events is not a whole number: ' 7'"},
        {kHeader + "ben,WS-02,b.exe,," + std::string(qv::kMaxTextBytes + 1, 't') + ",2024-03-25T10:00:00Z,1,1,1\n",
         "line 2: window_title is longer than 65535 bytes"},
        // Counts the reports cannot carry.
        {kHeader + row + atTen + "1000,2147483648,1\n", "line 3: keyboard_events is above 2147483647"},
        {kHeader + atTen + "1000,1,99999999999999999999\n", "line 2: mouse_events is out of range"},
        // The header's fields are compared, not their joined text.
        {"\"user,computer\",process,description,window_title,start,duration_ms,keyboard_events,mouse_events\n" + row,
         "line 1: the header must be exactly"},
        // Local times the clocks skip or repeat place no record.
        {kHeader + ben + "2024-03-31T02:30:00,1000,1,1\n",
         "line 2: start '2024-03-31T02:30:00' does not exist in local time (the clocks skip it); give it with its UTC"},
        {kHeader + row + ben + "2024-10-27T02:30:00,1000,1,1\n",
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
    // A demo whose working day is cut at noon once left its afternoon as records of negative length.
    setenv("TZ", "UTC0", 1);
    tzset();
    constexpr std::int64_t kNoon = 1'796'644'800'000;  // Monday 7 December 2026, 12:00 UTC
    const std::string demo = dir.File("demo.db");
    server::WriteDemoStore(demo, {.records = 4000, .days = 2, .users = 200, .computers = 200, .endMs = kNoon});
    const ToolResult init = RunQvservice({"init", "--store", dir.File("init.db")});
    ::umask(previous);
    ASSERT_EQ(init.exitCode, 0) << init.err;
    EXPECT_EQ(init.out, "");
    EXPECT_GT(StoreRowCount(demo, "activity"), 0);
    EXPECT_EQ(
        StoreRowCount(demo, "activity WHERE duration_ms < 0 OR start_ms + duration_ms > " + std::to_string(kNoon)), 0);
    for (const char* made : {"store.db", "demo.db", "init.db"})
        EXPECT_EQ(std::filesystem::status(dir.File(made)).permissions(), std::filesystem::perms(0600)) << made;
    EXPECT_TRUE(syncedWithStore);
    for (const std::string& gone : {deadBuild, deadBuild + "-wal"}) EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
    EXPECT_TRUE(std::filesystem::exists(liveBuild)) << "pid 1 still runs";
    // A new store never replaces one that appeared meanwhile; init leaves a filled store alone (serving a store init
    // made is LiveRecording's).
    std::string built;
    {
        server::NewStoreFile file(dir.File("raced.db"));
        WriteFile(built = file.BuildPath(), "built");
        WriteFile(dir.File("raced.db"), "theirs");
        EXPECT_THROW(file.Publish(), server::StoreError);
    }
    EXPECT_EQ(ReadFile(dir.File("raced.db")), "theirs");
    EXPECT_FALSE(std::filesystem::exists(built)) << "the new file is removed";
    const std::string filled = ReadFile(store);
    ASSERT_EQ(RunQvservice({"init", "--store", store}).exitCode, 0);
    EXPECT_EQ(ReadFile(store), filled);

    // Import's messages show fields and file names escaped.
    const std::string escaped = dir.File("escaped.db"), sneaky = dir.File("a\x1B]0;title\x07.csv");
    WriteFile(sneaky, kRecords);
    server::ImportCsv({escaped, sneaky, ""});
    WriteFile(dir.File("again.csv"), kRecords);
    WriteFile(dir.File("bad.csv"),
              std::string(qv::kCsvHeader) + "\nanna,WS,app.exe,,,2024-03-25T10:00:00Z,1\x1B[2J,1,2\n");
    for (const char* file : {"again.csv", "bad.csv"}) {
        const std::string message = ImportFailure({escaped, dir.File(file), ""});
        EXPECT_EQ(message.find_first_of("\x1B\x07"), std::string::npos) << message;
        EXPECT_NE(message.find("\\x1B"), std::string::npos) << message;
    }
}

constexpr std::size_t kMaxFields = 4;

// Each record's fields and line.
using Parsed = std::vector<std::pair<std::vector<std::string>, std::size_t>>;

Parsed ParseCsv(const std::string& text, std::size_t chunk, bool finish = true) {
    Parsed records;
    CsvParser parser(kMaxFields,
                     [&](std::vector<std::string>& fields, std::size_t line) { records.emplace_back(fields, line); });
    for (std::size_t at = 0; at < text.size(); at += chunk) parser.Feed(std::string_view(text).substr(at, chunk));
    if (finish) parser.Finish();
    return records;
}

// The line and reason of the parser's refusal; {0, ""} when it takes the text, fed whole and, if finish, finished.
std::pair<std::size_t, std::string> Refusal(const std::string& text, std::size_t chunk = 2, bool finish = true) {
    try {
        ParseCsv(text, chunk, finish);
    } catch (const CsvError& error) {
        return {error.Line(), error.what()};
    }
    return {0, ""};
}

TEST(ServiceCsvParser, ReadsQuotedFieldsAcrossLinesAndChunksAndRefusesAFieldOrARecordBeyondItsLimit) {
    // Quoting, lines and chunks as an import sees them are ServiceImportOnEachEngine's and the fuzz target's.
    EXPECT_EQ(ParseCsv("a,b\r\n\"two\nlines\",\"\xC3\xA4\"\nlast,plain\rcr", 1),
              (Parsed{{{"a", "b"}, 1}, {{"two\nlines", "\xC3\xA4"}, 2}, {{"last", "plain\rcr"}, 4}}));
    EXPECT_EQ(Refusal("h\nok\n\"open\nstill open").first, 3u);
    // A CR after a closing quote must end the line.
    for (const char* bad : {"h\nab\"c\n", "h\n\"ab\"c\n", "h\n\"ab\"\rc\n", "h\n\"ab\"\r,c\n"})
        EXPECT_EQ(Refusal(bad).first, 2u) << bad;
    EXPECT_EQ(ParseCsv("\"ab\"\r\n\"cd\"\r", 1), (Parsed{{{"ab"}, 1}, {{"cd"}, 2}}));

    // A field of exactly the limit, quoted or not, is taken; a byte more is refused.
    const std::string full(CsvParser::kMaxFieldBytes, 'x');
    const auto records = ParseCsv("h\n" + full + ",\"" + full + "\"\n", 1 << 16);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].first, (std::vector<std::string>{full, full}));
    const std::pair<std::size_t, std::string> tooLong{2, "a field is longer than 1048576 bytes"};
    EXPECT_EQ(Refusal("h\n" + full + "x\n", 1 << 16), tooLong);
    EXPECT_EQ(Refusal("h\n\"" + full + "x\"\n", 1 << 16), tooLong);

    // A line of commas that never ends: the parser stops at the field beyond the limit, before the text ends.
    EXPECT_EQ(Refusal("a,b,c,d\n" + std::string(1 << 20, ','), 8, false),
              (std::pair<std::size_t, std::string>{2, "more than 4 fields"}));
}

constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kDay = 24 * kHour;
// 2024-06-13 00:00 UTC, the last day of a 16-day block: that block lies on both sides of the cut.
constexpr std::int64_t kCut = 19'887 * kDay;
constexpr const char* kCutDate = "2024-06-13";
constexpr auto kRunLimit = std::chrono::seconds(120);

double Ole(std::int64_t ms) { return static_cast<double>(ms) / static_cast<double>(kDay) + 25'569.0; }

bool Pruned(const ActivityRecord& record) {
    return record.startMs < kCut && record.startMs + record.durationMs <= kCut;
}

// Records on both sides of the cut, and names used only before it.
std::vector<ActivityRecord> Records(std::size_t count) {
    std::mt19937_64 random(613);
    auto records = RandomRecords(random, count, kCut - 30 * kDay, kCut + 10 * kDay);
    records.insert(
        records.end(),
        {{"gone", "GONE-PC", "gone.exe", "", "Gone", kCut - 20 * kDay, kHour, 7, 9},
         {"gone", "GONE-PC", "gone.exe", "", "Gone", kCut - 20 * kDay, kHour, 7, 9},        // the same again
         {"ben", "LAB-7", "mail.exe", "", "up to the cut", kCut - 5 * kHour - 7, 0, 2, 2},  // beside "crossing"
         {"anna", "WS-01", "browser.exe", "", "old title", kCut - 3 * kDay, 0, 5, 5},
         {"anna", "WS-01", "editor.exe", "", "crossing", kCut - 5 * kHour - 7, 9 * kHour, 333, 1},
         {"ben", "LAB-7", "mail.exe", "", "at the cut", kCut, 0, 3, 4},
         {"ben", "LAB-7", "mail.exe", "", "up to the cut", kCut - kHour, kHour, 1, 1}});
    return records;
}

// Every answer for each period (local OLE dates; 0 for all time) of each kind, and of the titles of all programs and of
// programs 1 to 4, by row id; roundFigures rounds the event counts as reports do.
std::vector<std::map<std::int64_t, std::string>> Answers(const std::string& store,
                                                         const std::vector<std::pair<double, double>>& periods,
                                                         bool roundFigures = false) {
    LocalService service(StoreOptions(store));
    ServiceClient client = service.Client();
    std::vector<std::map<std::int64_t, std::string>> answers;
    for (const auto& [start, end] : periods) {
        for (int query = 0; query < 8; ++query) {
            const Answer answer = client.Query(server::EncodeActivityRequest(
                std::min(query, 3), 0, 0, static_cast<std::uint32_t>(std::max(query - 3, 0)), start, end));
            EXPECT_TRUE(answer.status.ok() && answer.hresult == 0) << store << ": " << answer.description;
            auto& rows = answers.emplace_back();
            for (auto row : answer.rows) {
                for (auto& value : *row.mutable_values())
                    if (roundFigures && value.has_real()) value.set_real(std::nearbyint(value.real()));
                rows[Cell(answer, row, "ID").integer()] = row.SerializeAsString();
            }
        }
    }
    return answers;
}

std::vector<std::map<std::int64_t, std::string>> AnswersAfterCut(const std::string& store, bool roundFigures) {
    setenv("TZ", "UTC0", 1);
    std::vector<std::pair<double, double>> periods;
    for (const auto& [from, to] : {std::pair{kCut, kCut + kDay},
                                   {kCut + kDay, kCut + 17 * kDay},
                                   {kCut + 3 * kHour, kCut + 3 * kHour + 2'700'000},
                                   {kCut + kDay + 5 * kHour + 7, kCut + 12 * kDay}})
        periods.emplace_back(Ole(from), Ole(to));
    return Answers(store, periods, roundFigures);
}

class Prune : public EachStoreEngine {};

TEST_P(Prune, LaterAnswersStayByteForByteAndTheStoreMatchesOneOfTheKeptRecordsOnly) {
    TempDir dir;
    const std::string store = NewStore(dir);
    const auto records = Records(4000);
    WriteRecords(store, records);
    const auto before = AnswersAfterCut(store, Postgres());

    const ToolResult run = RunQvservice({"prune", "--store", store, "--before", kCutDate});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto pruned = std::count_if(records.begin(), records.end(), Pruned);
    EXPECT_NE(run.out.find("removed " + std::to_string(pruned) +
                           " records, 1 users, 1 computers, 1 programs, 3 window titles"),
              std::string::npos)
        << run.out;
    // A database server may sum in another order once its statistics change: there, as the report shows them.
    EXPECT_TRUE(AnswersAfterCut(store, Postgres()) == before);
}

// Batches end inside a run of records of one start: each goes once, the one that crosses the cut stays.
TEST_P(Prune, BatchesSplitRecordsOfOneStart) {
    TempDir dir;
    const std::string store = NewStore(dir);
    const ActivityRecord record{"anna", "WS-01", "mail.exe", "", "inbox", kCut - kHour, 60'000, 1, 1};
    ActivityRecord crossing = record;
    crossing.durationMs = 2 * kHour;
    WriteRecords(store, {record, record, crossing, record, record, record});
    server::PruneOptions options;
    options.cutMs = kCut;
    options.batchRecords = 2;
    const auto summary = server::PruneStore(*server::OpenStore(store, server::Database::Mode::ReadWrite), options);
    EXPECT_EQ(summary.records, 5);
    EXPECT_EQ(StoreRowCount(store, "activity"), 1);
}

QV_ON_EACH_STORE_ENGINE(Prune);

struct Dump {
    std::map<std::string, std::vector<std::string>> exact;
    std::map<std::string, double> events;  // summed per rollup table
    bool operator==(const Dump&) const = default;
};

Dump DumpStore(const std::string& store) {
    const auto db = server::OpenStore(store, server::Database::Mode::ReadOnly);
    Dump dump;
    for (const char* table : {"activity", "users", "computers", "programs", "window_titles"}) {
        server::Statement rows(*db, std::string("SELECT * FROM ") + table + " ORDER BY id");
        while (rows.Step()) dump.exact[table].push_back(std::to_string(rows.Int64(0)) + std::string(rows.Bytes(1)));
    }
    for (const server::BucketLevel& level : server::kBucketLevels) {
        if (std::string_view(level.name) == "all") continue;
        for (const char* kind : {"_programs", "_windows"}) {
            if (kind[1] == 'w' && !level.windows) continue;
            const std::string table = std::string(level.name) + kind;
            server::Statement rows(*db, "SELECT * FROM " + table + " ORDER BY 1, 2, 3, 4, 5");
            while (rows.Step()) {
                std::string key;
                for (int column = 0; column < (kind[1] == 'w' ? 6 : 5); ++column)
                    key += std::to_string(rows.Int64(column)) + ",";
                dump.exact[table].push_back(key);
                dump.events[table] += rows.Double(kind[1] == 'w' ? 6 : 5);
            }
            dump.events[table] = std::round(dump.events[table] * 1e3) / 1e3;
        }
    }
    return dump;
}

// Runs the command on a copy of base at store, killed once it has read and written killAt bytes; returns store.
std::string KilledRun(const std::string& base, const std::string& store, std::vector<std::string> args,
                      std::uint64_t killAt, std::uint64_t* observed) {
    std::filesystem::copy_file(base, store);
    args.insert(args.begin() + 1, {"--store", store});
    // A traced process cannot stop its own threads for a leak check at its exit; untraced runs check its leaks.
    const test_util::ScopedEnv noLeakCheck("LSAN_OPTIONS", "detect_leaks=0");
    ServiceProcess run(args);
    const auto outcome = kill_point::KillAtIo(run.Pid(), killAt, kRunLimit, observed);
    EXPECT_NE(outcome, kill_point::Outcome::TimedOut) << store;
    const int exitCode = run.WaitForExit(kRunLimit);
    EXPECT_TRUE(exitCode == 0 || (outcome == kill_point::Outcome::Killed && exitCode == 128 + SIGKILL))
        << store << " exit " << exitCode << ": " << run.Log();
    return store;
}

TEST(PruneKilled, HalfWayAndRunAgainEndsAsAnUninterruptedPrune) {
    TempDir dir;
    const std::string base = dir.File("base.db");
    WriteRecords(base, Records(40'000));  // several batches of 10,000
    const auto prune = [&](const std::string& name, std::uint64_t killAt, std::uint64_t* observed) {
        return KilledRun(base, dir.File(name), {"prune", "--before", kCutDate}, killAt, observed);
    };
    std::uint64_t wholeIo = 0;
    const Dump whole = DumpStore(prune("whole.db", UINT64_MAX, &wholeIo));
    const std::string killed = prune("killed.db", wholeIo / 2, nullptr);
    EXPECT_NE(DumpStore(killed), whole) << "the kill came after the prune's work";
    ASSERT_EQ(RunQvservice({"prune", "--store", killed, "--before", kCutDate}).exitCode, 0);
    EXPECT_TRUE(DumpStore(killed) == whole);
}

server::RecordBatch Batch(std::uint64_t first, const std::string& user, std::int64_t startMs, std::size_t count) {
    server::RecordBatch batch{std::string(16, 'r'), first, {}, {}};
    for (std::size_t i = 0; i < count; ++i) {
        batch.records.push_back({user, "REC-PC", "rec.exe", "", "t" + std::to_string(i),
                                 startMs + static_cast<std::int64_t>(i) * 1000, 500, 1, 1});
    }
    return batch;
}

TEST(PruneLive, ServiceAnswersAndRecordsWhilePruningAndARecorderReusesARemovedName) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    WriteRecords(store, Records(30'000));
    auto service = Serve(store);
    ServiceClient client(service->ListeningAddress());
    server::BatchIngest ingest(store);
    // The recorder's cache now holds a user whose every record the prune removes.
    ingest.Store(Batch(1, "transient", kCut - 2 * kDay, 10));

    std::atomic<bool> done{false};
    std::atomic<int> answers{0}, failures{0};
    std::thread reader([&] {
        while (!done) {
            const Answer answer = client.Query(server::EncodeActivityRequest(0, 0, 0, 0, 0, 0));
            (answer.status.ok() && answer.hresult == 0 ? answers : failures)++;
        }
    });
    std::uint64_t sequence = 11;
    std::thread recorder([&] {
        while (!done) {
            try {
                ingest.Store(Batch(sequence, "live", kCut + static_cast<std::int64_t>(sequence) * 1000, 50));
                sequence += 50;
            } catch (const std::exception& error) {
                ADD_FAILURE() << "a batch failed during the prune: " << error.what();
                return;
            }
        }
    });
    const ToolResult run = RunQvservice({"prune", "--store", store, "--before", kCutDate});
    done = true;
    reader.join();
    recorder.join();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(answers, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(StoreRowCount(store, "users WHERE name = 'transient'"), 0);

    ingest.Store(Batch(sequence, "transient", kCut + kDay, 5));
    const Answer users = client.Query(server::EncodeActivityRequest(0, 0, 0, 0, 0, 0));
    std::set<std::string> names;
    for (const auto& row : users.rows) names.insert(Cell(users, row, "Name").bytes());
    EXPECT_TRUE(names.contains("transient") && names.contains("live"));
}

constexpr int kKills = 20;
constexpr std::size_t kBaseRecords = 300;
constexpr std::size_t kLargeRecords = 3000;
constexpr std::int64_t kFeb2024 = 1'706'745'600'000;

// 3 to 20 February, with ragged edges.
const std::vector<std::pair<double, double>> kAllAndFebruary{{0.0, 0.0}, {45325.22, 45342.57}};

TEST(ServiceCrashSafety, ImportKilledAtRandomPointsStoresAllOrNothing) {
    TempDir dir;
    std::mt19937_64 random(14);
    WriteFile(dir.File("base.csv"), RecordsCsv(RandomRecords(random, kBaseRecords, kFeb2024, kFeb2024 + 28 * kDay)));
    WriteFile(dir.File("large.csv"), RecordsCsv(RandomRecords(random, kLargeRecords, kFeb2024, kFeb2024 + 28 * kDay)));
    const std::string base = dir.File("base.db");
    server::ImportCsv({base, dir.File("base.csv"), ""});

    const auto runImport = [&](int run, std::uint64_t killAt, std::uint64_t* observed) {
        const std::string store = dir.File("store" + std::to_string(run) + ".db");
        return KilledRun(base, store, {"import", dir.File("large.csv")}, killAt, observed);
    };

    // One whole run tells how many bytes an import reads and writes.
    std::uint64_t wholeIo = 0;
    const std::string whole = runImport(0, UINT64_MAX, &wholeIo);
    ASSERT_EQ(StoreRowCount(whole, "activity"), static_cast<std::int64_t>(kBaseRecords + kLargeRecords));
    ASSERT_GT(wholeIo, 0u);
    const auto nothing = Answers(base, kAllAndFebruary);
    const auto all = Answers(whole, kAllAndFebruary);
    ASSERT_NE(nothing, all);

    int none = 0;
    for (int run = 1; run <= kKills; ++run) {
        const std::uint64_t killAt = random() % wholeIo;
        const std::string store = runImport(run, killAt, nullptr);
        const std::string what = "run " + std::to_string(run) + " killed at byte " + std::to_string(killAt);
        const bool imported = StoreRowCount(store, "activity") != static_cast<std::int64_t>(kBaseRecords);
        none += imported ? 0 : 1;
        EXPECT_EQ(StoreRowCount(store, "imports"), imported ? 2 : 1) << what;
        EXPECT_TRUE(Answers(store, kAllAndFebruary) == (imported ? all : nothing)) << what;
        if (HasFailure()) return;
    }
    EXPECT_GT(none, 0) << "no kill landed inside an import";

    // A store left by a killed import takes the same file afterwards.
    const std::string last = dir.File("store" + std::to_string(kKills) + ".db");
    if (StoreRowCount(last, "activity") == static_cast<std::int64_t>(kBaseRecords)) {
        EXPECT_EQ(RunQvservice({"import", "--store", last, dir.File("large.csv")}).exitCode, 0);
        EXPECT_TRUE(Answers(last, kAllAndFebruary) == all) << "import after the kill";
    }
}
}  // namespace
}  // namespace qv::test
