// qvservice import killed with SIGKILL at random points of a large import:
// the store still opens, holds every record of the file or none of them, and
// answers with the totals its records give.
#include "tests/platform/kill_point.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "qvservice/store/sqlite_db.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

namespace qv::test {
namespace {

constexpr int kKills = 20;
constexpr std::size_t kBaseRecords = 300;
constexpr std::size_t kLargeRecords = 3000;
constexpr auto kRunLimit = std::chrono::seconds(60);

struct Totals {
  std::int64_t timeMs = 0;
  double keyboard = 0;
  double mouse = 0;
};
using TotalsByUser = std::map<std::string, Totals>;

// A CSV file of random records; what they add up to per user is added to totals.
std::string RandomCsv(std::mt19937_64& random, std::size_t count, TotalsByUser& totals) {
  const std::vector<std::string> users{"anna", "ben", "j\xC3\xBCrgen", "CORP\\dora", "eve"};
  const std::vector<std::string> processes{"winword.exe", "excel.exe", "chrome.exe", "cmd.exe"};
  std::string csv = std::string(server::kCsvHeader) + "\n";
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& user = users[random() % users.size()];
    const std::int64_t duration = static_cast<std::int64_t>(random() % 3'600'000);
    const std::int64_t keyboard = static_cast<std::int64_t>(random() % 1000);
    const std::int64_t mouse = static_cast<std::int64_t>(random() % 700);
    const int day = 1 + static_cast<int>(random() % 28);
    const int hour = static_cast<int>(random() % 24);
    char start[32];
    std::snprintf(start, sizeof start, "2024-02-%02dT%02d:%02d:00Z", day, hour, static_cast<int>(random() % 60));
    csv += "\"" + user + "\",WS-0" + std::to_string(random() % 4) + "," + processes[random() % processes.size()] +
           ",Description,\"Window title " + std::to_string(i) + "\"," + start + "," + std::to_string(duration) + "," +
           std::to_string(keyboard) + "," + std::to_string(mouse) + "\n";
    Totals& sum = totals[user];
    sum.timeMs += duration;
    sum.keyboard += static_cast<double>(keyboard);
    sum.mouse += static_cast<double>(mouse);
  }
  return csv;
}

std::int64_t CountRows(const std::string& store, const char* table) {
  server::SqliteDatabase db(store, server::Database::Mode::ReadOnly);
  server::Statement integrity(db, "PRAGMA integrity_check");
  EXPECT_TRUE(integrity.Step());
  EXPECT_EQ(integrity.Bytes(0), "ok") << store;
  server::Statement count(db, std::string("SELECT count(*) FROM ") + table);
  count.Step();
  return count.Int64(0);
}

void ExpectTotals(const std::string& store, const TotalsByUser& expected, const std::string& what) {
  LocalService service(StoreOptions(store));
  const Answer users = service.Client().Query(server::EncodeActivityRequest(0, 0, 0, 0, 0, 0));
  ASSERT_TRUE(users.status.ok()) << what << ": " << users.status.error_message();
  ASSERT_EQ(users.hresult, 0) << what << ": " << users.description;
  ASSERT_EQ(users.rows.size(), expected.size()) << what;
  for (const auto& row : users.rows) {
    const std::string name = Cell(users, row, "Name").bytes();
    const auto found = expected.find(name);
    ASSERT_NE(found, expected.end()) << what << ": unexpected user " << name;
    EXPECT_EQ(Cell(users, row, "TimeSpent").integer(), found->second.timeMs) << what << " " << name;
    EXPECT_NEAR(Cell(users, row, "KeyboardEvents").real(), found->second.keyboard, 1e-6 * found->second.keyboard) << what;
    EXPECT_NEAR(Cell(users, row, "MouseEvents").real(), found->second.mouse, 1e-6 * found->second.mouse) << what;
  }
}

TEST(ServiceCrashSafety, ImportKilledAtRandomPointsStoresAllOrNothing) {
  TempDir dir;
  std::mt19937_64 random(14);
  TotalsByUser baseTotals;
  WriteFile(dir.File("base.csv"), RandomCsv(random, kBaseRecords, baseTotals));
  TotalsByUser allTotals = baseTotals;
  WriteFile(dir.File("large.csv"), RandomCsv(random, kLargeRecords, allTotals));
  const std::string base = dir.File("base.db");
  server::ImportCsv({base, dir.File("base.csv"), ""});

  // Each run imports into its own copy of the base store.
  const auto runImport = [&](int run, std::uint64_t killAt, std::uint64_t* observed) {
    const std::string store = dir.File("store" + std::to_string(run) + ".db");
    std::filesystem::copy_file(base, store);
    ServiceProcess import({"import", "--store", store, dir.File("large.csv")});
    const auto outcome = kill_point::KillAtIo(import.Pid(), killAt, kRunLimit, observed);
    EXPECT_NE(outcome, kill_point::Outcome::TimedOut) << "run " << run;
    const int exitCode = import.WaitForExit(kRunLimit);
    EXPECT_TRUE(exitCode == 0 || (outcome == kill_point::Outcome::Killed && exitCode == 128 + SIGKILL))
        << "run " << run << " exit " << exitCode << ": " << import.Log();
    return store;
  };

  // One whole run tells how many bytes an import reads and writes.
  std::uint64_t wholeIo = 0;
  const std::string whole = runImport(0, UINT64_MAX, &wholeIo);
  ASSERT_EQ(CountRows(whole, "activity"), static_cast<std::int64_t>(kBaseRecords + kLargeRecords));
  ASSERT_GT(wholeIo, 0u);

  int none = 0;
  for (int run = 1; run <= kKills; ++run) {
    const std::uint64_t killAt = random() % wholeIo;
    const std::string store = runImport(run, killAt, nullptr);
    const std::string what = "run " + std::to_string(run) + " killed at byte " + std::to_string(killAt);
    const std::int64_t records = CountRows(store, "activity");
    const std::int64_t imports = CountRows(store, "imports");
    if (records == static_cast<std::int64_t>(kBaseRecords)) {
      ++none;
      EXPECT_EQ(imports, 1) << what;
      ExpectTotals(store, baseTotals, what);
    } else {
      EXPECT_EQ(records, static_cast<std::int64_t>(kBaseRecords + kLargeRecords)) << what;
      EXPECT_EQ(imports, 2) << what;
      ExpectTotals(store, allTotals, what);
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(none, 0) << "no kill landed inside an import";

  // A store left by a killed import takes the same file afterwards.
  const std::string last = dir.File("store" + std::to_string(kKills) + ".db");
  if (CountRows(last, "activity") == static_cast<std::int64_t>(kBaseRecords)) {
    EXPECT_EQ(RunQvservice({"import", "--store", last, dir.File("large.csv")}).exitCode, 0);
    ExpectTotals(last, allTotals, "import after the kill");
  }
}

}  // namespace
}  // namespace qv::test
