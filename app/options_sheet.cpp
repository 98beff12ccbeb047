#include "app/options_sheet.h"

#include "app/tls_files_box.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/viewer_settings.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

// The page's size in dialog units: a quarter of the average character
// width across, an eighth of the font height down.
const QSize kPageSizeDlu(289, 209);

QSize DialogUnitsToPixels(const QSize& dlu) {
    const QFontMetrics metrics{QFont()};
    return QSize(dlu.width() * metrics.averageCharWidth() / 4, dlu.height() * metrics.height() / 8);
}

}  // namespace

CPPageServer::CPPageServer(CQVViewerDoc* doc, HiveStore* hive, QWidget* parent)
    : CPropertyPage(QStringLiteral("Server"), parent),
      doc_(doc),
      hive_(hive),
      edit_(new QLineEdit(this)),
      tls_(new CTlsFilesBox(this)) {
    setObjectName(QStringLiteral("page%1").arg(kIddServerPage));
    edit_->setObjectName(QStringLiteral("control%1").arg(kIdcServerName));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Quorvis Server:"), this));
    layout->addWidget(edit_);
    layout->addWidget(tls_);
    layout->addStretch(1);
    setMinimumSize(DialogUnitsToPixels(kPageSizeDlu));
    connect(edit_, &QLineEdit::textEdited, this, [this] { SetModified(true); });
    connect(tls_, &CTlsFilesBox::Edited, this, [this] { SetModified(true); });
}

bool CPPageServer::OnInitDialog() {
    if (doc_ && hive_) {
        serverName_ = QString::fromStdU16String(ReadServerName(*hive_));
        tls_->SetFiles(ReadTlsSettings(*hive_));
    }
    edit_->setText(serverName_);
    return true;
}

bool CPPageServer::OnApply() { return ApplyStep(); }

bool CPPageServer::OnOK() { return ApplyStep(); }

bool CPPageServer::ApplyStep() {
    serverName_ = edit_->text();
    if (serverName_.isEmpty()) {
        ShowMessage(LoadResString(kIdsFieldEmpty), MessageIcon::Exclamation);
        edit_->setFocus();
        return false;
    }
    // A path that cannot serve is said now, not left to a silent plain-text
    // connection; nothing is stored.
    if (!tls_->Check()) return false;
    if (doc_ && hive_) {
        WriteTlsSettings(*hive_, tls_->Files());
        WriteServerName(*hive_, serverName_.toStdU16String());
        doc_->Disconnect();
        doc_->Connect();
    }
    SetModified(false);
    return true;
}

CSheetOptions::CSheetOptions(CQVViewerDoc* doc, HiveStore* hive, Look look, unsigned iconsBitmap, int iconSize,
                             QWidget* parent)
    : CPropertySheet(LoadResString(kIdsOptions), parent), page_(new CPPageServer(doc, hive, this)) {
    SetLook(look, kNavigationWidth);
    if (iconsBitmap != 0) SetIconsList(iconsBitmap, iconSize);
    if (look == Look::Tree) {
        QTreeWidgetItem* general = AddTreeCategory(LoadResString(kIdsGeneral), kGeneralIcon, kGeneralIcon);
        AddPageToTree(general, page_, kServerIcon, kServerIcon);
    } else {
        AddPage(page_);
    }
}
