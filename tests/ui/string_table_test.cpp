#include "resources/app_resources.h"

#include <gtest/gtest.h>

#include <algorithm>

// The texts are checked where they are shown (a caption's placeholders in ReportsTest, the connect failure's in
// ViewerConnectTls); here the lookup and the placeholder rules.
TEST(StringTable, LooksUpByIdAndFillsPlaceholdersInOrder) {
    EXPECT_FALSE(HasResString(99));
    EXPECT_TRUE(LoadResString(99).isEmpty());
    const QList<unsigned> ids = ResStringIds();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    // "%%" is a percent sign; a placeholder inside an argument is not expanded again; missing arguments give nothing.
    EXPECT_EQ(FormatResText(QStringLiteral("100%% of %s"), {QStringLiteral("%s")}).toStdString(), "100% of %s");
    EXPECT_EQ(FormatResText(QStringLiteral("%s on %s"), {QStringLiteral("a")}).toStdString(), "a on ");
    EXPECT_EQ(FormatResText(QStringLiteral("50%"), {}).toStdString(), "50%");
}
