#include "platform/hive_store.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/set_aside_blocker.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

const std::u16string kViewerKey = u"Software\\Marrowind Software\\Quorvis\\Viewer";

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs call without the warning it writes.
template <class F>
auto Quietly(F call) {
    testing::internal::CaptureStderr();
    const auto result = call();
    testing::internal::GetCapturedStderr();
    return result;
}

class HiveStoreTest : public testing::Test {
protected:
    TempDir tmp;
    const std::string path = tmp.File("user.reg");
};

TEST_F(HiveStoreTest, SavesAndLoadsThroughANewDirectoryAndAFailedSaveKeepsTheFile) {
    const std::string path = tmp.File("config/qvviewer/user.reg");
    HiveStore store(path);
    EXPECT_EQ(store.Load(), HiveStore::LoadResult::Missing);
    EXPECT_EQ(store.OpenKey(kViewerKey, false), nullptr);
    HiveKey* key = store.OpenKey(kViewerKey, true);
    ASSERT_NE(key, nullptr);
    key->SetString(u"Server", u"host:50051");
    key->SetDword(u"PeriodType", 4);
    std::string error;
    std::set<std::string> synced;
    {
        const qv::test::FsyncWatch watch([&](const std::string& folder) { synced.insert(folder); });
        ASSERT_TRUE(store.Save(&error)) << error;
    }
    // A crash of the machine keeps the file, its rename and the folders the save made.
    const std::string root = fs::canonical(tmp.Path());
    for (const std::string& folder : {root, root + "/config", root + "/config/qvviewer"})
        EXPECT_TRUE(synced.contains(folder)) << folder;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    HiveStore again(path);
    EXPECT_EQ(again.Load(), HiveStore::LoadResult::Loaded);
    HiveKey* read = again.OpenKey(u"SOFTWARE\\Marrowind Software\\Quorvis\\Viewer", false);  // any case
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetString(u"server"), u"host:50051");
    EXPECT_EQ(read->GetDword(u"PeriodType"), 4u);

    // A failure before the rename leaves the old file whole.
    const std::string before = ReadFile(path);
    read->SetString(u"Server", u"new");
    again.SetRenameFunction([](const char*, const char*) { return errno = EIO, -1; });
    EXPECT_FALSE(again.Save(&error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Listing(tmp.File("config/qvviewer")), std::vector<std::string>{"user.reg"});  // no temporary file left
}

TEST_F(HiveStoreTest, CorruptOrUnreadableFileIsSetAsideNeverOverwritten) {
    const std::string first = "WINE REGISTRY Version 2\n[A] 0\n\"x\"=dword:xyz\n", second = "garbage";
    WriteFile(path, first);
    HiveStore store(path);
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.Load(), HiveStore::LoadResult::SetAside);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("line 3"), std::string::npos) << warning;
    EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1);
    const std::string firstAside = store.SetAsidePath();
    EXPECT_EQ(firstAside.rfind(path + ".corrupt-", 0), 0u);
    EXPECT_EQ(ReadFile(firstAside), first);
    EXPECT_FALSE(fs::exists(path));

    // A second corrupt file, possibly within the same second, gets its own name.
    WriteFile(path, second);
    EXPECT_EQ(Quietly([&] { return store.Load(); }), HiveStore::LoadResult::SetAside);
    EXPECT_NE(store.SetAsidePath(), firstAside);
    EXPECT_EQ(ReadFile(firstAside), first);
    EXPECT_EQ(ReadFile(store.SetAsidePath()), second);

    ASSERT_TRUE(store.Save());
    EXPECT_EQ(ReadFile(path).rfind("WINE REGISTRY Version 2\n", 0), 0u);

    // A directory in the file's place cannot be read either.
    fs::create_directory(tmp.File("dir.reg"));
    HiveStore blocked(tmp.File("dir.reg"));
    EXPECT_EQ(Quietly([&] { return blocked.Load(); }), HiveStore::LoadResult::SetAside);
    EXPECT_TRUE(fs::is_directory(blocked.SetAsidePath()));
}

TEST_F(HiveStoreTest, TwoStoresOnOneFileKeepEachOthersChanges) {
    const std::u16string look = u"Software\\Marrowind Software\\QVViewer";
    {
        HiveStore first(path);
        first.Load();
        HiveKey* viewer = first.OpenKey(kViewerKey, true);
        viewer->SetString(u"Server", u"old");
        viewer->SetDword(u"PeriodType", 1);
        viewer->SetDword(u"Stale", 5);
        first.OpenKey(look, true)->SetDword(u"ApplicationLook", 3);
        ASSERT_TRUE(first.Save());
    }
    HiveStore a(path);
    HiveStore b(path);
    ASSERT_EQ(a.Load(), HiveStore::LoadResult::Loaded);
    ASSERT_EQ(b.Load(), HiveStore::LoadResult::Loaded);

    HiveKey* aViewer = a.OpenKey(kViewerKey, false);
    aViewer->SetString(u"Server", u"from a");
    aViewer->SetDword(u"PeriodType", 1);  // as read: not a change
    ASSERT_TRUE(aViewer->DeleteValue(u"Stale"));
    HiveKey* bViewer = b.OpenKey(kViewerKey, false);
    bViewer->SetDword(u"periodtype", 2);
    bViewer->SetString(u"Server", u"old");  // as read: not a change
    b.OpenKey(u"Software\\Other", true)->SetDword(u"Added", 7);

    std::string error;
    ASSERT_TRUE(b.Save(&error)) << error;
    ASSERT_TRUE(a.Save(&error)) << error;  // the last to exit

    const auto expectMerged = [&](const char* when) {
        HiveStore check(path);
        ASSERT_EQ(check.Load(), HiveStore::LoadResult::Loaded) << when;
        HiveKey* viewer = check.OpenKey(kViewerKey, false);
        ASSERT_NE(viewer, nullptr) << when;
        EXPECT_EQ(viewer->GetString(u"Server"), u"from a") << when;
        EXPECT_EQ(viewer->GetDword(u"PeriodType"), 2u) << when;
        EXPECT_FALSE(viewer->GetValue(u"Stale").has_value()) << when;
        HiveKey* other = check.OpenKey(u"Software\\Other", false);
        EXPECT_EQ(other ? other->GetDword(u"Added") : std::nullopt, 7u) << when;
        EXPECT_EQ(check.OpenKey(look, false)->GetDword(u"ApplicationLook"), 3u) << when;
    };
    expectMerged("after both saved");
    // The saver now sees the other's values, through the key it held.
    EXPECT_EQ(aViewer->GetDword(u"PeriodType"), 2u);

    // A later save of the other, with nothing changed since, keeps them all.
    ASSERT_TRUE(b.Save(&error)) << error;
    expectMerged("after the other saved again");
    EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"user.reg"});
}

TEST_F(HiveStoreTest, AHiveThatCouldNotBeSetAsideIsSetAsideWhenSaved) {
    const std::string corrupt = "not a hive";
    WriteFile(path, corrupt);
    SetAsideBlocker blocker(path);
    HiveStore store(path);
    EXPECT_EQ(Quietly([&] { return store.Load(); }), HiveStore::LoadResult::Blocked);
    store.OpenKey(kViewerKey, true)->SetString(u"Server", u"kept");
    std::string error;
    EXPECT_FALSE(Quietly([&] { return store.Save(&error); }));
    EXPECT_NE(error.find("could not be set aside"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), corrupt);  // never overwritten unseen

    blocker.Release();
    ASSERT_TRUE(Quietly([&] { return store.Save(&error); })) << error;
    ASSERT_FALSE(store.SetAsidePath().empty());
    EXPECT_EQ(ReadFile(store.SetAsidePath()), corrupt);
    HiveStore again(path);
    ASSERT_EQ(again.Load(), HiveStore::LoadResult::Loaded);
    EXPECT_EQ(again.OpenKey(kViewerKey, false)->GetString(u"Server"), u"kept");
}

TEST(HiveStore, DefaultPathFollowsTheEnvironment) {
    using test_util::ScopedEnv;
    ScopedEnv home("HOME", "/home/op"), hive("QVVIEWER_HIVE", "/tmp/demo.reg"), config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(DefaultHivePath(), "/tmp/demo.reg");
    unsetenv("QVVIEWER_HIVE");
    EXPECT_EQ(DefaultHivePath(), "/cfg/qvviewer/user.reg");
    for (const char* ignored : {"relative", static_cast<const char*>(nullptr)}) {
        ScopedEnv other("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(DefaultHivePath(), "/home/op/.config/qvviewer/user.reg") << (ignored ? ignored : "unset");
    }
}

}  // namespace
