// What `cmake --install` puts under a prefix, installed once for every case: each file in its place, valid
// desktop and AppStream files, programs that answer without a display, and the unit run as systemd would.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <memory>
#include <regex>

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }
CommandResult RunWithErrors(const std::string& command) { return RunCommand(command + " 2>&1"); }

class InstallTree : public testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = std::make_unique<TempDir>();
        installed_ = RunWithErrors(Quoted(QV_CMAKE_COMMAND) + " --install " + Quoted(QV_BUILD_DIR) + " --prefix " +
                                   Quoted(prefix_->Path()));
    }
    static void TearDownTestSuite() { prefix_.reset(); }
    void SetUp() override { ASSERT_EQ(installed_.exitCode, 0) << installed_.output; }
    static std::string Path(const std::string& relative) { return prefix_->File(relative); }

    static inline std::unique_ptr<TempDir> prefix_;
    static inline CommandResult installed_;
};

TEST_F(InstallTree, PutsEveryFileInPlaceValidAndTheProgramsAnswerWithoutADisplay) {
    // The other files are read, validated or run below.
    EXPECT_TRUE(std::filesystem::is_regular_file(Path("share/icons/hicolor/scalable/apps/com.marrowind.QVViewer.svg")));
    const CommandResult desktop =
        RunWithErrors("desktop-file-validate " + Quoted(Path("share/applications/com.marrowind.QVViewer.desktop")));
    EXPECT_EQ(desktop.exitCode, 0) << desktop.output;
    EXPECT_EQ(desktop.output, "");
    const CommandResult metainfo = RunWithErrors("appstreamcli validate --no-net " +
                                                 Quoted(Path("share/metainfo/com.marrowind.QVViewer.metainfo.xml")));
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.output;

    // The unit is made for the prefix it was installed under (its commands are run below).
    const std::string unit = ReadFile(Path("lib/systemd/system/qvservice.service"));
    EXPECT_NE(unit.find("\nEnvironmentFile=-" + Path("etc/default/qvservice") + "\n"), std::string::npos) << unit;
    EXPECT_EQ(unit.find("@QV_"), std::string::npos) << unit;

    const std::string recorderUnit = ReadFile(Path("lib/systemd/system/qvrecorder.service"));
    EXPECT_NE(recorderUnit.find("\nExecStart=" + Path("bin/qvrecorder") + " daemon --config " +
                                Path("etc/qvrecorder.conf") + "\n"),
              std::string::npos)
        << recorderUnit;
    EXPECT_EQ(recorderUnit.find("@QV_"), std::string::npos) << recorderUnit;

    for (const std::string program : {"qvviewer", "qvreport", "qvservice", "qvrecorder"}) {
        const CommandResult text = RunWithErrors("gzip -dc " + Quoted(Path("share/man/man1/" + program + ".1.gz")));
        EXPECT_EQ(text.exitCode, 0) << text.output;
        EXPECT_NE(text.output.find(".SH NAME\n" + program + " \\-"), std::string::npos) << program;
        EXPECT_NE(text.output.find("\"QVViewer " QV_VERSION "\""), std::string::npos) << program;
        const std::string path = Quoted(Path("bin/" + program));
        const CommandResult version = RunWithErrors("env -u DISPLAY -u WAYLAND_DISPLAY " + path + " --version");
        EXPECT_EQ(version.exitCode, 0) << program << ": " << version.output;
        EXPECT_EQ(version.output, program + " " QV_VERSION "\n");
        const CommandResult help = RunWithErrors("env -u DISPLAY -u WAYLAND_DISPLAY " + path + " --help");
        EXPECT_EQ(help.exitCode, 0) << program << ": " << help.output;
        EXPECT_NE(help.output.find("usage"), std::string::npos) << help.output;
        EXPECT_NE(help.output.find("--version"), std::string::npos) << help.output;
    }
}

std::string UnitCommand(const std::string& unit, const std::string& key) {
    std::smatch line;
    return std::regex_search(unit, line, std::regex("\n" + key + "=(.*)")) ? line[1].str() : "false";
}

// The store may name a database and its user: it stays off the command line and out of a world-readable file.
TEST_F(InstallTree, TheUnitServesLoopbackOnlyAndKeepsTheStoreOutOfSight) {
    TempDir work;
    const std::string defaults = Path("etc/default/qvservice");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(defaults).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // systemd's expansion of $VAR is the shell's word splitting; the trace shows the command lines as ps would.
    const std::string unit = ReadFile(Path("lib/systemd/system/qvservice.service"));
    const std::string log = Quoted(work.File("log")), trace = work.File("trace");
    WriteFile(work.File("start.sh"),
              "set -a; . " + Quoted(defaults) + "; QVSERVICE_STORE=" + Quoted(work.File("store.db")) + "; set +a\n" +
                  "exec 2>" + Quoted(trace) + "; set -x\n" + UnitCommand(unit, "ExecStartPre") + " || exit 1\n" +
                  UnitCommand(unit, "ExecStart") + " 2>" + log + " & pid=$!\n" +
                  "set +x; i=0; while [ $i -lt 300 ] && ! grep -q 'listening on\\|qvservice:' " + log +
                  "; do sleep 0.1; i=$((i + 1)); done\nkill $pid; wait $pid; cat " + log + "\n");
    const CommandResult run = RunCommand("env -i PATH=/usr/bin:/bin sh " + Quoted(work.File("start.sh")));
    const std::string commands = ReadFile(trace);
    EXPECT_NE(commands.find(" serve"), std::string::npos) << commands << run.output;
    EXPECT_EQ(commands.find("store.db"), std::string::npos) << commands;
    // The port may be taken on this machine; either way the log names the address.
    EXPECT_TRUE(run.output.find("listening on 127.0.0.1:47913") != std::string::npos ||
                run.output.find("cannot listen on 127.0.0.1:47913") != std::string::npos)
        << run.output;
}

// As installed every setting is commented out; each one, uncommented, is a valid setting.
TEST_F(InstallTree, TheRecordersSettingsFileNamesEverySettingValidly) {
    TempDir work;
    const std::string installed = Path("etc/qvrecorder.conf");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(installed).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const std::string program = Quoted(Path("bin/qvrecorder"));
    const CommandResult bare = RunWithErrors(program + " daemon --config " + Quoted(installed));
    EXPECT_EQ(bare.exitCode, 2) << bare.output;
    EXPECT_NE(bare.output.find("--server is required (or server in " + installed + ")"), std::string::npos)
        << bare.output;

    const std::string all = work.File("all.conf");
    ASSERT_EQ(RunCommand("sed 's/^#\\([a-z-]* =\\)/\\1/' " + Quoted(installed) + " > " + Quoted(all)).exitCode, 0);
    const std::string settings = ReadFile(all);
    for (const std::string name : {"server", "tls-ca", "tls-cert", "tls-key", "spool", "socket", "user-prefix",
                                   "retry-max", "spool-max-bytes"}) {
        EXPECT_NE(settings.find("\n" + name + " ="), std::string::npos) << name << " is missing:\n" << settings;
    }
    // Past the settings, the daemon stops at the first file that is not there.
    const CommandResult parsed = RunWithErrors(program + " daemon --config " + Quoted(all));
    EXPECT_EQ(parsed.exitCode, 1) << parsed.output;
    EXPECT_NE(parsed.output.find("cannot read the CA file /etc/qvrecorder/service-ca.pem"), std::string::npos)
        << parsed.output;
}

}  // namespace
