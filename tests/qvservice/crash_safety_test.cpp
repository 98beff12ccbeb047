// qvservice import killed with SIGKILL at random points: the store opens and answers as before or after the import.
#include "qvservice/import/csv_import.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/sqlite_db.h"
#include "tests/platform/kill_point.h"
#include "tests/support/random_records.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <tuple>

namespace qv::test {

constexpr int kKills = 20;
constexpr std::size_t kBaseRecords = 300;
constexpr std::size_t kLargeRecords = 3000;
constexpr auto kRunLimit = std::chrono::seconds(60);
constexpr std::int64_t kFeb2024 = 1'706'745'600'000;
constexpr std::int64_t kFourWeeks = 28LL * 86'400'000;

static std::int64_t CountRows(const std::string& store, const char* table) {
    server::SqliteDatabase db(store, server::Database::Mode::ReadOnly);
    server::Statement integrity(db, "PRAGMA integrity_check");
    EXPECT_TRUE(integrity.Step());
    EXPECT_EQ(integrity.Bytes(0), "ok") << store;
    server::Statement count(db, std::string("SELECT count(*) FROM ") + table);
    count.Step();
    return count.Int64(0);
}

// Every row of every kind of answer, over all time and over days with ragged edges, by kind, period and id.
using Answers = std::map<std::tuple<int, double, std::int64_t>, std::string>;
static Answers AnswersOf(const std::string& store) {
    LocalService service(StoreOptions(store));
    Answers answers;
    for (int kind = 0; kind <= 3; ++kind) {
        for (const auto& [start, end] : {std::pair{0.0, 0.0}, std::pair{45325.22, 45342.57}}) {  // 3 to 20 February
            const Answer answer = service.Client().Query(server::EncodeActivityRequest(kind, 0, 0, 0, start, end));
            EXPECT_TRUE(answer.status.ok() && answer.hresult == 0) << store << ": " << answer.description;
            for (const auto& row : answer.rows)
                answers[{kind, start, Cell(answer, row, "ID").integer()}] = row.ShortDebugString();
        }
    }
    return answers;
}

TEST(ServiceCrashSafety, ImportKilledAtRandomPointsStoresAllOrNothing) {
    TempDir dir;
    std::mt19937_64 random(14);
    WriteFile(dir.File("base.csv"), RecordsCsv(RandomRecords(random, kBaseRecords, kFeb2024, kFeb2024 + kFourWeeks)));
    WriteFile(dir.File("large.csv"), RecordsCsv(RandomRecords(random, kLargeRecords, kFeb2024, kFeb2024 + kFourWeeks)));
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
    const Answers nothing = AnswersOf(base);
    const Answers all = AnswersOf(whole);
    ASSERT_NE(nothing, all);

    int none = 0;
    for (int run = 1; run <= kKills; ++run) {
        const std::uint64_t killAt = random() % wholeIo;
        const std::string store = runImport(run, killAt, nullptr);
        const std::string what = "run " + std::to_string(run) + " killed at byte " + std::to_string(killAt);
        const bool imported = CountRows(store, "activity") != static_cast<std::int64_t>(kBaseRecords);
        none += imported ? 0 : 1;
        EXPECT_EQ(CountRows(store, "imports"), imported ? 2 : 1) << what;
        EXPECT_TRUE(AnswersOf(store) == (imported ? all : nothing)) << what;
        if (HasFailure()) return;
    }
    EXPECT_GT(none, 0) << "no kill landed inside an import";

    // A store left by a killed import takes the same file afterwards.
    const std::string last = dir.File("store" + std::to_string(kKills) + ".db");
    if (CountRows(last, "activity") == static_cast<std::int64_t>(kBaseRecords)) {
        EXPECT_EQ(RunQvservice({"import", "--store", last, dir.File("large.csv")}).exitCode, 0);
        EXPECT_TRUE(AnswersOf(last) == all) << "import after the kill";
    }
}

}  // namespace qv::test
