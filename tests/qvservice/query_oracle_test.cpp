// Every query kind, id filter and period, checked against totals computed here from the records stored; the periods'
// buckets; local OLE dates and timestamps.
#include "qvservice/model/ole_time.h"
#include "qvservice/model/time_buckets.h"
#include "qvservice/query/activity_query.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/sqlite_db.h"
#include "tests/support/random_records.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>

namespace qv::test {
namespace {

using server::RecordIds;

// Central European time, summer time from 31 March 2024 inside the records' span; a POSIX rule needs no zone files.
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr std::int64_t kBase = 1711321200000;  // 2024-03-25 00:00 local
constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kDay = 24 * kHour;

struct Stored {
    RecordIds ids;
    ActivityRecord record;
};

struct Expected {
    std::string name;
    std::set<std::int64_t> computers, users, programs;
    std::int64_t timeMs = 0;
    double keyboard = 0, mouse = 0;
};

// The ids an answer is limited to, 0 for any; the window's is not a filter.
using Filter = RecordIds;

// [from, to) in UTC milliseconds; none for all time.
using Period = std::optional<std::pair<std::int64_t, std::int64_t>>;

// Local time to an OLE date, worked out with the calendar of <chrono>.
double ToOle(std::int64_t ms) {
    using namespace std::chrono;
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    const sys_days date = year_month_day{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                                         day{static_cast<unsigned>(local.tm_mday)}};
    const auto days = (date - sys_days{year{1899} / December / 30}).count();
    const double timeOfDay =
        ((local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) * 1000.0 + ms % 1000) / kDay;
    return static_cast<double>(days) + timeOfDay;
}

std::map<std::int64_t, Expected> Oracle(const std::vector<Stored>& stored, QueryKind kind, Filter filter,
                                        const Period& period) {
    std::map<std::int64_t, Expected> rows;
    for (const auto& [ids, record] : stored) {
        if ((filter.user && ids.user != filter.user) || (filter.computer && ids.computer != filter.computer) ||
            (filter.program && ids.program != filter.program))
            continue;
        const std::int64_t start = record.startMs;
        const std::int64_t end = start + record.durationMs;
        double share = 1.0;
        std::int64_t inside = record.durationMs;
        if (period) {
            const auto [from, to] = *period;
            if (record.durationMs == 0) {
                if (start < from || start >= to) continue;
            } else {
                inside = std::min(end, to) - std::max(start, from);
                if (inside <= 0) continue;
                share = static_cast<double>(inside) / static_cast<double>(record.durationMs);
            }
        }
        // The row a record adds to in an answer of the kind, by the kind's number.
        const auto k = static_cast<std::size_t>(kind);
        Expected& row = rows[std::array{ids.user, ids.computer, ids.program, ids.window}[k]];
        row.name = *std::array{&record.user, &record.computer, &record.process, &record.windowTitle}[k];
        row.computers.insert(ids.computer);
        row.users.insert(ids.user);
        row.programs.insert(ids.program);
        row.timeMs += inside;
        row.keyboard += static_cast<double>(record.keyboardEvents) * share;
        row.mouse += static_cast<double>(record.mouseEvents) * share;
    }
    return rows;
}

// Writes the records and keeps them with their ids.
void Write(const std::string& store, const std::vector<ActivityRecord>& records, std::vector<Stored>& stored) {
    const auto ids = WriteRecords(store, records);
    for (std::size_t i = 0; i < records.size(); ++i) stored.push_back({ids[i], records[i]});
}

void Zone(const char* rule) {
    setenv("TZ", rule, 1);
    tzset();
}

class ServiceQueryOracle : public EachStoreEngine {
protected:
    static void SetUpTestSuite() { Zone(kZone); }
};

QV_ON_EACH_STORE_ENGINE(ServiceQueryOracle);

// Every answer's fields, in order: name, ADO type, and the tag of each row's value.
const std::vector<std::tuple<std::string, int, std::uint32_t>> kFields{
    {"ID", 3, 3},        {"Name", 202, 8},      {"Computers", 3, 3},      {"Users", 3, 3},
    {"Processes", 3, 3}, {"TimeSpent", 20, 20}, {"KeyboardEvents", 5, 5}, {"MouseEvents", 5, 5}};

void ExpectMatches(const Answer& answer, const std::map<std::int64_t, Expected>& expected) {
    ASSERT_TRUE(answer.status.ok()) << answer.status.error_message();
    ASSERT_EQ(answer.hresult, 0) << answer.description;
    ASSERT_EQ(answer.fields.size(), kFields.size());
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        EXPECT_EQ(answer.fields[i].name(), std::get<0>(kFields[i]));
        EXPECT_EQ(answer.fields[i].ado_type(), std::get<1>(kFields[i]));
        for (const auto& row : answer.rows) ASSERT_EQ(row.values(static_cast<int>(i)).tag(), std::get<2>(kFields[i]));
    }
    ASSERT_EQ(answer.rows.size(), expected.size());
    for (const auto& row : answer.rows) {
        const std::int64_t id = Cell(answer, row, "ID").integer();
        const auto found = expected.find(id);
        ASSERT_NE(found, expected.end()) << "unexpected row " << id;
        const Expected& e = found->second;
        EXPECT_EQ(Cell(answer, row, "Name").bytes(), e.name);
        EXPECT_EQ(Cell(answer, row, "Computers").integer(), static_cast<std::int64_t>(e.computers.size()));
        EXPECT_EQ(Cell(answer, row, "Users").integer(), static_cast<std::int64_t>(e.users.size()));
        EXPECT_EQ(Cell(answer, row, "Processes").integer(), static_cast<std::int64_t>(e.programs.size()));
        EXPECT_EQ(Cell(answer, row, "TimeSpent").integer(), e.timeMs) << id;
        EXPECT_NEAR(Cell(answer, row, "KeyboardEvents").real(), e.keyboard, 1e-6 * (1 + e.keyboard));
        EXPECT_NEAR(Cell(answer, row, "MouseEvents").real(), e.mouse, 1e-6 * (1 + e.mouse));
    }
}

void ExpectEveryQueryMatches(const std::string& store, const std::vector<Stored>& stored,
                             const std::vector<Filter>& filters, const std::vector<Period>& periods) {
    LocalService service(StoreOptions(store));
    ServiceClient client = service.Client();
    for (int kind = 0; kind <= 3; ++kind) {
        for (const Filter& filter : filters) {
            for (const auto& period : periods) {
                const double start = period ? ToOle(period->first) : 0.0;
                const double end = period ? ToOle(period->second) : 0.0;
                SCOPED_TRACE(::testing::Message() << "kind " << kind << " ids " << filter.computer << "/" << filter.user
                                                  << "/" << filter.program << " period " << start << "-" << end);
                const Answer answer = client.Query(server::EncodeActivityRequest(
                    kind, static_cast<std::uint32_t>(filter.computer), static_cast<std::uint32_t>(filter.user),
                    static_cast<std::uint32_t>(filter.program), start, end));
                ExpectMatches(answer, Oracle(stored, static_cast<QueryKind>(kind), filter, period));
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

TEST_P(ServiceQueryOracle, EveryKindFilterAndPeriodMatchesTheRecordsAlsoAroundAYearLongOne) {
    TempDir dir;
    const std::string store = NewStore(dir);
    std::mt19937_64 random(20240325);
    // Two writes, so that the second adds to hour and day totals already stored.
    std::vector<Stored> stored;
    Write(store, RandomRecords(random, 1500, kBase - 3 * kDay, kBase + 40 * kDay), stored);
    // Half of them spread over the year before, and one record as long as allowed.
    auto records = RandomRecords(random, 3000, kBase - 3 * kDay, kBase + 40 * kDay);
    for (std::size_t i = 0; i < records.size(); i += 2)
        records[i].startMs = kBase - 330 * kDay + static_cast<std::int64_t>(random() % (330 * kDay));
    records.push_back(
        {"ben", "LAB-7", "excel.exe", "", "Budget.xlsx", kBase - 300 * kDay + 17, kMaxDurationMs, 2'000'000'000, 7});
    // A record on a day of its own, so that a period can lie wholly inside it; one across 1 January 1970.
    records.push_back(
        {"anna", "WS-01", "cmd.exe", "", "Report.docx", kBase + 60 * kDay + 5 * kHour + 17, 40 * kHour, 1000, 1});
    records.push_back({"anna", "WS-01", "cmd.exe", "", "Epoch", -5 * kDay - 7 * kHour + 17, 9 * kDay, 11, 3});
    Write(store, records, stored);

    std::vector<Period> periods{
        std::nullopt,
        std::pair{kBase + 2 * kDay, kBase + 9 * kDay},                     // whole local days over the clock change
        std::pair{kBase + 5 * kHour, kBase + 7 * kHour},                   // whole hours
        std::pair{kBase + 5 * kHour + 1234, kBase + 5 * kHour + 600'000},  // inside one hour
        std::pair{kBase + 2 * kDay + 7, kBase + 9 * kDay - 7},             // days with ragged edges
        std::pair{kBase + 61 * kDay, kBase + 61 * kDay + 3 * kHour + 5},   // inside one long record
        std::pair{kBase - 300 * kDay + 17, kBase + 66 * kDay + 17},        // exactly the year-long record
        std::pair{kBase - 300 * kDay + 18, kBase + 66 * kDay + 16},        // just inside it
        std::pair{kBase + 66 * kDay + 16, kBase + 67 * kDay},              // its last millisecond
        std::pair{kBase + 66 * kDay + 17, kBase + 90 * kDay},              // from the latest end on: nothing
        std::pair{kBase - 400 * kDay, kBase + 80 * kDay},                  // around the recent records
        std::pair{-2'000'000'000'000, kBase + 80 * kDay},                  // from 1906, around everything
        std::pair{-3 * kDay - 5 * kHour, 2 * kDay + 1000},                 // ragged days around 1970
        std::pair{kBase + kDay, kBase + kDay},                             // empty: no rows, no failure
        std::pair{kBase + kDay, kBase - kDay},                             // reversed
    };
    for (int i = 0; i < 12; ++i) {
        const std::int64_t from =
            kBase - (i < 8 ? 4 : 320) * kDay + static_cast<std::int64_t>(random() % ((i < 8 ? 46 : 360) * kDay));
        const std::int64_t span = static_cast<std::int64_t>(random() % (i % 2 ? 3 * kDay : 45 * kDay));
        periods.emplace_back(std::pair{from, from + span});
    }
    const std::vector<Filter> filters{{},
                                      {stored[0].ids.user, 0, 0, 0},
                                      {0, stored[1].ids.computer, 0, 0},
                                      {0, 0, stored[2].ids.program, 0},
                                      {stored[3].ids.user, stored[3].ids.computer, 0, 0},
                                      stored[4].ids,
                                      {stored[stored.size() - 2].ids.user, 0, 0, 0},
                                      {999, 0, 0, 0}};
    ExpectEveryQueryMatches(store, stored, filters, periods);
    // What follows looks into SQLite's own schema.
    if (HasFatalFailure() || Postgres()) return;

    // A store written before long records had their index answers the same, and gains the index at its next write.
    const std::string longIndex = "sqlite_schema WHERE name = 'activity_long_by_start'";
    ASSERT_EQ(StoreRowCount(store, longIndex), 1);
    server::SqliteDatabase(store, server::Database::Mode::ReadWrite).Exec("DROP INDEX activity_long_by_start");
    ExpectEveryQueryMatches(store, stored, {{}}, periods);
    if (HasFatalFailure()) return;
    WriteRecords(store, {});
    EXPECT_EQ(StoreRowCount(store, longIndex), 1);
}

TEST(ServiceQuerySteps, AYearLongRecordDoesNotWidenEveryQuery) {
    TempDir dir;
    // A year of short records, with and without one a year long: a period inside one hour reads about as much.
    const auto steps = [&](bool withYear) {
        const std::string path = dir.File(withYear ? "with.db" : "without.db");
        std::vector<ActivityRecord> year{{"ben", "WS-01", "cmd.exe", "", "x", kBase - 3 * kDay, kDay, 1, 1}};
        for (std::int64_t start = kBase - 366 * kDay; start < kBase + kDay; start += 1'561'000)
            year.push_back({"anna", "WS-01", "cmd.exe", "", "x", start, 600'000, 1, 1});
        if (withYear) year.push_back({"ben", "WS-01", "cmd.exe", "", "x", kBase - 365 * kDay, kMaxDurationMs, 1, 1});
        WriteRecords(path, year);
        // SQLite's virtual machine steps for the answer: the rows it visits, whatever the machine's speed.
        server::SqliteDatabase db(path, server::Database::Mode::ReadOnly);
        std::int64_t count = 0;
        sqlite3_progress_handler(
            db.Handle(), 1, [](void* counter) { return ++*static_cast<std::int64_t*>(counter), 0; }, &count);
        const server::MsRange insideAnHour{kBase + 5 * kHour + 1234, kBase + 5 * kHour + 600'000};
        const auto cursor = server::OpenActivityQuery(db, {.period = insideAnHour});
        quorvis::v1::Row row;
        while (cursor->Next(row)) row.Clear();
        sqlite3_progress_handler(db.Handle(), 0, nullptr, nullptr);
        return count;
    };
    EXPECT_LT(steps(true), 2 * steps(false)) << "a year-long record made the query read more steps";
}

using namespace server;

constexpr std::int64_t kOleZeroMs = -2209161600000;  // 1899-12-30 00:00 UTC

std::optional<std::int64_t> Instant(std::string_view text) {
    const Timestamp parsed = ParseTimestamp(text);
    if (parsed.fault != TimestampFault::None) return std::nullopt;
    return parsed.ms;
}

TEST(ServiceTimeBuckets, PlansCoverThePeriodExactlyAndRecordsSplitWhole) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 5000; ++i) {
        const std::int64_t from = static_cast<std::int64_t>(random() % (400 * kMsPerDay)) - 200 * kMsPerDay;
        const std::int64_t days = i % 3 == 0 ? 2 : i % 3 == 1 ? 90 : 700;
        const std::int64_t span = 1 + static_cast<std::int64_t>(random() % (days * kMsPerDay));
        const bool windows = i % 2 == 0;
        // Up to now: nothing lies at or after latestEnd, so the plan covers the period that far, and no further.
        const bool toNow = i % 5 < 2;
        const std::int64_t latestEnd =
            toNow ? from + span - static_cast<std::int64_t>(random() % span) : std::numeric_limits<std::int64_t>::max();
        const PeriodPlan plan = PlanPeriod({from, from + span}, windows, latestEnd);
        std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
        for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
            // Months do not split into blocks or 4 days: an edge of each side of a month may remain there.
            EXPECT_LE(plan.buckets[level].size(), level == 0 ? 1u : toNow ? 2u : 4u);
            EXPECT_TRUE(!windows || kBucketLevels[level].windows || plan.buckets[level].empty()) << level;
            for (const auto& range : plan.buckets[level]) {
                pieces.emplace_back(BucketStartMs(kBucketLevels[level], range.first),
                                    BucketStartMs(kBucketLevels[level], range.last));
            }
        }
        for (const auto& raw : plan.raw) {
            EXPECT_LT(raw.to - raw.from, 2 * kMsPerHour) << "raw records only for partial hours";
            pieces.emplace_back(raw.from, raw.to);
        }
        std::sort(pieces.begin(), pieces.end());
        std::int64_t at = from;
        for (const auto& [begin, end] : pieces) {
            ASSERT_EQ(begin, at) << "pieces must join without gap or overlap";
            ASSERT_LT(begin, end);
            at = end;
        }
        if (toNow) {
            ASSERT_GE(at, latestEnd);
            ASSERT_LT(pieces.back().first, latestEnd) << "a piece where nothing lies";
        } else {
            ASSERT_EQ(at, from + span);
        }
    }

    // Calendar buckets begin on the first of a UTC month, also far from 1970.
    const BucketLevel& year = kBucketLevels[1];
    const BucketLevel& month = kBucketLevels[2];
    EXPECT_EQ(BucketStartMs(year, BucketOf(year, *Instant("2026-12-31T23:59:59Z"))), Instant("2026-01-01T00:00:00Z"));
    EXPECT_EQ(BucketStartMs(month, BucketOf(month, *Instant("2024-02-29T12:00:00Z")) + 1),
              Instant("2024-03-01T00:00:00Z"));
    for (int i = 0; i < 2000; ++i) {
        const auto ms = static_cast<std::int64_t>(random() % (std::int64_t{1} << 52)) - (std::int64_t{1} << 51);
        for (const BucketLevel* level : {&year, &month}) {
            const std::int64_t bucket = BucketOf(*level, ms);
            ASSERT_TRUE(BucketStartMs(*level, bucket) <= ms && ms < BucketStartMs(*level, bucket + 1)) << ms;
        }
    }

    for (const BucketLevel* level : {&month, &kBucketLevels.back()}) {
        for (const auto& [start, duration] : {std::pair<std::int64_t, std::int64_t>{-5, 10},
                                              {kMsPerHour - 1, 2 * kMsPerHour},
                                              {7, 0},
                                              {-kMsPerDay, 3 * kMsPerDay},
                                              {-kMsPerDay, 70 * kMsPerDay}}) {
            std::int64_t total = 0;
            double shares = 0;
            std::optional<std::int64_t> previous;
            ForEachBucket(start, duration, *level, [&](std::int64_t bucket, std::int64_t part, double share) {
                EXPECT_EQ(bucket, previous.value_or(bucket - 1) + 1) << "buckets follow one another";
                previous = bucket;
                total += part;
                shares += share;
            });
            EXPECT_EQ(total, duration);
            EXPECT_NEAR(shares, 1.0, 1e-12);
        }
    }
}

// Central Europe: 2024-03-31 02:00 becomes 03:00, 2024-10-27 03:00 becomes 02:00; Australia's summer spans new year.
TEST(ServiceLocalTime, OleDatesConvertBothWaysAndTimestampsNeverTakeOneTheClocksSkipOrRepeat) {
    Zone("UTC0");
    EXPECT_EQ(LocalOleDateToEpochMs(25569.0), 0);
    EXPECT_EQ(LocalOleDateToEpochMs(0.0), kOleZeroMs);
    EXPECT_EQ(LocalOleDateToEpochMs(2.5), kOleZeroMs + 2 * kMsPerDay + 12 * kMsPerHour);
    // Below zero the fraction still counts forward from the day: -1.25 is 29 December 1899, 06:00.
    EXPECT_EQ(LocalOleDateToEpochMs(-1.25), kOleZeroMs - kMsPerDay + 6 * kMsPerHour);
    EXPECT_DOUBLE_EQ(EpochMsToLocalOleDate(kOleZeroMs - kMsPerDay + 6 * kMsPerHour), -1.25);
    for (const double outside : {std::nan(""), -1e9, 3e6}) EXPECT_FALSE(LocalOleDateToEpochMs(outside)) << outside;

    Zone(kZone);
    std::mt19937_64 random(3);
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t ms = 1'600'000'000'000 + static_cast<std::int64_t>(random() % 300'000'000'000);
        EXPECT_EQ(LocalOleDateToEpochMs(EpochMsToLocalOleDate(ms)), ms);
    }
    const std::pair<const char*, std::int64_t> instants[] = {
        {"2024-07-01T12:00:00", 1719828000000},       {"2024-07-01T10:00:00Z", 1719828000000},
        {"2024-07-01T15:30:00+05:30", 1719828000000}, {"2024-07-01T05:00:00-05:00", 1719828000000},
        {"2024-02-29T00:00:00Z", 1709164800000},      {"2024-03-31T01:59:59", 1711846799000},
        {"2024-03-31T03:00:00", 1711846800000},       {"2024-10-27T01:59:59", 1729987199000},
        {"2024-10-27T03:00:00", 1729994400000},       {"2024-10-27T02:30:00+02:00", 1729989000000},
        {"2024-10-27T02:30:00+01:00", 1729992600000}, {"2024-03-31T02:30:00Z", 1711852200000}};
    for (const auto& [text, ms] : instants) EXPECT_EQ(Instant(text), ms) << text;
    for (const char* bad : {"2023-02-29T00:00:00", "2024-13-01T00:00:00", "2024-03-25 10:00:00", "2024-03-25T10:00",
                            "2024-03-25T24:00:00", "2024-03-25T10:00:00+5:00", "2024-03-25T10:00:00Zx", "",
                            "abcd-03-25T10:00:00", "2024-03-25T10:00:60"})
        EXPECT_EQ(ParseTimestamp(bad).fault, TimestampFault::Malformed) << bad;
    // Central Europe's skipped and repeated hours are ServiceImportOnEachEngine.BadInputImportsNothing's.
    Zone("AEST-10AEDT,M10.1.0,M4.1.0/3");
    EXPECT_EQ(ParseTimestamp("2024-10-06T02:30:00").fault, TimestampFault::SkippedLocalTime);
    EXPECT_EQ(ParseTimestamp("2024-04-07T02:30:00").fault, TimestampFault::RepeatedLocalTime);
    EXPECT_EQ(Instant("2024-01-15T12:00:00"), 1705280400000);
}

}  // namespace
}  // namespace qv::test
