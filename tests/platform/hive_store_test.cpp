#include "platform/hive_store.h"
#include "platform/hive_save_files.h"
#include "platform/hive_text.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/kill_point.h"
#include "tests/support/set_aside_blocker.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

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

TEST_F(HiveStoreTest, SavesThroughANewDirectoryAndAFailedSaveKeepsTheFile) {
    const std::string path = tmp.File("config/qvviewer/user.reg");
    HiveStore store(path);
    EXPECT_EQ(store.Load(), HiveStore::LoadResult::Missing);
    store.OpenKey(kViewerKey, true)->SetString(u"Server", u"host:50051");
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
    EXPECT_EQ(static_cast<unsigned>(fs::status(path).permissions()), 0600u);

    // A failure before the rename leaves the old file whole; reading back is TwoStoresOnOneFile's.
    const std::string before = ReadFile(path);
    store.OpenKey(kViewerKey, false)->SetString(u"Server", u"new");
    store.SetRenameFunction([](const char*, const char*) { return errno = EIO, -1; });
    EXPECT_FALSE(store.Save(&error));
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

    // A directory in the file's place cannot be read either.
    fs::create_directory(tmp.File("dir.reg"));
    HiveStore blocked(tmp.File("dir.reg"));
    EXPECT_EQ(Quietly([&] { return blocked.Load(); }), HiveStore::LoadResult::SetAside);
    EXPECT_TRUE(fs::is_directory(blocked.SetAsidePath()));

    // One that could not be set aside is never overwritten; AppTest sets it aside later.
    WriteFile(path, second);
    SetAsideBlocker blocker(path);
    EXPECT_EQ(Quietly([&] { return store.Load(); }), HiveStore::LoadResult::Blocked);
    store.OpenKey(kViewerKey, true)->SetString(u"Server", u"kept");
    std::string error;
    EXPECT_FALSE(Quietly([&] { return store.Save(&error); }));
    EXPECT_NE(error.find("could not be set aside"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), second);
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
    HiveStore a(path), b(path);
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

const std::string kHead = "WINE REGISTRY Version 2\n";

TEST(HiveText, BadInputIsRefusedWithItsLineNumber) {
    const std::string a = kHead + "[A] 0\n";
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"line 1:", {"", "WINE REGISTRY Version 1\n[A] 0\n", "REGEDIT4\n"}},
        {"line 2:",
         {kHead + "\"x\"=dword:00000001\n", kHead + "[A\\\\B 0\n", kHead + "[A\\\\\\\\B] 0\n", kHead + "[A] 12x\n"}},
        {"line 3:",
         {a + "\"x\"=\"abc\n", a + "\"x=\"abc\"\n", a + "\"x\"=\"\\xg\"\n", a + "\"x\"=dword:\n",
          a + "\"x\"=dword:0000zz00\n", a + "\"x\"=dword:123456789\n", a + "\"x\"=hex:0,1\n", a + "\"x\"=hex:01,023\n",
          a + "\"x\"=hex:01,,02\n", a + "\"x\"=hex:01,02,\\\n", a + "\"x\"=hex(zz):01\n", a + "\"x\"=qword:1\n",
          a + "\"x\"=\"a\" b\n", a + "\"x\"\n", a + "\"x\"=\"\xC3\x28\"\n", a + "value\n"}},
        {"line 4:", {kHead + "\n[A] 0\n\"x\"=\"a" + std::string(1, '\0') + "b\"\n", a + "\"x\"=hex:01,\\\n  02,\\"}},
    };
    for (const auto& [where, texts] : cases)
        for (const std::string& text : texts) {
            HiveTree tree;
            std::string error;
            EXPECT_FALSE(ParseHiveText(text, tree, error)) << text;
            EXPECT_EQ(error.rfind(where, 0), 0u) << text << " -> " << error;
        }
}

TEST(HiveText, ToleratedInputAndStrayCarriageReturns) {
    std::string text =
        "WINE REGISTRY Version 2\r\n;; comment\r\n#arch=win64\r\n\r\n[Software\\\\A] 5\r\n#time=1d0\r\n"
        "\"s\"=\"v\"\r\n\"x\"=\"\\x00e9a\\x41424\"\r\n\"dup\"=\"1\"\r\n\"DUP\"=\"2\"\r\n"
        "[software\\\\a] 6\r\n\"later\"=dword:a\r\n\"o\"=\"\\101\\tb\\q\"\r\n\"h\"=hex:01,02,\r\n";
    HiveTree tree;
    std::string error;
    ASSERT_TRUE(ParseHiveText(text, tree, error)) << error;
    HiveKey* key = tree.OpenKey(u"SOFTWARE\\a", false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Path(), u"Software\\A");
    EXPECT_EQ(key->GetString(u"s"), u"v");               // no carriage return kept
    EXPECT_EQ(key->GetString(u"x"), u"\u00e9a\u41424");  // \x takes at most four digits
    EXPECT_EQ(key->GetString(u"dup"), u"2");             // the last one wins
    EXPECT_EQ(key->ValueNames(), (std::vector<std::u16string>{u"s", u"x", u"dup", u"later", u"o", u"h"}));
    EXPECT_EQ(key->GetDword(u"later"), 10u);
    EXPECT_EQ(key->GetString(u"o"), u"A\tbq");
    EXPECT_EQ(key->GetValue(u"h"), (RegValue{REG_BINARY, {1, 2}}));
    EXPECT_EQ(tree.Preamble(), std::vector<std::string>{"#arch=win64"});
    EXPECT_EQ(key->Options(), std::vector<std::string>{"#time=1d0"});

    // Stray carriage returns end the line and are not written back.
    const std::string strays = kHead + "#opt=1\r\r\r\n[A] 7\r\r\n#time=1\r\r\n\"x\"=\"y\"\r\r\n";
    HiveTree strayTree;
    ASSERT_TRUE(ParseHiveText(strays, strayTree, error)) << error;
    EXPECT_EQ(strayTree.Preamble(), std::vector<std::string>{"#opt=1"});
    const std::string written = FormatHiveText(strayTree);
    EXPECT_EQ(written.find('\r'), std::string::npos) << written;
    HiveTree again;
    ASSERT_TRUE(ParseHiveText(written, again, error)) << error;
    EXPECT_EQ(FormatHiveText(again), written);
    EXPECT_EQ(again.OpenKey(u"A", false)->GetString(u"x"), u"y");

    // Types this program does not write are kept exactly.
    const std::string multi = "\"Multi\"=hex(7):41,00,00,00,\\\n    42,00,00,00,00,00";
    const std::string expand = "\"Path\"=str(2):\"%HOME%\\\\x\"";
    HiveTree kept;
    ASSERT_TRUE(ParseHiveText(kHead + "\n[A] 7\n" + multi + "\n" + expand + "\n\"d\"=dword:00000001\n", kept, error));
    key = kept.OpenKey(u"A", false);
    EXPECT_EQ(key->GetValue(u"Multi"), (RegValue{7, {0x41, 0, 0, 0, 0x42, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(key->GetString(u"path"), u"%HOME%\\x");
    EXPECT_EQ(key->GetValue(u"path")->type, REG_EXPAND_SZ);
    key->SetDword(u"d", 2);
    const std::string out = FormatHiveText(kept);
    for (const std::string& line : {multi, expand, std::string("\"d\"=dword:00000002")})
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << out;
}

TEST(HiveText, ValuesRoundTripThroughTheText) {
    HiveTree tree;
    HiveKey* key = tree.OpenKey(u"Software\\Marrowind Software\\Quorvis\\Viewer", true);
    ASSERT_NE(key, nullptr);
    const std::uint8_t date[8] = {0, 0, 0, 0, 0x40, 0x5a, 0xe5, 0x40};
    std::vector<std::uint8_t> big(300);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    const std::u16string odd = u"say \"hi\" C:\\dir\\ \u00e9\u4e2d\U0001F600\n\t\x7f end";
    key->SetBinary(u"StartDate", date);
    key->SetBinary(u"Big", big);
    key->SetBinary(u"Empty", {});
    key->SetDword(u"PeriodType", 0xA0000003u);
    key->SetString(u"Server", odd);
    key->SetString(u"", u"default");
    key->SetString(u"a name with \"quotes\" and \\", u"");
    key->SetValue(u"Unterminated", RegValue{REG_SZ, {'a', 0, 'b'}});
    key->SetValue(u"Multi", RegValue{REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}});
    key->SetString(u"Server", odd);  // set twice: one entry

    std::string text = FormatHiveText(tree);
    std::istringstream lines(text);  // short lines of printable ASCII
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.size() <= 80 &&
                    std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7f; }))
            << line;
    EXPECT_EQ(text.find("[Software\\\\Marrowind Software\\\\Quorvis\\\\Viewer] "), text.find('['));

    HiveTree back;
    std::string error;
    ASSERT_TRUE(ParseHiveText(text, back, error)) << error << "\n" << text;
    HiveKey* read = back.OpenKey(u"software\\marrowind software\\QUORVIS\\viewer", false);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->ValueNames(), key->ValueNames());
    for (const std::u16string& name : key->ValueNames()) EXPECT_EQ(read->GetValue(name), key->GetValue(name));
    EXPECT_EQ(read->GetString(u"SERVER"), odd);
    // Parents that only hold subkeys are not written, but still exist.
    EXPECT_EQ(text.find("[Software] "), std::string::npos);
    EXPECT_NE(back.OpenKey(u"Software\\Marrowind Software", false), nullptr);
    EXPECT_EQ(back.OpenKey(u"Software\\Other", false), nullptr);
}

// A process saving the hive again and again, killed during a save: the file still parses and holds one whole
// generation of values, the last saved or the one being saved.
constexpr int kKills = 20;
constexpr int kValues = 100;  // some kilobytes: a save takes a while
const std::u16string kKey = u"Software\\Marrowind Software\\Quorvis\\CrashTest";

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::u16string ValueName(int i) { return u"Value " + Ascii(std::to_string(i)); }
std::u16string ValueText(std::uint32_t generation, int i) {
    return Ascii("generation " + std::to_string(generation) + " item " + std::to_string(i)) + u" \u00e4 " +
           Ascii(std::string(64, static_cast<char>('a' + i % 26)));
}

bool SaveGeneration(HiveStore& store, std::uint32_t generation) {
    HiveKey* key = store.OpenKey(kKey, true);
    if (!key) return false;
    for (int i = 0; i < kValues; ++i) key->SetString(ValueName(i), ValueText(generation, i));
    key->SetDword(u"Generation", generation);
    return store.Save();
}

// The child: saves generation after generation, reporting each on the pipe.
[[noreturn]] void SaveForever(const std::string& path, int report) {
    HiveStore store(path);
    if (store.Load() != HiveStore::LoadResult::Loaded) _exit(2);
    for (std::uint32_t generation = store.OpenKey(kKey, false)->GetDword(u"Generation").value_or(0) + 1;; ++generation)
        if (!SaveGeneration(store, generation) || write(report, &generation, sizeof generation) != sizeof generation)
            _exit(3);
}

std::vector<std::string> SaveFilesIn(const TempDir& tmp) {
    std::vector<std::string> paths;
    for (const std::string& name : Listing(tmp.Path()))
        if (name.starts_with(kHiveSaveFilePrefix)) paths.push_back(tmp.File(name));
    return paths;
}

// The next generation the child reports; 0 at the end of the pipe or after the limit.
std::uint32_t ReadGeneration(int fd) {
    pollfd wait{fd, POLLIN, 0};
    std::uint32_t generation = 0;
    const bool got = poll(&wait, 1, 30'000) > 0 && read(fd, &generation, sizeof generation) == sizeof generation;
    return got ? generation : 0;
}

TEST(HiveCrashSafety, SaveKilledAtRandomPointsLeavesTheOldOrTheNewValues) {
    TempDir tmp;
    const std::string path = tmp.File("user.reg");
    {
        HiveStore store(path);
        ASSERT_EQ(store.Load(), HiveStore::LoadResult::Missing);
        ASSERT_TRUE(SaveGeneration(store, 0));
    }
    const auto fileBytes = std::filesystem::file_size(path);
    std::mt19937_64 random(14);
    for (int run = 1; run <= kKills; ++run) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            SaveForever(path, report[1]);
        }
        close(report[1]);
        // Past a few whole saves, then somewhere inside one of the next two.
        std::uint32_t reported = 0;
        for (std::uint32_t saves = 1 + random() % 3; saves > 0; --saves) reported = ReadGeneration(report[0]);
        const auto io = kill_point::IoBytes(child);
        const auto outcome =
            reported && io ? kill_point::KillAtIo(child, *io + random() % (2 * fileBytes), std::chrono::seconds(30))
                           : kill_point::Outcome::TimedOut;
        if (outcome != kill_point::Outcome::Killed) kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        for (std::uint32_t more; (more = ReadGeneration(report[0])) != 0;) reported = more;
        close(report[0]);
        ASSERT_NE(reported, 0u) << "run " << run << ": the child saved nothing (status " << status << ")";
        ASSERT_EQ(outcome, kill_point::Outcome::Killed) << "run " << run;

        HiveStore store(path);
        ASSERT_EQ(store.Load(), HiveStore::LoadResult::Loaded) << "run " << run;
        HiveKey* key = store.OpenKey(kKey, false);
        ASSERT_NE(key, nullptr);
        const std::uint32_t generation = key->GetDword(u"Generation").value_or(0);
        ASSERT_TRUE(generation == reported || generation == reported + 1)
            << "run " << run << ": generation " << generation << " after " << reported << " was reported";
        for (int i = 0; i < kValues; ++i)
            ASSERT_EQ(key->GetString(ValueName(i)), ValueText(generation, i)) << "run " << run << " value " << i;
    }

    // The files of the killed saves go with the next save once they are old;
    // a save still writing (its file locked) and a fresh file are left alone.
    std::vector<std::string> left = SaveFilesIn(tmp);
    ASSERT_FALSE(left.empty()) << "no kill landed inside a save";
    const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    for (const std::string& file : left) ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0) << file;
    const int writing = open(left.front().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(writing, LOCK_EX), 0);
    HiveStore store(path);
    ASSERT_EQ(store.Load(), HiveStore::LoadResult::Loaded);
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(SaveFilesIn(tmp), std::vector<std::string>{left.front()});
    close(writing);
    const std::string fresh = tmp.File(std::string(kHiveSaveFilePrefix) + "fresh1");
    WriteFile(fresh, "partial");
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(SaveFilesIn(tmp), std::vector<std::string>{fresh}) << "the unlocked old file goes, the fresh stays";
}

}  // namespace
