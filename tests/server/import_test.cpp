// CSV import: what a good file stores, and that a bad row, a repeated file
// or a bad icon leaves the store as it was.
#include "csv_import.h"
#include "icon_file.h"
#include "new_store_file.h"
#include "query_request.h"
#include "sqlite_db.h"
#include "store_engines.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace qv::test {
namespace {

using server::ImportCsv;
using server::ImportError;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::int64_t Count(const std::string& store, const char* table) {
  server::SqliteDatabase db(store, server::Database::Mode::ReadOnly);
  server::Statement count(db, std::string("SELECT count(*) FROM ") + table);
  count.Step();
  return count.Int64(0);
}

std::string ImportFailure(const server::ImportOptions& options) {
  try {
    ImportCsv(options);
  } catch (const ImportError& error) {
    return error.what();
  }
  return "no failure";
}

const std::string kHeader = std::string(server::kCsvHeader) + "\r\n";

class ServiceImportOnEachEngine : public EachStoreEngine {};
QV_ON_EACH_STORE_ENGINE(ServiceImportOnEachEngine);

TEST_P(ServiceImportOnEachEngine, StoresRecordsNamesTimesAndIcons) {
  setenv("TZ", "UTC0", 1);
  tzset();
  TempDir dir;
  const std::string store = NewStore(dir);
  const std::string csv = dir.File("records.csv");
  WriteFile(csv, "\xEF\xBB\xBF" + kHeader +
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
  const Answer tenToEleven =
      client.Query(server::EncodeActivityRequest(3, 0, 0, 0, tenUtc, tenUtc + 1.0 / 24));
  ASSERT_EQ(tenToEleven.rows.size(), 2u);
  const Answer titles = client.Query(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
  std::set<std::string> names;
  for (const auto& row : titles.rows) names.insert(Cell(titles, row, "Name").bytes());
  EXPECT_EQ(names, (std::set<std::string>{"Line one\nline two", "say \"hi\""}));

  const Answer app = client.ProgramInfo(server::EncodeProgramInfoRequest(1));
  ASSERT_EQ(app.rows.size(), 1u);
  EXPECT_EQ(Cell(app, app.rows[0], "Description").bytes(), "Editor, the best") << "an empty description keeps the old one";
  EXPECT_EQ(Cell(app, app.rows[0], "Icon").bytes(), std::string(icon.begin(), icon.end()));
  const Answer tool = client.ProgramInfo(server::EncodeProgramInfoRequest(2));
  EXPECT_EQ(Cell(tool, tool.rows[0], "Icon").tag(), contract::kTagByteArray) << "found as tool.ico";
}

TEST_P(ServiceImportOnEachEngine, AFailedFirstImportLeavesNoStoreBehind) {
  TempDir dir;
  const std::string store = NewStore(dir);
  const std::string bad = dir.File("bad.csv");
  WriteFile(bad, kHeader + "anna,WS-01,app.exe,,t,2024-03-25T10:00:00Z,1000,1,1\nben,WS-02\n");
  EXPECT_NE(ImportFailure({store, bad, ""}).find("line 3: expected 9 fields"), std::string::npos);
  if (Postgres()) {
    EXPECT_EQ(server::OpenStore(store, server::Database::Mode::ReadOnly)->SchemaVersion(), 0) << "no empty tables";
  } else {
    EXPECT_FALSE(std::filesystem::exists(store));
  }
}

TEST(ServiceImport, BadInputImportsNothing) {
  TempDir dir;
  const std::string store = dir.File("store.db");
  const std::string good = dir.File("good.csv");
  WriteFile(good, kHeader + "anna,WS-01,app.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n");
  ASSERT_EQ(ImportCsv({store, good, ""}).records, 1);

  const auto failure = [&](const std::string& content) {
    const std::string path = dir.File("bad.csv");
    WriteFile(path, content);
    return ImportFailure({store, path, ""});
  };
  const std::string row = "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n";
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,\"two\nlines\",2024-03-25T10:00:00Z,1000,1,1\n" +
                    "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,abc,1,1\n")
                .find("line 5: duration_ms is not a whole number"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,t,yesterday,1,1,1\n").find("line 3: start"), std::string::npos);
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,t,1,1,1\n").find("line 3: expected 9 fields, found 7"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + ",WS-02,b.exe,,t,2024-03-25T10:00:00Z,1,1,1\n").find("line 2: user is empty"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,-5,1,1\n").find("line 2: duration_ms"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,5,1,-1\n").find("mouse_events is negative"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,\"open").find("line 3: a quoted field is not closed"),
            std::string::npos);
  EXPECT_NE(failure("user,computer,process\n" + row).find("line 1: the header"), std::string::npos);
  EXPECT_NE(failure("").find("empty"), std::string::npos);
  EXPECT_NE(ImportFailure({store, dir.File("missing.csv"), ""}).find("cannot open"), std::string::npos);

  // A bad icon stops the whole import too.
  WriteFile(dir.File("b.exe.ico"), "not an icon");
  const std::string withIcon = dir.File("icon.csv");
  WriteFile(withIcon, kHeader + row);
  EXPECT_NE(ImportFailure({store, withIcon, dir.Path()}).find("b.exe.ico: not an icon file"), std::string::npos);

  // The same content again is refused, under any file name.
  const std::string copy = dir.File("copy.csv");
  WriteFile(copy, kHeader + "anna,WS-01,app.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n");
  EXPECT_NE(ImportFailure({store, copy, ""}).find("imported before"), std::string::npos);

  EXPECT_EQ(Count(store, "activity"), 1);
  EXPECT_EQ(Count(store, "users"), 1);
  EXPECT_EQ(Count(store, "day_programs"), 1);
  EXPECT_EQ(Count(store, "imports"), 1);
}

TEST(ServiceImport, RefusesRecordsTheReportsCannotCarryOrPlace) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  TempDir dir;
  const std::string store = dir.File("store.db");
  const auto failure = [&](const std::string& content) {
    const std::string path = dir.File("bad.csv");
    WriteFile(path, content);
    return ImportFailure({store, path, ""});
  };
  const std::string row = "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n";
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,2147483648,1\n")
                .find("line 3: keyboard_events is above 2147483647"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,99999999999999999999\n")
                .find("line 2: mouse_events is out of range"),
            std::string::npos);
  // The header's fields are compared, not their joined text.
  EXPECT_NE(failure("\"user,computer\",process,description,window_title,start,duration_ms,keyboard_events,"
                    "mouse_events\n" + row).find("line 1: the header must be exactly"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,\"t\"\rx,2024-03-25T10:00:00Z,1000,1,1\n")
                .find("line 3: text after the closing quote"),
            std::string::npos);
  EXPECT_NE(failure(kHeader + row + std::string(1 << 20, ',') + "\n").find("line 3: more than 9 fields"),
            std::string::npos);
  const std::string skipped = failure(kHeader + "ben,WS-02,b.exe,,t,2024-03-31T02:30:00,1000,1,1\n");
  EXPECT_NE(skipped.find("line 2: start '2024-03-31T02:30:00' does not exist in local time"), std::string::npos)
      << skipped;
  EXPECT_NE(skipped.find("give it with its UTC offset"), std::string::npos) << skipped;
  EXPECT_NE(failure(kHeader + row + "ben,WS-02,b.exe,,t,2024-10-27T02:30:00,1000,1,1\n")
                .find("line 3: start '2024-10-27T02:30:00' occurs twice in local time"),
            std::string::npos);

  const std::string good = dir.File("good.csv");
  WriteFile(good, kHeader + "ben,WS-02,b.exe,,t,2024-10-27T02:30:00+01:00,1000,2147483647,2147483647\n");
  EXPECT_EQ(ImportCsv({store, good, ""}).records, 1);
}

TEST(ServiceImport, AFailedImportLeavesNoNewStoreBehind) {
  TempDir dir;
  const auto files = [&] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.insert(entry.path().filename());
    return names;
  };
  const std::string store = dir.File("store.db");
  const std::string bad = dir.File("bad.csv");
  WriteFile(bad, kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,2147483648,1\n");
  EXPECT_NE(ImportFailure({store, bad, ""}).find("line 2"), std::string::npos);
  EXPECT_EQ(files(), (std::set<std::string>{"bad.csv"}));

  const std::string good = dir.File("good.csv");
  WriteFile(good, kHeader + "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1,1\n");
  EXPECT_EQ(ImportCsv({store, good, ""}).records, 1);
  EXPECT_EQ(files(), (std::set<std::string>{"bad.csv", "good.csv", "store.db"}));
  EXPECT_EQ(Count(store, "activity"), 1);

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
  std::ifstream theirs(store);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), {}), "theirs");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "the new file is removed";
}

TEST(ServiceImport, IconFilesAreCheckedBeforeTheyAreStored) {
  const std::vector<std::uint32_t> small(16 * 16, 0xFF112233);
  std::vector<std::uint32_t> large(32 * 32, 0xFFFFFFFF);
  large[0] = 0;  // transparent
  large[1] = 0xFF000000;
  const auto icon = server::EncodeIconFile({{16, 32, small}, {32, 4, large}, {32, 8, large}});
  EXPECT_FALSE(server::IconFileProblem(icon));
  EXPECT_EQ(icon[4], 3) << "three images";

  auto cursor = icon;
  cursor[2] = 2;
  EXPECT_TRUE(server::IconFileProblem(cursor));
  auto outside = icon;
  outside[6 + 12] = 0xFF;  // first image's offset far past the end
  outside[6 + 13] = 0xFF;
  EXPECT_TRUE(server::IconFileProblem(outside));
  auto none = icon;
  none[4] = 0;
  EXPECT_TRUE(server::IconFileProblem(none));
  EXPECT_TRUE(server::IconFileProblem(std::vector<unsigned char>(icon.begin(), icon.begin() + 20)));
  EXPECT_THROW(server::EncodeIconFile({{16, 32, std::vector<std::uint32_t>(100)}}), std::invalid_argument);
  std::vector<std::uint32_t> colourful(16 * 16, 0xFF000000);
  for (std::uint32_t i = 0; i < 17; ++i) colourful[i] = 0xFF000000 | i;
  EXPECT_THROW(server::EncodeIconFile({{16, 4, colourful}}), std::invalid_argument);
}

}  // namespace
}  // namespace qv::test
