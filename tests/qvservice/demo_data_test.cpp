// Demo stores end where they are told to: a working day cut at noon used to
// leave its afternoon as records of negative length, which no import accepts.
#include "qvservice/demo/demo_data.h"
#include "qvservice/store/sqlite_db.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

TEST(DemoData, ADayCutAtNoonEndsThereWithoutNegativeRecords) {
    TempDir dir;
    const std::string store = dir.File("demo.db");
    constexpr std::int64_t kNoon = 1'796'644'800'000;  // Monday 7 December 2026, 12:00 UTC
    setenv("TZ", "UTC0", 1);
    tzset();
    server::WriteDemoStore(store, {.records = 4000, .days = 2, .users = 200, .computers = 200, .endMs = kNoon});
    server::SqliteDatabase db(store, server::Database::Mode::ReadOnly);
    server::Statement check(db,
                            "SELECT count(*), sum(duration_ms < 0), sum(start_ms + duration_ms > ?1) FROM activity");
    check.Bind(1, kNoon);
    ASSERT_TRUE(check.Step());
    EXPECT_GT(check.Int64(0), 0);
    EXPECT_EQ(check.Int64(1), 0) << "records of negative length";
    EXPECT_EQ(check.Int64(2), 0) << "records past the end";
}

}  // namespace
}  // namespace qv::test
