// Local OLE dates, timestamps, the split of periods and records into buckets, and the CSV reader.
#include "qvservice/model/ole_time.h"
#include "qvservice/model/time_buckets.h"
#include "records/csv_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>

namespace qv::test {

using namespace server;

static void Zone(const char* rule) {
    setenv("TZ", rule, 1);
    tzset();
}

constexpr std::int64_t kOleZeroMs = -2209161600000;  // 1899-12-30 00:00 UTC

static std::optional<std::int64_t> Instant(std::string_view text) {
    const Timestamp parsed = ParseTimestamp(text);
    if (parsed.fault != TimestampFault::None) return std::nullopt;
    return parsed.ms;
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
    EXPECT_FALSE(LocalOleDateToEpochMs(std::nan("")));
    EXPECT_FALSE(LocalOleDateToEpochMs(-1e9));
    EXPECT_FALSE(LocalOleDateToEpochMs(3e6));

    Zone("CET-1CEST,M3.5.0,M10.5.0/3");
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
                            "abcd-03-25T10:00:00", "2024-03-25T10:00:60"}) {
        EXPECT_EQ(ParseTimestamp(bad).fault, TimestampFault::Malformed) << bad;
    }
    for (const auto& [text, fault] : {std::pair{"2024-03-31T02:00:00", TimestampFault::SkippedLocalTime},
                                      {"2024-03-31T02:59:59", TimestampFault::SkippedLocalTime},
                                      {"2024-10-27T02:00:00", TimestampFault::RepeatedLocalTime},
                                      {"2024-10-27T02:59:59", TimestampFault::RepeatedLocalTime}})
        EXPECT_EQ(ParseTimestamp(text).fault, fault) << text;
    Zone("AEST-10AEDT,M10.1.0,M4.1.0/3");
    EXPECT_EQ(ParseTimestamp("2024-10-06T02:30:00").fault, TimestampFault::SkippedLocalTime);
    EXPECT_EQ(ParseTimestamp("2024-04-07T02:30:00").fault, TimestampFault::RepeatedLocalTime);
    EXPECT_EQ(Instant("2024-01-15T12:00:00"), 1705280400000);
}

TEST(ServiceTimeBuckets, PlansCoverThePeriodExactlyAndRecordsSplitWhole) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 5000; ++i) {
        const std::int64_t from = static_cast<std::int64_t>(random() % (400 * kMsPerDay)) - 200 * kMsPerDay;
        const std::int64_t days = i % 3 == 0 ? 2 : i % 3 == 1 ? 90 : 700;
        const std::int64_t span = 1 + static_cast<std::int64_t>(random() % (days * kMsPerDay));
        const bool windows = i % 2 == 0;
        const PeriodPlan plan = PlanPeriod({from, from + span}, windows);
        std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
        for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
            EXPECT_LE(plan.buckets[level].size(), level == 0 ? 1u : 2u);
            if (windows && !kBucketLevels[level].windows) {
                EXPECT_TRUE(plan.buckets[level].empty());
            }
            const std::int64_t size = kBucketLevels[level].ms;
            for (const auto& range : plan.buckets[level]) pieces.emplace_back(range.first * size, range.last * size);
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
        ASSERT_EQ(at, from + span);
    }

    for (const auto& [start, duration] : {std::pair<std::int64_t, std::int64_t>{-5, 10},
                                          {kMsPerHour - 1, 2 * kMsPerHour},
                                          {7, 0},
                                          {-kMsPerDay, 3 * kMsPerDay}}) {
        std::int64_t total = 0;
        double shares = 0;
        std::optional<std::int64_t> previous;
        ForEachBucket(start, duration, kMsPerHour, [&](std::int64_t bucket, std::int64_t part, double share) {
            EXPECT_EQ(bucket, previous.value_or(bucket - 1) + 1) << "buckets follow one another";
            previous = bucket;
            total += part;
            shares += share;
        });
        EXPECT_EQ(total, duration);
        EXPECT_NEAR(shares, 1.0, 1e-12);
    }
}

constexpr std::size_t kMaxFields = 4;

static std::vector<std::pair<std::vector<std::string>, std::size_t>> ParseCsv(const std::string& text,
                                                                              std::size_t chunk) {
    std::vector<std::pair<std::vector<std::string>, std::size_t>> records;
    CsvParser parser(kMaxFields,
                     [&](std::vector<std::string>& fields, std::size_t line) { records.emplace_back(fields, line); });
    for (std::size_t at = 0; at < text.size(); at += chunk) parser.Feed(std::string_view(text).substr(at, chunk));
    parser.Finish();
    return records;
}

// The line and reason of the parser's refusal; {0, ""} when it takes the text.
static std::pair<std::size_t, std::string> Refusal(const std::string& text, std::size_t chunk = 2) {
    try {
        ParseCsv(text, chunk);
    } catch (const CsvError& error) {
        return {error.Line(), error.what()};
    }
    return {0, ""};
}

TEST(ServiceCsvParser, ReadsQuotedFieldsAcrossLinesAndChunksAndRefusesAFieldOrARecordBeyondItsLimit) {
    const std::string text =
        "a,b,c\r\n"
        "\"x, y\",\"say \"\"hi\"\"\",\r\n"
        "\"two\nlines\",,\"\"\n"
        "last,\"\xC3\xA4\",plain\rcr";
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, text.size()}) {
        const auto records = ParseCsv(text, chunk);
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[0].first, (std::vector<std::string>{"a", "b", "c"}));
        EXPECT_EQ(records[1].first, (std::vector<std::string>{"x, y", "say \"hi\"", ""}));
        EXPECT_EQ(records[2].first, (std::vector<std::string>{"two\nlines", "", ""}));
        EXPECT_EQ(records[3].first, (std::vector<std::string>{"last", "\xC3\xA4", "plain\rcr"}));
        EXPECT_EQ(records[2].second, 3u);
        EXPECT_EQ(records[3].second, 5u) << "a record's line is the line it starts on";
    }

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

}  // namespace qv::test
