#include "qvrecorder/options.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace qv::recorder {
namespace {

std::string ErrorOf(const std::vector<std::string>& args, const std::string& config) {
    try {
        ParseDaemonOptions(args, config);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

TEST(RecorderOptions, TheCommandLineWinsOverTheFileAndBadSettingsAreNamedWithTheirLine) {
    TempDir dir;
    const std::string config = dir.File("qvrecorder.conf");
    WriteFile(config,
              "# the relay\n\nserver = quorvis.example:47913\ntls-ca = /ca.pem\n  tls-cert=/c.pem\ntls-key = /c.key\n"
              "user-prefix = CORP\\\nretry-max = 60\nspool-max-bytes = 2G\n"
              "session-hide-titles-of = keepassxc\nsession-do-not-record = x\n");  // the sessions' lines: passed over
    const DaemonOptions options = ParseDaemonOptions({"--retry-max", "5", "--socket=/tmp/s"}, config);
    EXPECT_EQ(options.server, "quorvis.example:47913");
    EXPECT_EQ(options.tlsCert, "/c.pem");
    EXPECT_EQ(options.userPrefix, "CORP\\");
    EXPECT_EQ(options.retryMax.count(), 5);
    EXPECT_EQ(options.socket, "/tmp/s");
    EXPECT_EQ(options.spool, "/var/lib/qvrecorder");
    EXPECT_EQ(options.spoolMaxBytes, 2ull << 30);
    EXPECT_EQ(ParseClientSocket({"--config", config}, "/nonexistent"), "/run/qvrecorder/socket");

    const std::string bad = dir.File("bad.conf");
    WriteFile(bad, "server = h:1\n# fine\nretry-max = soon\n");
    EXPECT_EQ(ErrorOf({}, bad), bad + ":3: retry-max takes a whole number up to 86400, not 'soon'");
    WriteFile(bad, "server = h:1\nspeed = 3\n");
    EXPECT_EQ(ErrorOf({}, bad), bad + ":2: unknown setting 'speed'");
    EXPECT_EQ(ErrorOf({"--server", "nohost"}, config), "--server takes HOST:PORT, not 'nohost'");
    EXPECT_EQ(ErrorOf({"--speed", "3"}, config), "unknown option --speed");
    EXPECT_NE(ErrorOf({"--config", dir.File("missing")}, config).find("cannot read the settings file"),
              std::string::npos);
}

}  // namespace
}  // namespace qv::recorder
