#pragma once
// CQVViewerApp: the process's single application object. It brings the
// program up in a fixed order (trace stream, Qt, profile, settings, the
// document and the main frame, the connection), owns the current report
// period and the settings hive, and writes the period back at exit.
#include "platform/hive_store.h"
#include "service/report_period.h"

#include <functional>
#include <memory>
#include <string>

class CMainFrame;
class CQVViewerDoc;
class QApplication;

class CQVViewerApp {
public:
    // The current local date-time as an OLE date.
    using Clock = std::function<double()>;

    // Uses the QApplication that exists, else makes its own in InitInstance.
    // An empty clock is the system's; an empty hive path DefaultHivePath().
    CQVViewerApp(int& argc, char** argv, Clock clock = {}, std::string hivePath = {});
    ~CQVViewerApp();
    CQVViewerApp(const CQVViewerApp&) = delete;
    CQVViewerApp& operator=(const CQVViewerApp&) = delete;

    // InitInstance, the event loop, the frame's and document's end,
    // ExitInstance; the process's exit code.
    int Run();
    // False ends the process.
    bool InitInstance();
    // Saves the settings (once reading them was tried, even if it failed:
    // an unsound hive is set aside for a fresh one) and returns the exit code.
    int ExitInstance();

    // The period in the hive (viewer_settings.h); the hive file is read once.
    bool LoadSettings();
    bool SaveSettings();

    // Always true. Types 0-3 are recomputed from the clock and kept.
    bool GetPeriod(ReportPeriod& period);
    bool SetPeriod(const ReportPeriod& period);

    HiveStore& Hive();
    void SetClock(Clock clock);

    // The About command (57664).
    void OnAppAbout();

    CQVViewerDoc* Document() const { return doc_.get(); }
    CMainFrame* MainFrame() const { return frame_.get(); }

private:
    void EnsureHiveLoaded();
    bool CreateDocumentAndFrame();
    void DestroyDocumentAndFrame();

    int& argc_;
    char** argv_;
    Clock clock_;
    std::unique_ptr<QApplication> ownApplication_;
    HiveStore hive_;
    bool hiveLoaded_ = false;
    bool settingsRead_ = false;  // never write back defaults over settings not yet read
    ReportPeriod period_;
    std::unique_ptr<CQVViewerDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    int exitCode_ = 0;
};

// The application object; null while none exists.
CQVViewerApp* TheApp();
