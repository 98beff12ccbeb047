#include "app/about_dlg.h"

#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

namespace {

constexpr int kIconSize = 32;
constexpr int kVersionPartMask = 0xFFFF;

QString IdName(unsigned id) { return QStringLiteral("control%1").arg(id); }

}  // namespace

QString VersionText(const std::optional<FileVersion>& version) {
    if (!version) return QStringLiteral("1.0");
    const FileVersion& v = *version;
    return QString::asprintf("%d.%d.%d.%d", v[0] & kVersionPartMask, v[1] & kVersionPartMask, v[2] & kVersionPartMask,
                             v[3] & kVersionPartMask);
}

std::optional<FileVersion> BuildFileVersion() {
#if defined(QVVIEWER_VERSION_MAJOR) && defined(QVVIEWER_VERSION_MINOR) && defined(QVVIEWER_VERSION_PATCH) && \
    defined(QVVIEWER_VERSION_TWEAK)
    // "+ 0": a part the project version leaves out is defined empty.
    return FileVersion{QVVIEWER_VERSION_MAJOR + 0, QVVIEWER_VERSION_MINOR + 0, QVVIEWER_VERSION_PATCH + 0,
                       QVVIEWER_VERSION_TWEAK + 0};
#else
    return std::nullopt;
#endif
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), version_(new QLabel(QStringLiteral("1.0"), this)) {
    setWindowTitle(QStringLiteral("About QVViewer"));
    setObjectName(IdName(kIddAbout));

    auto* icon = new QLabel(this);
    icon->setPixmap(LoadResIcon(kIdrMainFrame, kIconSize));
    version_->setObjectName(IdName(kIdcVersion));
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const QString address = LoadResString(kIdsVendorWebAddress);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(address.toHtmlEscaped()), this);
    link->setObjectName(IdName(kIdcVendorLink));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(new QLabel(QStringLiteral("QVViewer Version"), this), 0, 1);
    layout->addWidget(version_, 0, 2);
    layout->addWidget(new QLabel(QStringLiteral("Copyright (C) Marrowind Software"), this), 1, 1, 1, 2);
    layout->addWidget(link, 2, 1, 1, 2);
    layout->addWidget(buttons, 0, 3, 3, 1, Qt::AlignTop);
    layout->setColumnStretch(2, 1);

    version_->setText(VersionText(BuildFileVersion()));
}

void ShowAboutBox(QWidget* parent) {
    CAboutDlg dialog(parent);
    dialog.exec();
}
