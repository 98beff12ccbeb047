// A SQLite store's files: private, published durably, no dead builds left behind, import's messages escaped.
#include "qvservice/demo/demo_data.h"
#include "qvservice/import/csv_import.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>

namespace qv::test {

static const std::string kRecords =
    std::string(qv::kCsvHeader) + "\nanna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,60000,1,2\n";

static mode_t Permissions(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(StoreFiles, ImportPublishesAPrivateSyncedStoreLeavesNoDeadBuildAndEscapesWhatItShows) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    // No process has an id as high as pid_max.
    const std::string deadBuild = store + ".new-" + std::to_string(std::stoi(ReadFile("/proc/sys/kernel/pid_max")));
    const std::string liveBuild = store + ".new-1";
    for (const std::string& leftover : {deadBuild, deadBuild + "-wal", liveBuild}) WriteFile(leftover, "personal data");
    WriteFile(dir.File("records.csv"), kRecords);

    const std::string folder = std::filesystem::canonical(dir.Path());
    bool syncedWithStore = false;
    const mode_t previous = ::umask(022);
    {
        const FsyncWatch watch(
            [&](const std::string& path) { syncedWithStore |= path == folder && std::filesystem::exists(store); });
        server::ImportCsv({store, dir.File("records.csv"), ""});
    }
    server::WriteDemoStore(dir.File("demo.db"), {.records = 50, .days = 5, .users = 2, .computers = 2});
    const ToolResult init = RunQvservice({"init", "--store", dir.File("init.db")});
    ::umask(previous);
    ASSERT_EQ(init.exitCode, 0) << init.err;
    for (const char* made : {"store.db", "demo.db", "init.db"}) EXPECT_EQ(Permissions(dir.File(made)), 0600) << made;
    EXPECT_TRUE(syncedWithStore);
    EXPECT_FALSE(std::filesystem::exists(deadBuild));
    EXPECT_FALSE(std::filesystem::exists(deadBuild + "-wal"));
    EXPECT_TRUE(std::filesystem::exists(liveBuild)) << "pid 1 still runs";

    // Import's messages show fields and file names escaped.
    const std::string escaped = dir.File("escaped.db"), sneaky = dir.File("a\x1B]0;title\x07.csv");
    WriteFile(sneaky, kRecords);
    server::ImportCsv({escaped, sneaky, ""});
    WriteFile(dir.File("again.csv"), kRecords);
    WriteFile(dir.File("bad.csv"),
              std::string(qv::kCsvHeader) + "\nanna,WS,app.exe,,,2024-03-25T10:00:00Z,1\x1B[2J,1,2\n");
    for (const char* file : {"again.csv", "bad.csv"}) {
        try {
            server::ImportCsv({escaped, dir.File(file), ""});
            ADD_FAILURE() << file << " was imported";
        } catch (const server::ImportError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.find_first_of("\x1B\x07"), std::string::npos) << message;
            EXPECT_NE(message.find("\\x1B"), std::string::npos) << message;
        }
    }
}

}  // namespace qv::test
