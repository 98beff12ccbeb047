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
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fstream>

namespace {

int argc = 1;
char arg0[] = "qvviewer";
char* argv[] = {arg0, nullptr};

double At(int year, int month, int day, int hour = 9, int minute = 15) {
    return *OleDateFromFields(year, month, day, hour, minute, 0);
}

ReportPeriod StoredPeriod(const std::string& path) {
    HiveStore hive(path);
    hive.Load();
    ReportPeriod period;
    period.type = -1;
    LoadSettings(hive, period);
    return period;
}

// Answers every message box as it opens, keeping what it showed.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->windowTitle();
                box->accept();
            }
        });
        timer_.start(10);
    }
    QStringList seen;  // the titles

private:
    QTimer timer_;
};

}  // namespace

class AppTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        hivePath_ = dir_->filePath(QStringLiteral("user.reg")).toStdString();
        now_ = At(2024, 5, 15);
    }

    void versionTextAndTheAboutBoxShowingTheBuildsVersion() {
        QCOMPARE(VersionText(std::nullopt), QStringLiteral("1.0"));
        // Each part is a 16-bit half of the file version.
        QCOMPARE(VersionText(FileVersion{65536 + 7, 65535, 0, 10}), QStringLiteral("7.65535.0.10"));
        CAboutDlg dialog;
        QCOMPARE(dialog.VersionLabel()->text(), QStringLiteral(QV_PROJECT_VERSION));
        QStringList texts;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("QVViewer Version")));
        QCOMPARE(texts.filter(QStringLiteral("href=")).size(), 1);  // the vendor's link
    }

    void periodRulesUseTheClockAndTheLastReportIsSaved() {
        CQVViewerApp app(argc, argv, clock_, hivePath_);
        QVERIFY(app.LoadSettings());
        ReportPeriod period;
        QVERIFY(app.GetPeriod(period));  // the first report: This Year
        QCOMPARE(period.start, At(2023, 12, 31));
        QCOMPARE(period.end, now_);

        period.type = kPeriodToday;
        QVERIFY(app.SetPeriod(period));
        now_ = At(2024, 6, 1, 8, 0);  // the clock moves on
        QVERIFY(app.GetPeriod(period));
        app.ExitInstance();
        const ReportPeriod stored = StoredPeriod(hivePath_);
        QCOMPARE(stored.type, int(kPeriodToday));
        QCOMPARE(stored.start, now_ - 1);
        QCOMPARE(stored.end, now_);
    }

    void settingsNeverReadAreNotOverwritten() {
        {
            HiveStore hive(hivePath_);
            hive.Load();
            ReportPeriod custom{At(2020, 1, 2), kDateInvalid, At(2020, 3, 4), kDateInvalid, kPeriodCustom};
            QVERIFY(SaveSettings(hive, custom));
        }
        const std::string before = ReadFile(hivePath_);
        {
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            app.ExitInstance();  // start-up ended before the settings were read
        }
        QVERIFY(TheApp() == nullptr);
        QCOMPARE(ReadFile(hivePath_), before);
    }

    void settingsAreSavedAtExitAfterAFailedLoad() {
        const std::string corrupt = "not a hive";
        std::ofstream(hivePath_, std::ios::binary) << corrupt;
        {
            SetAsideBlocker blocker(hivePath_);
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            app.LoadSettings();  // cannot even set the corrupt file aside
            QCOMPARE(app.Hive().SetAsidePath(), std::string());
            blocker.Release();
            ReportPeriod period{At(2021, 2, 3), kDateValid, At(2021, 4, 5), kDateValid, kPeriodCustom};
            app.SetPeriod(period);
            app.ExitInstance();
            QCOMPARE(ReadFile(app.Hive().SetAsidePath()), corrupt);
        }
        const ReportPeriod stored = StoredPeriod(hivePath_);
        QCOMPARE(stored.type, int(kPeriodCustom));
        QCOMPARE(stored.start, At(2021, 2, 3));
        QCOMPARE(stored.end, At(2021, 4, 5));
    }

    void startWithEmptyHiveAsksForTheServer() {
        int optionsRuns = 0;
        SetOptionsSheetRunner([&optionsRuns](QWidget*, CQVViewerDoc&) {
            ++optionsRuns;
            return false;
        });
        BoxAnswerer answerer;
        {
            CQVViewerApp app(argc, argv, clock_, hivePath_);
            QVERIFY(app.InitInstance());
            QCOMPARE(answerer.seen, QStringList{"QVViewer"});  // its words are ViewerDocTest's
            QTRY_COMPARE(optionsRuns, 1);                      // posted, so it opens once start-up is done
            QVERIFY(app.MainFrame()->isVisible());
            QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("QVViewer"));
        }
        SetOptionsSheetRunner({});
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string hivePath_;
    double now_ = 0;
    const CQVViewerApp::Clock clock_ = [this] { return now_; };
};

QTEST_MAIN(AppTest)
#include "app_qtest.moc"
