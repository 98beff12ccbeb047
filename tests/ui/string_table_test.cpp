#include "resources/app_resources.h"

#include <gtest/gtest.h>

#include <algorithm>

// The texts are checked where shown (ReportsTest, ViewerDocTest); here the lookup and the placeholder rules.
TEST(StringTable, LooksUpByIdAndFillsPlaceholdersInOrder) {
    EXPECT_TRUE(!HasResString(99) && LoadResString(99).isEmpty());
    EXPECT_TRUE(std::ranges::is_sorted(ResStringIds()));
    // "%%" is a percent sign; a placeholder inside an argument is not expanded again; missing arguments give nothing.
    EXPECT_EQ(FormatResText(QStringLiteral("100%% of %s"), {QStringLiteral("%s")}).toStdString(), "100% of %s");
    EXPECT_EQ(FormatResText(QStringLiteral("%s on %s"), {QStringLiteral("a")}).toStdString(), "a on ");
    EXPECT_EQ(FormatResText(QStringLiteral("50%"), {}).toStdString(), "50%");
}
