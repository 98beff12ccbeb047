// Session records from scripted desktop events on a fake clock: stretches, privacy rules, program names, icons.
#include "qvrecorder/options.h"
#include "qvrecorder/session/icon.h"
#include "qvrecorder/session/program_catalog.h"
#include "qvrecorder/session/record_maker.h"
#include "records/icon_file.h"
#include "tests/support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace qv::recorder {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::int64_t kEpochMs = 1'750'000'000'000;

FrontWindow Window(const std::string& title, const std::string& process = "xterm", const std::string& cls = "") {
    return {title, 42, process, cls.empty() ? process : cls, {}, {}};
}

class Records : public ::testing::Test {
protected:
    // The session's clock starts at 0 s; the real clock may be set apart from it.
    SteadyTime At(double s) const { return SteadyTime{} + milliseconds(static_cast<std::int64_t>(s * 1000)); }
    RecordMaker& Maker(PrivacyRules privacy = LoadPrivacyRules("", "")) {
        maker_ = std::make_unique<RecordMaker>(
            RecordMakerOptions{seconds(10), seconds(60)}, catalog_, std::move(privacy),
            [this](quorvis::v1::LiveRecord record, std::optional<quorvis::v1::ProgramIcon> icon) {
                records_.push_back(std::move(record));
                if (icon) icons_.push_back(std::move(*icon));
            },
            [this](SteadyTime when) { return kEpochMs + realOffsetMs_ + (when - SteadyTime{}) / milliseconds(1); });
        return *maker_;
    }
    // title:start-duration:keyboard/mouse, times in ms from the epoch above.
    std::string Summary() const {
        std::string text;
        for (const auto& r : records_)
            text += r.window_title() + ":" + std::to_string(r.start_ms() - kEpochMs) + "+" +
                    std::to_string(r.duration_ms()) + ":" + std::to_string(r.keyboard_events()) + "/" +
                    std::to_string(r.mouse_events()) + " ";
        return text;
    }

    TempDir dir_;
    ProgramCatalog catalog_{{dir_.Path()}};
    std::unique_ptr<RecordMaker> maker_;
    std::vector<quorvis::v1::LiveRecord> records_;
    std::vector<quorvis::v1::ProgramIcon> icons_;
    std::int64_t realOffsetMs_ = 0;
};

TEST_F(Records, CutsStretchesByWindowTitleGapAndLength) {
    RecordMaker& maker = Maker();
    maker.FrontChanged(Window("one"), At(0));
    maker.Input(InputKind::Keyboard, At(1));
    maker.Input(InputKind::Mouse, At(1.5));
    // Between two activations the desktop names no window for a moment: the record goes on.
    maker.FrontChanged(std::nullopt, At(2));
    maker.Tick(At(2.1), std::nullopt);
    maker.FrontChanged(Window("one"), At(2.2));
    maker.FrontChanged(Window("two"), At(3));
    maker.Input(InputKind::Keyboard, At(3.5));
    // A real gap ends the record where it began, whether a tick or the next window notices it.
    maker.FrontChanged(std::nullopt, At(4));
    maker.Tick(At(5), std::nullopt);
    maker.FrontChanged(Window("three"), At(6));
    maker.FrontChanged(std::nullopt, At(7));
    maker.FrontChanged(Window("three"), At(7.5));
    // A long stretch is cut into records of at most a minute; the real clock moved meanwhile, the durations not.
    realOffsetMs_ = 3'600'000;
    maker.Tick(At(67.5), std::nullopt);
    maker.Input(InputKind::Mouse, At(68));
    maker.Finish(At(70));
    EXPECT_EQ(Summary(),
              "one:0+3000:1/1 two:3000+1000:1/0 three:6000+1000:0/0 three:7500+60000:0/0 three:3667500+2500:0/1 ");
}

TEST_F(Records, LeavesOutAwayTimeALockedScreenAndSleep) {
    RecordMaker& maker = Maker();
    maker.FrontChanged(Window("w"), At(0));
    maker.Input(InputKind::Keyboard, At(2));
    // The desktop's idle time passes the limit: the record ends at the last input, the next begins at the next.
    maker.Tick(At(11), milliseconds(9000));
    maker.Tick(At(12), milliseconds(10'000));
    maker.Tick(At(20), milliseconds(18'000));
    maker.Input(InputKind::Keyboard, At(30));
    maker.Locked(true, At(31));
    maker.Input(InputKind::Keyboard, At(32));
    maker.Locked(false, At(33));
    maker.Sleeping(true, At(34));
    maker.Sleeping(false, At(40));
    // Desktops that tell idleness themselves.
    maker.Away(At(41));
    maker.Back(At(50));
    maker.Finish(At(51));
    EXPECT_EQ(Summary(), "w:0+2000:1/0 w:30000+1000:1/0 w:33000+1000:0/0 w:40000+1000:0/0 w:50000+1000:0/0 ");
}

TEST_F(Records, FollowsThePrivacyRulesNamesABadOneWithItsLineAndNamesProgramsFromTheirDesktopEntries) {
    std::filesystem::create_directories(dir_.File("applications/org.example"));
    WriteFile(dir_.File("applications/org.example/Editor.desktop"),
              "[Desktop Entry]\nType=Application\nName=Text Editor\nExec=env LANG=C /opt/ed/bin/ed-bin %F\n"
              "Icon=ed\n");
    WriteFile(dir_.File("applications/gone.desktop"), "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n");
    std::filesystem::create_directories(dir_.File("icons/hicolor/16x16/apps"));
    const std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10", 24) + "rest";
    WriteFile(dir_.File("icons/hicolor/16x16/apps/ed.png"), png);
    catalog_ = ProgramCatalog({dir_.Path()}, seconds(0));
    WriteFile(dir_.File("user.conf"),
              "hide-titles-of = Terminal\nhide-titles-matching = ^Bank\\b\n"
              "session-do-not-record = games\n");
    WriteFile(dir_.File("system.conf"), "server = a:1\nsession-hide-titles-matching = secret\nhide-titles-of = x\n");
    RecordMaker& maker = Maker(LoadPrivacyRules(dir_.File("user.conf"), dir_.File("system.conf")));

    const FrontWindow editor = Window("Bank statement", "ed-bin", "Ed"), term = Window("ssh prod", "xterm", "XTerm");
    FrontWindow other = Window("x's secret", "x");
    FrontWindow own = Window("own", "keepassxc");
    own.icon = {1, 2, 3};
    FrontWindow editorAgain = editor;
    editorAgain.title = "Bank account";  // hidden too: the same record goes on
    // Installed after the entries were first read: found when a window needs it.
    WriteFile(dir_.File("applications/term.desktop"),
              "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\nExec=xterm\n");
    double at = 0;
    for (const FrontWindow& window : {editor, editorAgain, Window("Level 3", "games"), term, other, own,
                                      Window("a", "editor"), Window("b", "editor"), Window("plain", "x")})
        maker.FrontChanged(window, At(at++));
    maker.Finish(At(10));
    EXPECT_EQ(records_.at(0).duration_ms(), 2000);
    std::string rows;
    for (const auto& r : records_) rows += r.process() + "|" + r.description() + "|" + r.window_title() + "\n";
    EXPECT_EQ(rows,
              "ed-bin|Text Editor|Text Editor\n"  // by Exec's program; a title matching the user's pattern
              "xterm|Terminal|Terminal\n"         // by StartupWMClass; the user hides the program's titles
              "x|x|x\n"                           // the system's pattern; the daemon's own line is not a rule here
              "keepassxc|keepassxc|keepassxc\n"   // a password manager by default
              "editor|editor|a\neditor|editor|b\nx|x|plain\n");
    ASSERT_EQ(icons_.size(), 2u);  // once per program: the theme's PNG, and the window's own
    EXPECT_EQ(icons_[0].process(), "ed-bin");
    const auto& bytes = icons_[0].icon();
    EXPECT_EQ(IconFileProblem({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}), std::nullopt);
    EXPECT_EQ(bytes.substr(bytes.size() - png.size()), png);
    EXPECT_EQ(icons_[1].icon(), std::string("\1\2\3", 3));

    // A bad rule is named with its line.
    WriteFile(dir_.File("bad.conf"), "# rules\nhide-titles-of = a\nhide-titles-matching = (unclosed\n");
    EXPECT_THAT([&] { LoadPrivacyRules(dir_.File("bad.conf"), ""); },
                testing::ThrowsMessage<SettingsError>(testing::HasSubstr(dir_.File("bad.conf") + ":3: ")));
    WriteFile(dir_.File("unknown.conf"), "hide-title-of = a\n");
    EXPECT_THROW(LoadPrivacyRules(dir_.File("unknown.conf"), ""), SettingsError);
    EXPECT_NO_THROW(LoadPrivacyRules(dir_.File("missing.conf"), dir_.File("missing-too.conf")));
}

TEST(SessionIcons, WindowPixelsMakeAnIconFileTheStoreTakes) {
    // A 48 px icon offered: shrunk to the 16 and 32 px images a viewer shows.
    ArgbImage big{48, 48, std::vector<std::uint32_t>(48 * 48, 0xFF102030)};
    big.pixels[0] = 0x00000000;
    ArgbImage small{20, 20, std::vector<std::uint32_t>(400, 0x80FFFFFF)};
    const std::vector<unsigned char> icon = IconFromArgb({ScaledImage({big, small}, 16), ScaledImage({big}, 32)});
    EXPECT_EQ(IconFileProblem(icon), std::nullopt);
    ASSERT_GE(icon.size(), 6u + 2 * 16);
    EXPECT_EQ(icon[4], 2);
    EXPECT_EQ(icon[6], 16);
    EXPECT_EQ(icon[22], 32);
    // The 16 px image comes from the nearest, the 20 px one: its white half-transparent pixels.
    const std::size_t first = icon[18] | (icon[19] << 8);
    EXPECT_EQ(icon[first + 40 + 3], 0x80);
    EXPECT_TRUE(IconFromArgb({ArgbImage{2, 2, {1, 2, 3}}}).empty());
    EXPECT_TRUE(IconFromPngs({"not a png"}).empty());
}

}  // namespace
}  // namespace qv::recorder
