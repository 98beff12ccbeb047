#include "app_resources.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string Utf8(unsigned id)
{
    return LoadResString(id).toStdString();
}

}  // namespace

TEST(StringTable, HoldsEveryTextExactly)
{
    const std::map<unsigned, std::string> expected = {
        {100, ""},
        {101, "Standard"},
        {102, "Process"},
        {103, "Quorvis server name not set!"},
        {106, "Options"},
        {107, "General"},
        {108, "This filed cannot be empty."},
        {109, "Cannot connect to - '%s'"},
        {110, "Access is denied to Quorvis Service on `%s`"},
        {111, "Quorvis Service is not installed on `%s`. Please install service."},
        {112, "`%s` is not available."},
        {113, "Can not connect to `%s`. Failed with message - %s"},
        {128, "QVViewer\n\nQVViewer\n\n\nQVViewer.Document\nQVViewer.Document"},
        {129, "Users"},
        {130, "Computers"},
        {131, "Applications"},
        {132, "Computer"},
        {133, "Time Spent"},
        {134, "Keyboard Events"},
        {135, "Mouse Events"},
        {136, "Others"},
        {137, "Program Name"},
        {138, "%s on %s"},
        {139, "Window Title"},
        {140, "User Name"},
        {141, "%s (%s on %s)"},
        {142, "% s (by %s)"},
        {57344, "QVViewer"},
        {59137, "CAP"},
        {59138, "NUM"},
        {59139, "SCRL"},
    };
    for (const auto& [id, text] : expected) {
        EXPECT_TRUE(HasResString(id)) << id;
        EXPECT_EQ(Utf8(id), text) << id;
    }
    EXPECT_FALSE(LoadResString(kIdsVendorWebAddress).isEmpty());
    EXPECT_FALSE(HasResString(99));
    EXPECT_TRUE(LoadResString(99).isEmpty());

    // The ids the other tables name resolve to the same entries.
    EXPECT_EQ(LoadResString(kIdsFieldEmpty), LoadResString(108));
    EXPECT_EQ(LoadResString(kIdsAppTitle), QStringLiteral("QVViewer"));
    const QList<unsigned> ids = ResStringIds();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(ids.size(), static_cast<qsizetype>(expected.size()) + 3);  // 104, 105, 57345
}

TEST(StringTable, StyleHeaderIsNineLinesEndedByCrLf)
{
    const std::string header = Utf8(kIdsHtmlStyleHeader);
    EXPECT_EQ(header,
              "<html>\r\n<head>\r\n<style TYPE=\"text/css\">\r\n"
              "body  { color: #33342E; background-color: #E9EBE0; font-family: Arial; font-size: 10pt}\r\n"
              "table { font-size: 12px; font-family: Arial; border: 1px solid #8C947E; background-color:#FFFFFF}\r\n"
              "td    { border-left: 1px solid #A9ABA0; border-right: 1px solid #A9ABA0;\r\n"
              "        border-top: 1px solid #E3E4E0; border-bottom: 1px solid #E4E6E1;}\r\n"
              "th    { background-color: #DEDFDB; color: #000000; border: 1px solid #A9ABA0;}\r\n"
              "</style>\r\n");
}

TEST(StringTable, FillsPlaceholdersInOrder)
{
    // The grave accents and apostrophes around the server stay.
    EXPECT_EQ(FormatResString(kIdsNotAvailable, {QStringLiteral("srv:50051")}).toStdString(),
              "`srv:50051` is not available.");
    EXPECT_EQ(FormatResString(kIdsCannotConnect, {QStringLiteral("host")}).toStdString(),
              "Cannot connect to - 'host'");
    EXPECT_EQ(FormatResString(kIdsConnectFailed, {QStringLiteral("h"), QStringLiteral("Access is denied.")})
                  .toStdString(),
              "Can not connect to `h`. Failed with message - Access is denied.");
    // "% s" takes its argument as "%s" does; "%%" is a percent sign; a
    // placeholder inside an argument is not expanded again; missing
    // arguments give nothing.
    EXPECT_EQ(FormatResString(kIdsAppUserCaption, {QStringLiteral("Editor"), QStringLiteral("ann")}).toStdString(),
              "Editor (by ann)");
    EXPECT_EQ(FormatResText(QStringLiteral("100%% of %s"), {QStringLiteral("%s")}).toStdString(), "100% of %s");
    EXPECT_EQ(FormatResText(QStringLiteral("%s on %s"), {QStringLiteral("a")}).toStdString(), "a on ");
    EXPECT_EQ(FormatResText(QStringLiteral("50%"), {}).toStdString(), "50%");
}
