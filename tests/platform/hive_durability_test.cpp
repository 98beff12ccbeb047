// A saved hive survives a crash of the machine: its file, its rename, and
// the folders a first save creates are all flushed to disk.
#include "platform/hive_store.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

TEST(HiveDurability, FirstSaveFlushesTheFoldersItCreates) {
    TempDir tmp;
    const std::string root = std::filesystem::canonical(tmp.Path());
    std::set<std::string> synced;
    HiveStore store(tmp.File("config/qvviewer/user.reg"));
    store.OpenKey(u"Software\\Marrowind Software\\Quorvis\\Viewer", true);
    std::string error;
    {
        const qv::test::FsyncWatch watch([&](const std::string& path) { synced.insert(path); });
        ASSERT_TRUE(store.Save(&error)) << error;
    }
    for (const std::string& folder : {root, root + "/config", root + "/config/qvviewer"})
        EXPECT_TRUE(synced.contains(folder)) << folder;
}
