// The CSV and HTML exports' bytes, and where an export may land: failures that keep the target, links and pipes planted
// in a shared folder, the new file's mode, and the folder synced after the rename.
#include "export/csv_table_export.h"
#include "export/html_table_exp.h"
#include "tests/support/fsync_spy.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using namespace Qt::StringLiterals;

std::string ReadAll(const QString& path) { return ReadFile(QFile::encodeName(path).toStdString()); }
void WriteAll(const QString& path, const std::string& data) { WriteFile(QFile::encodeName(path).toStdString(), data); }

std::string Golden(const QString& name) { return ReadAll(u"" QV_EXPORT_DATA_DIR "/"_s + name); }

unsigned Mode(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

void Row(CTableExport& out, const QStringList& cells) {
    out.BeginRow();
    for (const QString& cell : cells) out.WriteCell(cell, 0, 2);
    out.EndRow();
}

// A page of the row; the error text, empty when the export succeeded.
QString Export(const QString& path, const QStringList& row = {}, const QString& title = u"Users"_s) {
    CHTMLTableExp out(path, title);
    if (!row.isEmpty()) Row(out, row);
    out.Close();
    EXPECT_EQ(out.Succeeded(), out.ErrorText().isEmpty()) << out.ErrorText().toStdString();
    return out.ErrorText();
}

// An export that an exception cuts short.
[[noreturn]] void ThrowMidExport(const QString& path) {
    CHTMLTableExp out(path, u"t"_s);
    Row(out, {u"a"_s, u"b"_s});
    throw std::runtime_error("grid failed");
}

class TableExport : public ::testing::Test {
protected:
    void SetUp() override {
        setlocale(LC_ALL, "C.UTF-8");
        ASSERT_TRUE(dir_.isValid());
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QStringList Entries(const QString& sub = {}) const { return QDir(Path(sub)).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir_;
};

// Fields that start like a spreadsheet formula are guarded with ' (the golden file's rows 2 to 4), nothing inside.
TEST_F(TableExport, CsvQuotesWhereNeededInUtf8WhateverTheLocale) {
    setlocale(LC_ALL, "C");  // an ASCII locale must not touch the bytes
    const QString path = Path(u"report.csv"_s);
    {
        CCsvTableExport out(path);
        for (const char* name : {"Name", "Time Spent", "Keyboard Events", "Mouse Events"})
            out.WriteCell(QString::fromUtf8(name), 2, 2);
        for (const QStringList& row :
             QList<QStringList>{{u"Smith, John"_s, u"1 day 01:01 hours"_s, u"1234"_s, u"56789"_s},
                                {u"say \"hi\""_s, u"00 minutes"_s, u"0"_s, u"-7"_s},
                                {u"two\nlines"_s, u"=SUM(A1)"_s, u"cr\rhere"_s, u"Zoë"_s},
                                {u"+1"_s, u"@cmd"_s, u"\tTab"_s, u"\rCR, \"x\""_s},
                                {u"a=b"_s, u"'-"_s, u" =1"_s, u"-"_s},
                                {QString(), QString(), QString(), QString()}})
            Row(out, row);
        EXPECT_EQ(out.Close(), 1u);
        EXPECT_TRUE(out.Succeeded());
    }
    setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(ReadAll(path), Golden(u"report.csv"_s));

    // A header without rows is still a finished record.
    {
        CCsvTableExport out(path);
        out.WriteCell(u"A"_s, 0, 0);
        out.WriteCell(u"B"_s, 0, 0);
    }
    EXPECT_EQ(ReadAll(path), "A,B\r\n");
}

TEST_F(TableExport, TablesMatchGoldenPagesWithTextsWholeInTheLocaleCodeSet) {
    const QStringList columns = {u"Time Spent"_s, u"Keyboard Events"_s, u"Mouse Events"_s};
    const QString attack = u"<script>alert('x')</script> & \"q\""_s;
    {
        CHTMLTableExp out(Path(u"no_columns.htm"_s), u"Users"_s);
        EXPECT_FALSE(QFileInfo::exists(Path(u"no_columns.htm"_s))) << "the target appears only when finished";
        EXPECT_EQ(out.Close(), 1u);
        EXPECT_EQ(out.Close(), 1u);  // closed once
        EXPECT_TRUE(out.Succeeded() && out.ErrorText().isEmpty());
    }
    {
        CHTMLTableExp out(Path(u"header_only.htm"_s), u"Computers"_s);
        for (const QString& name : QStringList{u"Computer"_s} + columns) out.WriteCell(name, 2, 2);
    }
    {
        CHTMLTableExp out(Path(u"rows.htm"_s), u"Programs of Zoë on PC-07"_s);
        for (const QString& name : QStringList{u"Program Name"_s} + columns) out.WriteCell(name, 2, 2);
        Row(out, {u"Microsoft Word"_s, u"1 day 01:01 hours"_s, u"1234"_s, u"56789"_s});
        Row(out, {u"Café Menu 東京"_s, u"2 days 00:00 hours"_s, u"0"_s, QString()});
        Row(out, {u"Calculator"_s, u"59 minutes"_s});
    }
    // A row before any cell comes ahead of the table line.
    EXPECT_EQ(Export(Path(u"escaping.htm"_s), {attack, u"AT&T"_s}, attack), QString());
    {
        CHTMLTableExp out(Path(u"styles.htm"_s), u"Styles"_s);
        out.BeginTable();
        out.BeginRow();
        out.WriteCell(u"Header"_s, 1, 2);
        out.WriteCell(u"Underlined"_s, 4, 3);
        out.WriteCell(u"Italic"_s, 8, 1);
        out.WriteCell(u"All"_s, 15, 7);
        out.EndRow();
        out.EndTable();
        out.WriteImage(u"pie & bar.png"_s, 120, 300);
    }
    for (const QString& name : Entries()) EXPECT_EQ(ReadAll(Path(name)), Golden(name)) << name.toStdString();
    EXPECT_EQ(Entries().size(), 5);

    // Texts are written whole, in the locale's code set.
    const QString longText = QString(4999, u'x') + u"é"_s;
    EXPECT_EQ(Export(Path(u"long.htm"_s), {longText}, longText), QString());
    const std::string page = ReadAll(Path(u"long.htm"_s));
    const std::string utf8 = longText.toStdString();
    EXPECT_NE(page.find("<title>" + utf8 + "</title>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<td><font size=\"2\">" + utf8 + "</font></td>\r\n"), std::string::npos);

    setlocale(LC_ALL, "C");
    EXPECT_EQ(Export(Path(u"ascii.htm"_s), {u"Zoë 東京 ok"_s}), QString());
    setlocale(LC_ALL, "C.UTF-8");
    EXPECT_NE(ReadAll(Path(u"ascii.htm"_s)).find(">Zo? ?? ok<"), std::string::npos);
}

// A path that cannot be opened leaves nothing; a write that fails, an exception, or a Close while unwinding never
// replaces the target. A folder without write permission: see the in-place rewrite below.
TEST_F(TableExport, FailuresLeaveNothingAndKeepTheExistingTarget) {
    for (const QString& path : QStringList{Path(u"missing/r.htm"_s), u"/etc/passwd/x.htm"_s, QString()}) {
        EXPECT_TRUE(Export(path, {u"cell"_s}).startsWith(u"Cannot write \""_s + path + u"\": "_s))
            << path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    const QString path = Path(u"r.htm"_s);
    WriteAll(path, "old report");
    const auto expectKept = [&] {
        EXPECT_EQ(ReadAll(path), "old report");
        EXPECT_EQ(Entries(), QStringList{u"r.htm"_s});
    };
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit small{4096, saved.rlim_max};
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = Export(path, {QString(100000, u'x')});
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(error, u"Cannot write \""_s + path + u"\": File too large"_s);
    expectKept();

    EXPECT_THROW(ThrowMidExport(path), std::runtime_error);
    expectKept();
    EXPECT_THROW(
        {
            CHTMLTableExp out(path, u"t"_s);
            const std::shared_ptr<void> closeOnUnwind(nullptr, [&out](void*) {
                out.Close();
                EXPECT_FALSE(out.Succeeded());
                EXPECT_TRUE(out.ErrorText().endsWith(u"the export was interrupted"_s));
            });
            throw std::runtime_error("grid failed");
        },
        std::runtime_error);
    expectKept();

    // A device is written in place, never renamed over.
    if (access("/dev/full", W_OK) == 0) {
        const QStringList before = QDir(u"/dev"_s).entryList(QDir::AllEntries | QDir::System);
        EXPECT_TRUE(Export(u"/dev/full"_s).contains(u"\"/dev/full\": No space left on device"_s));
        EXPECT_EQ(QDir(u"/dev"_s).entryList(QDir::AllEntries | QDir::System), before);
        struct stat st {};
        EXPECT_TRUE(stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
    }
}

TEST_F(TableExport, AWritableFileInAnUnwritableFolderIsRewrittenInPlace) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(u"ro"_s));
    const QString path = Path(u"ro/r.htm"_s);
    WriteAll(path, std::string(20000, 'o'));  // longer than the export: truncated
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0640), 0);
    // No file can be created in the folder, also for root (whom permissions do not stop): the temporary file fails.
    const QByteArray folder = QFile::encodeName(Path(u"ro"_s));
    const std::shared_ptr<void> restore(nullptr, [&](void*) {
        SetTemporaryFileOpener({});
        chmod(folder.constData(), 0755);
    });
    if (geteuid() == 0)
        SetTemporaryFileOpener([](const char*) { return errno = EACCES, -1; });
    else
        ASSERT_EQ(chmod(folder.constData(), 0555), 0);
    {
        CHTMLTableExp out(path, u"Users"_s);
        EXPECT_EQ(ReadAll(path), std::string(20000, 'o')) << "the old file stays until the export is whole";
        out.Close();
        EXPECT_TRUE(out.Succeeded()) << out.ErrorText().toStdString();
    }
    EXPECT_EQ(ReadAll(path), Golden(u"no_columns.htm"_s));
    EXPECT_EQ(Mode(path), 0640u);

    // An export cut short by an exception leaves the file as it was.
    EXPECT_THROW(ThrowMidExport(path), std::runtime_error);
    EXPECT_EQ(ReadAll(path), Golden(u"no_columns.htm"_s));

    // A new file cannot be made there: the failure is told.
    const QString fresh = Path(u"ro/new.htm"_s);
    EXPECT_EQ(Export(fresh), u"Cannot write \""_s + fresh + u"\": Permission denied"_s);
    EXPECT_EQ(Entries(u"ro"_s), QStringList{u"r.htm"_s}) << "no temporary file left";
}

TEST_F(TableExport, ANewExportIsTheOwnersAloneWithItsFolderSyncedAndReplacingKeepsModeAndLinks) {
    const std::string folder = std::filesystem::canonical(dir_.path().toStdString());
    bool folderSynced = false;
    const mode_t saved = umask(022);
    {
        const qv::test::FsyncWatch watch([&](const std::string& path) { folderSynced |= path == folder; });
        EXPECT_EQ(Export(Path(u"new.htm"_s)), QString());
    }
    umask(saved);
    EXPECT_EQ(Mode(Path(u"new.htm"_s)), 0600u);
    EXPECT_TRUE(folderSynced) << "the rename is durable only once its folder is synced";

    const QString real = Path(u"real.htm"_s), link = Path(u"link.htm"_s);
    WriteAll(real, {});
    ASSERT_EQ(chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, link));
    EXPECT_EQ(Export(link), QString());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(real), Golden(u"no_columns.htm"_s));
    EXPECT_EQ(Mode(real), 0640u);
}

TEST(ExportTarget, WhatAnotherUserPlantedInASharedFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can plant an entry owned by another user";
    constexpr uid_t kOtherUser = 65534;  // nobody
    const auto exported = [](const std::string& path) { return Export(QString::fromStdString(path)); };
    const auto isLink = [](const std::string& path) { return QFileInfo(QString::fromStdString(path)).isSymLink(); };
    TempDir dir;
    const std::string shared = dir.File("tmp"), victim = dir.File("bashrc");
    ASSERT_TRUE(mkdir(shared.c_str(), 0755) == 0 && chmod(shared.c_str(), 01777) == 0);
    WriteFile(victim, "alias\n");

    const std::string planted = shared + "/report.htm";
    ASSERT_TRUE(symlink(victim.c_str(), planted.c_str()) == 0 && lchown(planted.c_str(), kOtherUser, kOtherUser) == 0);
    const QString error = exported(planted);
    EXPECT_TRUE(error.startsWith(QString::fromStdString("Cannot write \"" + planted + "\": "))) << error.toStdString();
    EXPECT_EQ(ReadFile(victim), "alias\n");
    EXPECT_TRUE(isLink(planted));

    // A pipe there would hand the report to whoever reads it.
    const std::string pipe = shared + "/pipe.htm";
    ASSERT_TRUE(mkfifo(pipe.c_str(), 0666) == 0 && chown(pipe.c_str(), kOtherUser, kOtherUser) == 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(exported(pipe).isEmpty());
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "nothing reached the pipe";
    close(reader);

    const std::string own = shared + "/own.htm";
    ASSERT_EQ(symlink(victim.c_str(), own.c_str()), 0);
    EXPECT_EQ(exported(own), QString()) << "the user's own link is followed";
    EXPECT_NE(ReadFile(victim).find("<title>Users</title>"), std::string::npos);
    EXPECT_TRUE(isLink(own));
}

}  // namespace
