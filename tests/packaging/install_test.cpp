// What `cmake --install` puts under a prefix: every file in its place, the
// desktop entry and AppStream file valid, the unit naming the installed
// program, and programs that answer --help and --version.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Standard output and error together.
CommandResult RunWithErrors(const std::string& command) { return RunCommand(command + " 2>&1"); }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

class InstallTree : public testing::Test {
 protected:
  void SetUp() override {
    const CommandResult installed =
        RunWithErrors(Quoted(QV_CMAKE_COMMAND) + " --install " + Quoted(QV_BUILD_DIR) + " --prefix " + Quoted(prefix_.Path()));
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
  }
  std::string Path(const std::string& relative) const { return prefix_.File(relative); }

  TempDir prefix_;
};

TEST_F(InstallTree, PutsEveryFileInPlaceValidAndTheProgramsAnswerWithoutADisplay) {
  const char* const files[] = {
      "bin/qvviewer",
      "bin/qvreport",
      "bin/qvservice",
      "share/applications/com.marrowind.QVViewer.desktop",
      "share/icons/hicolor/scalable/apps/com.marrowind.QVViewer.svg",
      "share/metainfo/com.marrowind.QVViewer.metainfo.xml",
      "lib/systemd/system/qvservice.service",
      "etc/default/qvservice",
      "share/man/man1/qvviewer.1.gz",
      "share/man/man1/qvreport.1.gz",
      "share/man/man1/qvservice.1.gz",
  };
  for (const char* file : files) EXPECT_TRUE(std::filesystem::is_regular_file(Path(file))) << file;

  const CommandResult desktop = RunWithErrors("desktop-file-validate " + Quoted(Path(files[3])));
  EXPECT_EQ(desktop.exitCode, 0) << desktop.output;
  EXPECT_EQ(desktop.output, "");
  const CommandResult metainfo = RunWithErrors("appstreamcli validate --no-net " + Quoted(Path(files[5])));
  EXPECT_EQ(metainfo.exitCode, 0) << metainfo.output;

  // The unit is made for the prefix it was installed under.
  const std::string unit = ReadFile(Path("lib/systemd/system/qvservice.service"));
  EXPECT_NE(unit.find("\nExecStart=" + Path("bin/qvservice") + " serve $QVSERVICE_OPTIONS\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("\nExecStartPre=" + Path("bin/qvservice") + " init\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nEnvironmentFile=-" + Path("etc/default/qvservice") + "\n"), std::string::npos) << unit;
  EXPECT_EQ(unit.find("@QV_"), std::string::npos) << unit;

  // One install for all: each program's manual page, --version and --help.
  for (const std::string program : {"qvviewer", "qvreport", "qvservice"}) {
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

}  // namespace
