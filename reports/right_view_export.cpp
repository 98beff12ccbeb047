// The report view's Export Report: the caption names the file, the grid
// fills the table, and a failed write is told instead of passing as saved.
#include "reports/right_view.h"

#include "export/html_table_exp.h"
#include "reports/grid_export.h"
#include "reports/qv_grid.h"
#include "reports/report_errors.h"
#include "service/message_box.h"

#include <QFileDialog>
#include <QLabel>

namespace {

QString ChooseWithDialog(QWidget* owner, const QString& proposed) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // "*.*" would miss files without a dot here: every file is "*".
    dialog.setNameFilters({QStringLiteral("HTML Documents (*.htm)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("htm"));
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

ExportFileChooser& Chooser() {
    static ExportFileChooser chooser = ChooseWithDialog;
    return chooser;
}

}  // namespace

void SetExportFileChooser(ExportFileChooser chooser) { Chooser() = chooser ? std::move(chooser) : ChooseWithDialog; }

void CRightView::OnExportReport() {
    const QString path = Chooser()(this, ProposedExportName(captionLine_->text()));
    if (!path.isEmpty()) ExportReportTo(path);
}

bool CRightView::ExportReportTo(const QString& path) {
    try {
        CHTMLTableExp writer(path, captionLine_->text());
        WriteGridTable(writer, *grid_, TableLayout::Html);
        writer.Close();
        if (writer.Succeeded()) return true;
        ShowMessage(writer.ErrorText(), MessageIcon::Exclamation);
    } catch (const std::exception& error) {
        // The writer has dropped its unfinished file; the target is as it was.
        ShowReportError(error);
    }
    return false;
}
