#include "export/csv_table_export.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>

#include <QFile>
#include <QTemporaryDir>

namespace {

using namespace Qt::StringLiterals;

std::string ReadAll(const QString& path) { return ReadFile(QFile::encodeName(path).toStdString()); }

// Fields that start like a spreadsheet formula are guarded with ' (the golden file's rows 2 to 4), nothing inside.
TEST(CsvExport, QuotesWhereNeededInUtf8WhateverTheLocale) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    setlocale(LC_ALL, "C");  // an ASCII locale must not touch the bytes
    const QString path = dir.filePath(u"report.csv"_s);
    {
        CCsvTableExport out(path);
        for (const char* name : {"Name", "Time Spent", "Keyboard Events", "Mouse Events"})
            out.WriteCell(QString::fromUtf8(name), 2, 2);
        const QList<QStringList> rows = {{u"Smith, John"_s, u"1 day 01:01 hours"_s, u"1234"_s, u"56789"_s},
                                         {u"say \"hi\""_s, u"00 minutes"_s, u"0"_s, u"-7"_s},
                                         {u"two\nlines"_s, u"=SUM(A1)"_s, u"cr\rhere"_s, u"Zoë"_s},
                                         {u"+1"_s, u"@cmd"_s, u"\tTab"_s, u"\rCR, \"x\""_s},
                                         {u"a=b"_s, u"'-"_s, u" =1"_s, u"-"_s},
                                         {QString(), QString(), QString(), QString()}};
        for (const QStringList& row : rows) {
            out.BeginRow();
            for (const QString& cell : row) out.WriteCell(cell, 0, 2);
            out.EndRow();
        }
        EXPECT_EQ(out.Close(), 1u);
        EXPECT_TRUE(out.Succeeded());
    }
    setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(ReadAll(path), ReadAll(u"" QV_EXPORT_DATA_DIR "/report.csv"_s));

    // A header without rows is still a finished record.
    {
        CCsvTableExport out(path);
        out.WriteCell(u"A"_s, 0, 0);
        out.WriteCell(u"B"_s, 0, 0);
    }
    EXPECT_EQ(ReadAll(path), "A,B\r\n");
}

}  // namespace
