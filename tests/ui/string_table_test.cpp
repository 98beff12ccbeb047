#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <algorithm>

// The texts are checked where they are shown; here the lookup and the placeholders.
TEST(StringTable, LooksUpByIdAndFillsPlaceholdersInOrder) {
    EXPECT_EQ(LoadResString(kIdsFieldEmpty), LoadResString(108));
    EXPECT_FALSE(HasResString(99));
    EXPECT_TRUE(LoadResString(99).isEmpty());
    const QList<unsigned> ids = ResStringIds();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    // "%%" is a percent sign; a placeholder inside an argument is not expanded again; missing arguments give nothing.
    EXPECT_EQ(
        FormatResString(kIdsConnectFailed, {QStringLiteral("h"), QStringLiteral("Access is denied.")}).toStdString(),
        "Can not connect to `h`. Failed with message - Access is denied.");
    EXPECT_EQ(FormatResString(kIdsAppUserCaption, {QStringLiteral("Editor"), QStringLiteral("ann")}).toStdString(),
              "Editor (by ann)");
    EXPECT_EQ(FormatResText(QStringLiteral("100%% of %s"), {QStringLiteral("%s")}).toStdString(), "100% of %s");
    EXPECT_EQ(FormatResText(QStringLiteral("%s on %s"), {QStringLiteral("a")}).toStdString(), "a on ");
    EXPECT_EQ(FormatResText(QStringLiteral("50%"), {}).toStdString(), "50%");
}
