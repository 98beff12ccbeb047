#include "service/viewer_settings.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

auto Fields(const ReportPeriod& p) { return std::tuple(p.start, p.startStatus, p.end, p.endStatus, p.type); }

std::vector<std::uint8_t> DateBytes(double date) {
    std::vector<std::uint8_t> bytes(sizeof date);
    std::memcpy(bytes.data(), &date, sizeof date);
    return bytes;
}

// The byte forms are the registry's: 8 raw little-endian bytes per date and a DWORD, under the viewer's key whatever
// its case. The round trip through the file is app_qtest's; the server name's options_sheet_qtest's.
TEST(ViewerSettings, TheRegistrysByteFormsAndMisshapenValuesKeepTheDefaults) {
    TempDir dir;
    HiveStore hive(dir.File("user.reg"));
    hive.Load();
    const ReportPeriod defaults{10.5, kDateInvalid, 11.5, kDateInvalid, kPeriodThisYear};
    ReportPeriod untouched = defaults;
    ASSERT_TRUE(LoadSettings(hive, untouched));  // nothing stored yet
    EXPECT_EQ(Fields(untouched), Fields(defaults));
    ASSERT_TRUE(SaveSettings(hive, {45000.25, kDateValid, 45031.75, kDateValid, kPeriodCustom}));
    HiveKey* key = hive.OpenKey(u"software\\marrowind software\\quorvis\\viewer", false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->GetValue(u"STARTDATE")->type, REG_BINARY);
    EXPECT_EQ(key->GetValue(u"StartDate")->data, DateBytes(45000.25));
    EXPECT_EQ(key->GetDword(u"PeriodType"), 4u);

    // A date of 4 bytes is ignored; a sound one beside it is read.
    const std::uint8_t four[4] = {1, 2, 3, 4};
    key->SetBinary(u"StartDate", four);
    key->SetBinary(u"EndDate", DateBytes(99.0));
    ReportPeriod mixed = defaults;
    ASSERT_TRUE(LoadSettings(hive, mixed));
    EXPECT_EQ(Fields(mixed), Fields({10.5, kDateInvalid, 99.0, kDateValid, kPeriodCustom}));  // the stored type
}

}  // namespace
