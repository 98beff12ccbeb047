// A process saving the hive again and again, killed during a save: the file still parses and holds one whole
// generation of values, the last saved or the one being saved.
#include "platform/hive_save_files.h"
#include "platform/hive_store.h"
#include "tests/platform/kill_point.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

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
    for (std::uint32_t generation = store.OpenKey(kKey, false)->GetDword(u"Generation").value_or(0) + 1;;
         ++generation) {
        if (!SaveGeneration(store, generation) || write(report, &generation, sizeof generation) != sizeof generation)
            _exit(3);
    }
}

std::vector<std::string> SaveFilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().starts_with(kHiveSaveFilePrefix)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
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
    std::vector<std::string> left = SaveFilesIn(tmp.Path());
    ASSERT_FALSE(left.empty()) << "no kill landed inside a save";
    const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    for (const std::string& file : left) ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0) << file;
    const int writing = open(left.front().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(writing, LOCK_EX), 0);
    HiveStore store(path);
    ASSERT_EQ(store.Load(), HiveStore::LoadResult::Loaded);
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(SaveFilesIn(tmp.Path()), std::vector<std::string>{left.front()});
    close(writing);
    const std::string fresh = tmp.File(std::string(kHiveSaveFilePrefix) + "fresh1");
    { std::ofstream(fresh) << "partial"; }
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(SaveFilesIn(tmp.Path()), std::vector<std::string>{fresh})
        << "the unlocked old file goes, the fresh stays";
}

}  // namespace
