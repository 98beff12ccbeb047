#include "app/qv_viewer_app.h"

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/message_box_handler.h"
#include "app/period_rules.h"
#include "foundation/debug_stream.h"
#include "platform/ole_date.h"
#include "reports/right_view.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/ui_call_waiter.h"
#include "service/viewer_settings.h"

#include <QApplication>
#include <QIcon>

namespace {

CQVViewerApp* theApp = nullptr;

constexpr int kInitFailedExitCode = 1;
constexpr int kWindowIconSizes[] = {16, 32, 48, 64};

std::string HivePathOrDefault(std::string path) { return path.empty() ? DefaultHivePath() : std::move(path); }

}  // namespace

CQVViewerApp* TheApp() { return theApp; }

CQVViewerApp::CQVViewerApp(int& argc, char** argv, Clock clock, std::string hivePath)
    : argc_(argc),
      argv_(argv),
      clock_(clock ? std::move(clock) : Clock(&OleDateNow)),
      hive_(HivePathOrDefault(std::move(hivePath))),
      period_(InitialPeriod(clock_())) {
    theApp = this;
}

CQVViewerApp::~CQVViewerApp() {
    DestroyDocumentAndFrame();
    SetMessageHandler({});
    theApp = nullptr;
}

int CQVViewerApp::Run() {
    if (!InitInstance()) {
        DestroyDocumentAndFrame();
        ExitInstance();
        return kInitFailedExitCode;
    }
    // Told to quit while start-up waited for the service: no loop to run.
    if (!ServiceCallsAbandoned()) exitCode_ = QApplication::exec();
    DestroyDocumentAndFrame();
    return ExitInstance();
}

bool CQVViewerApp::InitInstance() {
    // The result-set trace category is on, but with no writer nothing is
    // traced.
    TraceStream.Categories().set(kRecordsetTraceCategory);
    TraceStream.RemoveAllWriters();

    if (QCoreApplication::instance() == nullptr) ownApplication_ = std::make_unique<QApplication>(argc_, argv_);
    // The profile: "Software\Marrowind Software\QVViewer" (ui/profile_store.h).
    QCoreApplication::setOrganizationName(QStringLiteral("Marrowind Software"));
    QCoreApplication::setApplicationName(LoadResString(kIdsAppTitle));
    // Ties the windows to the installed desktop entry (Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.marrowind.QVViewer"));
    QIcon icon;
    for (int size : kWindowIconSizes) icon.addPixmap(LoadResIcon(kIdrMainFrame, size));
    QApplication::setWindowIcon(icon);

    InstallMessageBoxHandler();
    LoadSettings();

    if (!CreateDocumentAndFrame()) return false;
    frame_->show();
    frame_->update();
    return true;
}

bool CQVViewerApp::CreateDocumentAndFrame() {
    doc_ = std::make_unique<CQVViewerDoc>(hive_);
    frame_ = std::make_unique<CMainFrame>(doc_.get(), &hive_);
    doc_->SetHost(frame_.get());
    QObject::connect(doc_.get(), &CQVViewerDoc::Warning, frame_.get(),
                     [](const QString& text) { ShowMessage(text, MessageIcon::Exclamation); });
    const bool created = doc_->OnNewDocument();
    frame_->View()->OnInitialUpdate();
    return created;
}

void CQVViewerApp::DestroyDocumentAndFrame() {
    // The frame releases its trees' objects while the document still exists.
    frame_.reset();
    if (doc_) doc_->SetHost(nullptr);
    doc_.reset();
}

int CQVViewerApp::ExitInstance() {
    if (settingsRead_) SaveSettings();
    SetMessageHandler({});
    return exitCode_;
}

void CQVViewerApp::EnsureHiveLoaded() {
    if (hiveLoaded_) return;
    hiveLoaded_ = true;
    hive_.Load();
}

bool CQVViewerApp::LoadSettings() {
    EnsureHiveLoaded();
    settingsRead_ = true;
    return ::LoadSettings(hive_, period_);
}

bool CQVViewerApp::SaveSettings() {
    EnsureHiveLoaded();
    return ::SaveSettings(hive_, period_);
}

bool CQVViewerApp::GetPeriod(ReportPeriod& period) {
    RecomputePeriod(period_, clock_());
    period = period_;
    return true;
}

bool CQVViewerApp::SetPeriod(const ReportPeriod& period) {
    period_ = period;
    return true;
}

HiveStore& CQVViewerApp::Hive() {
    EnsureHiveLoaded();
    return hive_;
}

void CQVViewerApp::SetClock(Clock clock) { clock_ = clock ? std::move(clock) : Clock(&OleDateNow); }

void CQVViewerApp::OnAppAbout() { ShowAboutBox(frame_.get()); }
