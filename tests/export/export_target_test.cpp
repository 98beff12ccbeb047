// Where an export may land: links and pipes planted in a shared folder, the
// new file's mode, and the folder synced after the rename.
#include "export/html_table_exp.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

constexpr uid_t kOtherUser = 65534;  // nobody

static bool Export(const std::string& path, QString* error = nullptr) {
    CHTMLTableExp out(QString::fromStdString(path), QStringLiteral("Users"));
    out.Close();
    if (error) *error = out.ErrorText();
    return out.Succeeded();
}

static struct stat Lstat(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

TEST(ExportTarget, WhatAnotherUserPlantedInASharedFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can plant an entry owned by another user";
    TempDir dir;
    const std::string shared = dir.File("tmp"), victim = dir.File("bashrc");
    ASSERT_TRUE(mkdir(shared.c_str(), 0755) == 0 && chmod(shared.c_str(), 01777) == 0);
    WriteFile(victim, "alias\n");

    const std::string planted = shared + "/report.htm";
    ASSERT_TRUE(symlink(victim.c_str(), planted.c_str()) == 0 && lchown(planted.c_str(), kOtherUser, kOtherUser) == 0);
    QString error;
    EXPECT_FALSE(Export(planted, &error));
    EXPECT_TRUE(error.startsWith(QString::fromStdString("Cannot write \"" + planted + "\": "))) << error.toStdString();
    EXPECT_EQ(ReadFile(victim), "alias\n");
    EXPECT_TRUE(S_ISLNK(Lstat(planted).st_mode));

    // A pipe there would hand the report to whoever reads it.
    const std::string pipe = shared + "/pipe.htm";
    ASSERT_TRUE(mkfifo(pipe.c_str(), 0666) == 0 && chown(pipe.c_str(), kOtherUser, kOtherUser) == 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(Export(pipe));
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "nothing reached the pipe";
    close(reader);

    const std::string own = shared + "/own.htm";
    ASSERT_EQ(symlink(victim.c_str(), own.c_str()), 0);
    EXPECT_TRUE(Export(own)) << "the user's own link is followed";
    EXPECT_NE(ReadFile(victim).find("<title>Users</title>"), std::string::npos);
    EXPECT_TRUE(S_ISLNK(Lstat(own).st_mode));
}

TEST(ExportTarget, ANewExportIsTheOwnersAloneAndItsFolderIsSynced) {
    TempDir dir;
    const std::string folder = std::filesystem::canonical(dir.Path());
    bool folderSynced = false;
    const mode_t saved = umask(022);
    {
        const qv::test::FsyncWatch watch([&](const std::string& path) { folderSynced |= path == folder; });
        EXPECT_TRUE(Export(dir.File("r.htm")));
    }
    umask(saved);
    EXPECT_EQ(Lstat(dir.File("r.htm")).st_mode & 07777, 0600u);
    EXPECT_TRUE(folderSynced) << "the rename is durable only once its folder is synced";
}
