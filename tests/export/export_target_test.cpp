// Where an export may land: links and pipes planted in a shared folder, the
// new file's mode, and the folder synced after the rename.
#include "export/html_table_exp.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

std::mutex syncedLock;
std::vector<std::pair<dev_t, ino_t>> syncedFolders;

bool FolderWasSynced(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    const std::lock_guard lock(syncedLock);
    for (const auto& [dev, ino] : syncedFolders)
        if (dev == st.st_dev && ino == st.st_ino) return true;
    return false;
}

bool Export(const std::string& path, QString* error = nullptr) {
    CHTMLTableExp out(QString::fromStdString(path), QStringLiteral("Users"));
    out.Close();
    if (error) *error = out.ErrorText();
    return out.Succeeded();
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// Every fsync of this program passes here, so that the test sees which
// folders the export synced.
extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        const std::lock_guard lock(syncedLock);
        syncedFolders.emplace_back(st.st_dev, st.st_ino);
    }
    return real(fd);
}

TEST(ExportTarget, WhatAnotherUserPlantedInASharedFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can plant an entry owned by another user";
    TempDir dir;
    const std::string shared = dir.File("tmp"), victim = dir.File("bashrc");
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    WriteFile(victim, "alias ls='ls -l'\n");

    const std::string planted = shared + "/report.htm";
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), kOtherUser, kOtherUser), 0);
    QString error;
    EXPECT_FALSE(Export(planted, &error));
    EXPECT_TRUE(error.startsWith(QString::fromStdString("Cannot write \"" + planted + "\": "))) << error.toStdString();
    EXPECT_EQ(ReadFile(victim), "alias ls='ls -l'\n");
    struct stat st {};
    EXPECT_TRUE(lstat(planted.c_str(), &st) == 0 && S_ISLNK(st.st_mode));

    // A pipe there would hand the report to whoever reads it.
    const std::string pipe = shared + "/pipe.htm";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    ASSERT_EQ(chown(pipe.c_str(), kOtherUser, kOtherUser), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(Export(pipe));
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "nothing reached the pipe";
    close(reader);

    // The user's own link there is followed, and stays a link.
    const std::string own = shared + "/own.htm";
    ASSERT_EQ(symlink(victim.c_str(), own.c_str()), 0);
    EXPECT_TRUE(Export(own));
    EXPECT_NE(ReadFile(victim).find("<title>Users</title>"), std::string::npos);
    EXPECT_TRUE(lstat(own.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
}

TEST(ExportTarget, ANewExportIsTheOwnersAloneAndItsFolderIsSynced) {
    TempDir dir;
    const mode_t saved = umask(022);
    EXPECT_TRUE(Export(dir.File("r.htm")));
    umask(077);
    EXPECT_TRUE(Export(dir.File("narrow.htm")));
    umask(saved);
    EXPECT_EQ(Mode(dir.File("r.htm")), 0600u);
    EXPECT_EQ(Mode(dir.File("narrow.htm")), 0600u);
    EXPECT_TRUE(FolderWasSynced(dir.Path())) << "the rename is durable only once its folder is synced";
}
