#include "service/viewer_settings.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<std::uint8_t> DateBytes(double date) {
    std::vector<std::uint8_t> bytes(sizeof date);
    std::memcpy(bytes.data(), &date, sizeof date);
    return bytes;
}

}  // namespace

TEST(ViewerSettings, PeriodAndServerRoundTripThroughTheHiveFile) {
    TempDir dir;
    const std::string path = dir.File("user.reg");
    {
        HiveStore hive(path);
        hive.Load();
        ReportPeriod period{45000.25, kDateValid, 45031.75, kDateValid, kPeriodCustom};
        ASSERT_TRUE(SaveSettings(hive, period));
        ASSERT_TRUE(WriteServerName(hive, u"quorvis.example:5000"));
    }
    HiveStore hive(path);
    ASSERT_EQ(hive.Load(), HiveStore::LoadResult::Loaded);
    ReportPeriod period;
    ASSERT_TRUE(LoadSettings(hive, period));
    EXPECT_EQ(period.start, 45000.25);
    EXPECT_EQ(period.end, 45031.75);
    EXPECT_EQ(period.startStatus, kDateValid);
    EXPECT_EQ(period.endStatus, kDateValid);
    EXPECT_EQ(period.type, kPeriodCustom);
    EXPECT_EQ(ReadServerName(hive), u"quorvis.example:5000");

    // The byte forms: 8 raw little-endian bytes and a DWORD, under the
    // viewer's key whatever the case of its name.
    HiveKey* key = hive.OpenKey(u"software\\marrowind software\\quorvis\\viewer", false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->GetValue(u"STARTDATE")->type, REG_BINARY);
    EXPECT_EQ(key->GetValue(u"StartDate")->data, DateBytes(45000.25));
    EXPECT_EQ(key->GetDword(u"PeriodType"), 4u);
}

TEST(ViewerSettings, AbsentOrMisshapenValuesLeaveTheDefaults) {
    TempDir dir;
    HiveStore hive(dir.File("user.reg"));
    hive.Load();
    ReportPeriod period{10.5, kDateInvalid, 11.5, kDateInvalid, kPeriodThisYear};
    ASSERT_TRUE(LoadSettings(hive, period));
    EXPECT_EQ(period.start, 10.5);
    EXPECT_EQ(period.startStatus, kDateInvalid);
    EXPECT_EQ(period.type, kPeriodThisYear);
    EXPECT_EQ(ReadServerName(hive), u"");

    HiveKey* key = hive.OpenKey(kViewerKey, true);
    const std::uint8_t four[4] = {1, 2, 3, 4};
    key->SetBinary(u"StartDate", four);  // a date of 4 bytes is ignored
    key->SetBinary(u"EndDate", DateBytes(99.0));
    ASSERT_TRUE(LoadSettings(hive, period));
    EXPECT_EQ(period.start, 10.5);
    EXPECT_EQ(period.startStatus, kDateInvalid);
    EXPECT_EQ(period.end, 99.0);
    EXPECT_EQ(period.endStatus, kDateValid);
}
