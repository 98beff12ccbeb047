#include "app/qv_viewer_app.h"

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/options_sheet.h"
#include "platform/ole_date.h"
#include "service/viewer_settings.h"
#include "tests/support/set_aside_blocker.h"
#include "tests/support/temp_dir.h"

#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <optional>

namespace {

int argc = 1;
char* argv[] = {const_cast<char*>("qvviewer"), nullptr};

double At(int year, int month, int day, int hour = 9, int minute = 15) {
    return *OleDateFromFields(year, month, day, hour, minute, 0);
}

ReportPeriod StoredPeriod(const std::string& path) {
    HiveStore hive(path);
    hive.Load();
    ReportPeriod period{.type = -1};
    LoadSettings(hive, period);
    return period;
}

}  // namespace

class AppTest : public QObject {
    Q_OBJECT
private slots:
    void init() { hivePath_ = dir_.emplace().File("user.reg"); }

    void versionTextAndTheAboutBoxShowingTheBuildsVersion() {
        QCOMPARE(VersionText(std::nullopt), QStringLiteral("1.0"));
        // Each part is a 16-bit half of the file version.
        QCOMPARE(VersionText(FileVersion{65536 + 7, 65535, 0, 10}), QStringLiteral("7.65535.0.10"));
        CAboutDlg dialog;
        QCOMPARE(dialog.VersionLabel()->text(), QStringLiteral(QV_PROJECT_VERSION));
    }

    // The period is saved at exit (after a failed load too), never over settings not read; its rules use the clock.
    void theLastPeriodIsSavedAtExitOnlyOnceTheSettingsWereRead() {
        {
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            QVERIFY(app.LoadSettings());
            ReportPeriod period;
            QVERIFY(app.GetPeriod(period));  // the first report: This Year
            QVERIFY(period.start == At(2023, 12, 31) && period.end == now_);
            period.type = kPeriodToday;
            QVERIFY(app.SetPeriod(period));
            now_ = At(2024, 6, 1, 8, 0);  // the clock moves on
            QVERIFY(app.GetPeriod(period));
            app.ExitInstance();
        }
        ReportPeriod stored = StoredPeriod(hivePath_);
        QVERIFY(stored.type == kPeriodToday && stored.start == now_ - 1 && stored.end == now_);

        const std::string before = ReadFile(hivePath_);
        {
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            app.ExitInstance();  // start-up ended before the settings were read
        }
        QVERIFY(!TheApp() && ReadFile(hivePath_) == before);

        WriteFile(hivePath_, "not a hive");
        {
            SetAsideBlocker blocker(hivePath_);
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            app.LoadSettings();  // cannot even set the corrupt file aside
            QCOMPARE(app.Hive().SetAsidePath(), std::string());
            blocker.Release();
            app.SetPeriod({At(2021, 2, 3), kDateValid, At(2021, 4, 5), kDateValid, kPeriodCustom});
            app.ExitInstance();
            QCOMPARE(ReadFile(app.Hive().SetAsidePath()), std::string("not a hive"));
        }
        stored = StoredPeriod(hivePath_);
        QVERIFY(stored.type == kPeriodCustom && stored.start == At(2021, 2, 3) && stored.end == At(2021, 4, 5));
    }

    void startWithEmptyHiveAsksForTheServer() {
        int optionsRuns = 0;
        SetOptionsSheetRunner([&optionsRuns](QWidget*, CQVViewerDoc&) { return ++optionsRuns, false; });
        // Answers every message box as it opens, keeping its title.
        QStringList seen;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                seen << box->windowTitle(), box->accept();
        });
        answerer.start(10);
        {
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            QVERIFY(app.InitInstance());
            QCOMPARE(seen, QStringList{"QVViewer"});  // its words are ViewerDocTest's
            QTRY_COMPARE(optionsRuns, 1);             // posted, so it opens once start-up is done
            QVERIFY(app.MainFrame()->isVisible());    // its caption is MainFrameTest's
        }
        SetOptionsSheetRunner({});
    }

private:
    std::optional<TempDir> dir_;
    std::string hivePath_;
    double now_ = At(2024, 5, 15);  // moved on by the tests
    const CQVViewerApp::Clock clock_ = [this] { return now_; };
};

QTEST_MAIN(AppTest)
#include "app_qtest.moc"
