// The installed unit with its defaults, run as systemd would: it answers on loopback only, and the store
// (which may name a database and its user) stays off the command line and out of a world-readable file.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <regex>

static std::string Quoted(const std::string& text) { return "'" + text + "'"; }

static std::string UnitCommand(const std::string& unit, const std::string& key) {
    std::smatch line;
    return std::regex_search(unit, line, std::regex("\n" + key + "=(.*)")) ? line[1].str() : "false";
}

TEST(ServiceDefaults, TheUnitServesLoopbackOnlyAndKeepsTheStoreOutOfSight) {
    TempDir prefix, work;
    const CommandResult installed = RunCommand(Quoted(QV_CMAKE_COMMAND) + " --install " + Quoted(QV_BUILD_DIR) +
                                               " --prefix " + Quoted(prefix.Path()) + " 2>&1");
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    const std::string defaults = prefix.File("etc/default/qvservice");
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(defaults).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // systemd's expansion of $VAR is the shell's word splitting; the trace shows the command lines as ps would.
    const std::string unit = ReadFile(prefix.File("lib/systemd/system/qvservice.service"));
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
