// qvservice prune and serve --keep-days: what goes, what stays exact, and that answering and recording go on. A prune
// or an import killed at random points ends as if it had run whole or not at all.
#include "qvservice/import/batch_ingest.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/model/time_buckets.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/new_store_file.h"
#include "qvservice/store/store_database.h"
#include "tests/platform/kill_point.h"
#include "tests/support/random_records.h"
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
    records.insert(records.end(),
                   {{"gone", "GONE-PC", "gone.exe", "", "Gone", kCut - 20 * kDay, kHour, 7, 9},
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
                for (auto& value : *row.mutable_values()) {
                    if (roundFigures && value.has_real()) value.set_real(std::nearbyint(value.real()));
                }
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

TEST(PruneKilled, HalfWayAndRunAgainEndsAsAnUninterruptedPrune) {
    TempDir dir;
    const std::string base = dir.File("base.db");
    WriteRecords(base, Records(40'000));  // several batches of 10,000
    const auto prune = [&](const std::string& name, std::uint64_t killAt, std::uint64_t* observed) {
        const std::string store = dir.File(name);
        std::filesystem::copy_file(base, store);
        ServiceProcess run({"prune", "--store", store, "--before", kCutDate});
        EXPECT_NE(kill_point::KillAtIo(run.Pid(), killAt, kRunLimit, observed), kill_point::Outcome::TimedOut);
        run.WaitForExit(kRunLimit);
        return store;
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

// Bad --before and --keep-days are ServiceEndToEnd's bad starts.
TEST(PruneOptions, ServePrunesAtStart) {
    TempDir dir;
    auto service = Serve(SmallStore(dir), {"--keep-days", "30"});  // records of November 2023
    EXPECT_TRUE(service->WaitForLog("removed 2 records, 2 users, 2 computers, 2 programs, 2 window titles"))
        << service->Log();
    EXPECT_EQ(service->Stop(SIGTERM), 0);
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
