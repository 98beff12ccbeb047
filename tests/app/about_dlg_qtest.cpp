#include "app/about_dlg.h"

#include <QLabel>
#include <QtTest>

class AboutDlgTest : public QObject {
    Q_OBJECT
private slots:
    void versionTextAndTheDialogShowingTheBuildsVersion() {
        QCOMPARE(VersionText(std::nullopt), QStringLiteral("1.0"));
        QCOMPARE(VersionText(FileVersion{1, 2, 3, 4}), QStringLiteral("1.2.3.4"));
        // Each part is a 16-bit half of the file version.
        QCOMPARE(VersionText(FileVersion{65536 + 7, 65535, 0, 10}), QStringLiteral("7.65535.0.10"));

        CAboutDlg dialog;
        // The project's version as CMake states it, four parts.
        QCOMPARE(dialog.VersionLabel()->text(), QStringLiteral(QV_PROJECT_VERSION));
        QStringList texts;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("QVViewer Version")));
        QVERIFY(texts.filter(QStringLiteral("href=")).size() == 1);  // the vendor's link
    }
};

QTEST_MAIN(AboutDlgTest)
#include "about_dlg_qtest.moc"
