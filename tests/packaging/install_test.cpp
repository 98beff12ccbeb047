// What `cmake --install` puts under a prefix: each file in its place, valid desktop and AppStream files, programs that
// answer without a display, the units run as systemd would, and the recorder's settings file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <regex>

namespace {

using testing::HasSubstr;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }
CommandResult RunWithErrors(const std::string& command) { return RunCommand(command + " 2>&1"); }

std::string UnitCommand(const std::string& unit, const std::string& key) {
    std::smatch line;
    return std::regex_search(unit, line, std::regex("\n" + key + "=(.*)")) ? line[1].str() : "false";
}

TEST(InstallTree, PutsEveryFileInPlaceValidAndTheProgramsAndUnitsRunAsInstalled) {
    const TempDir prefix, work;
    const auto Path = [&](const std::string& relative) { return prefix.File(relative); };
    const CommandResult installed = RunWithErrors(Quoted(QV_CMAKE_COMMAND) + " --install " + Quoted(QV_BUILD_DIR) +
                                                  " --prefix " + Quoted(prefix.Path()));
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    EXPECT_TRUE(std::filesystem::is_regular_file(Path("share/icons/hicolor/scalable/apps/com.marrowind.QVViewer.svg")));
    const CommandResult desktop =
        RunWithErrors("desktop-file-validate " + Quoted(Path("share/applications/com.marrowind.QVViewer.desktop")));
    EXPECT_TRUE(desktop.exitCode == 0 && desktop.output.empty()) << desktop.output;
    const CommandResult metainfo = RunWithErrors("appstreamcli validate --no-net " +
                                                 Quoted(Path("share/metainfo/com.marrowind.QVViewer.metainfo.xml")));
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.output;

    // The unit is made for the prefix it was installed under (its commands are run below).
    const std::string unit = ReadFile(Path("lib/systemd/system/qvservice.service"));
    const std::string recorderUnit = ReadFile(Path("lib/systemd/system/qvrecorder.service"));
    EXPECT_THAT(unit, HasSubstr("\nEnvironmentFile=-" + Path("etc/default/qvservice") + "\n"));
    EXPECT_THAT(recorderUnit, HasSubstr("\nExecStart=" + Path("bin/qvrecorder") + " daemon --config " +
                                        Path("etc/qvrecorder.conf") + "\n"));
    EXPECT_EQ((unit + recorderUnit).find("@QV_"), std::string::npos) << unit << recorderUnit;

    for (const std::string program : {"qvviewer", "qvreport", "qvservice", "qvrecorder"}) {
        const std::string text =
            RunWithErrors("gzip -dc " + Quoted(Path("share/man/man1/" + program + ".1.gz"))).output;
        EXPECT_THAT(text, HasSubstr(".SH NAME\n" + program + " \\-")) << program;
        EXPECT_THAT(text, HasSubstr("\"QVViewer " QV_VERSION "\"")) << program;
        const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY " + Quoted(Path("bin/" + program));
        const CommandResult version = RunWithErrors(run + " --version"), help = RunWithErrors(run + " --help");
        EXPECT_EQ(version.exitCode, 0) << program << ": " << version.output;
        EXPECT_EQ(version.output, program + " " QV_VERSION "\n");
        EXPECT_TRUE(help.exitCode == 0 && help.output.find("usage") != std::string::npos &&
                    help.output.find("--version") != std::string::npos)
            << program << ": " << help.output;
    }

    // Loopback only; the store, which may name a database user, stays off command lines and world-readable files.
    const std::string defaults = Path("etc/default/qvservice");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(defaults).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // systemd's expansion of $VAR is the shell's word splitting; the trace shows the command lines as ps would.
    const std::string log = Quoted(work.File("log")), trace = work.File("trace");
    WriteFile(work.File("start.sh"),
              "set -a; . " + Quoted(defaults) + "; QVSERVICE_STORE=" + Quoted(work.File("store.db")) + "; set +a\n" +
                  "exec 2>" + Quoted(trace) + "; set -x\n" + UnitCommand(unit, "ExecStartPre") + " || exit 1\n" +
                  UnitCommand(unit, "ExecStart") + " 2>" + log + " & pid=$!\n" +
                  "set +x; i=0; while [ $i -lt 300 ] && ! grep -q 'listening on\\|qvservice:' " + log +
                  "; do sleep 0.1; i=$((i + 1)); done\nkill $pid; wait $pid; cat " + log + "\n");
    const CommandResult run = RunCommand("env -i PATH=/usr/bin:/bin sh " + Quoted(work.File("start.sh")));
    const std::string commands = ReadFile(trace);
    EXPECT_THAT(commands, HasSubstr(" serve")) << run.output;
    EXPECT_EQ(commands.find("store.db"), std::string::npos) << commands;
    // The port may be taken on this machine; either way the log names the address.
    EXPECT_TRUE(run.output.find("listening on 127.0.0.1:47913") != std::string::npos ||
                run.output.find("cannot listen on 127.0.0.1:47913") != std::string::npos)
        << run.output;

    // The recorder's settings are all commented out as installed; each one, uncommented, is a valid setting.
    const std::string settingsFile = Path("etc/qvrecorder.conf");
    EXPECT_EQ(fs::status(settingsFile).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const std::string program = Quoted(Path("bin/qvrecorder"));
    const CommandResult bare = RunWithErrors(program + " daemon --config " + Quoted(settingsFile));
    EXPECT_EQ(bare.exitCode, 2) << bare.output;
    EXPECT_THAT(bare.output, HasSubstr("--server is required (or server in " + settingsFile + ")"));

    const std::string all = work.File("all.conf");
    ASSERT_EQ(RunCommand("sed 's/^#\\([a-z-]* =\\)/\\1/' " + Quoted(settingsFile) + " > " + Quoted(all)).exitCode, 0);
    const std::string settings = ReadFile(all);
    for (const std::string name :
         {"server", "tls-ca", "tls-cert", "tls-key", "spool", "socket", "user-prefix", "retry-max", "spool-max-bytes"})
        EXPECT_THAT(settings, HasSubstr("\n" + name + " =")) << name << " is missing";
    // Past the settings, the daemon stops at the first file that is not there.
    const CommandResult parsed = RunWithErrors(program + " daemon --config " + Quoted(all));
    EXPECT_EQ(parsed.exitCode, 1) << parsed.output;
    EXPECT_THAT(parsed.output, HasSubstr("cannot read the CA file /etc/qvrecorder/service-ca.pem"));
}

}  // namespace
