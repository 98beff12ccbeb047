// CSV import: what a good file stores, and that a bad row, a repeated file or a bad icon leaves the store as it was.
#include "qvservice/import/csv_import.h"
#include "qvservice/model/icon_file.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/new_store_file.h"
#include "qvservice/store/store_database.h"
#include "records/icon_file.h"
#include "service/icon_file.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace qv::test {

using server::ImportCsv;
using server::ImportError;

static std::int64_t Count(const std::string& store, const char* table) {
    const auto db = server::OpenStore(store, server::Database::Mode::ReadOnly);
    server::Statement count(*db, std::string("SELECT count(*) FROM ") + table);
    count.Step();
    return count.Int64(0);
}

static std::string ImportFailure(const server::ImportOptions& options) {
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
    EXPECT_NE(ImportFailure({store, bad, ""}).find("line 3: expected 9 fields"), std::string::npos);
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
        {kHeader + row + "ben,WS-02,b.exe,t,1,1,1\n", "line 3: expected 9 fields, found 7"},
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
        EXPECT_EQ(Count(store, table), 1) << table;

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

}  // namespace qv::test
