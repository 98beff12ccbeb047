// The frame's Options command: the sheet over the application's hive.
#include "app/options_sheet.h"

#include "app/qv_viewer_app.h"
#include "resources/resource_ids.h"

namespace {

OptionsSheetRunner& Runner() {
    static OptionsSheetRunner runner;
    return runner;
}

}  // namespace

bool RunOptionsSheet(QWidget* parent, CQVViewerDoc& doc) {
    if (Runner()) return Runner()(parent, doc);
    CQVViewerApp* app = TheApp();
    CSheetOptions sheet(&doc, app ? &app->Hive() : nullptr, CPropertySheet::Look::Tree, kIdbOptionsNavigation,
                        CSheetOptions::kNavigationIconSize, parent);
    return sheet.DoModal() == QDialog::Accepted;
}

void SetOptionsSheetRunner(OptionsSheetRunner runner) { Runner() = std::move(runner); }
