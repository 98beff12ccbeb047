#include "app/tls_files_box.h"

#include "service/message_box.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

int Row(TlsFile file) { return static_cast<int>(file) - static_cast<int>(TlsFile::Ca); }

std::string PathOf(const QLineEdit* edit) { return QFile::encodeName(edit->text().trimmed()).toStdString(); }

QString Sentence(const std::string& text) {
    QString sentence = QString::fromLocal8Bit(text);
    if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
    return sentence + QLatin1Char('.');
}

}  // namespace

CTlsFilesBox::CTlsFilesBox(QWidget* parent) : QWidget(parent) {
    auto* group = new QGroupBox(QStringLiteral("TLS (no CA file: plain text)"), this);
    grid_ = new QGridLayout(group);
    grid_->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(group);
    AddRow(TlsFile::Ca, QStringLiteral("CA of the server's certificate:"), QStringLiteral("tlsCaFile"));
    AddRow(TlsFile::Cert, QStringLiteral("Your certificate:"), QStringLiteral("tlsCertFile"));
    AddRow(TlsFile::Key, QStringLiteral("Your private key:"), QStringLiteral("tlsKeyFile"));
}

void CTlsFilesBox::AddRow(TlsFile file, const QString& label, const QString& name) {
    const int row = Row(file);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    auto* choose = new QToolButton(this);
    choose->setObjectName(name + QStringLiteral("Choose"));
    choose->setText(QStringLiteral("..."));
    choose->setToolTip(QStringLiteral("Choose the file"));
    auto* text = new QLabel(label, this);
    text->setBuddy(edit);
    grid_->addWidget(text, row, 0);
    grid_->addWidget(edit, row, 1);
    grid_->addWidget(choose, row, 2);
    edits_[row] = edit;
    choosers_[row] = choose;
    connect(edit, &QLineEdit::textEdited, this, &CTlsFilesBox::Edited);
    connect(choose, &QToolButton::clicked, this, [this, file] { Choose(file); });
}

void CTlsFilesBox::Choose(TlsFile file) {
    QLineEdit* edit = Edit(file);
    const QString filter = file == TlsFile::Key ? QStringLiteral("Private keys (*.key *.pem);;All files (*)")
                                                : QStringLiteral("Certificates (*.pem *.crt);;All files (*)");
    QFileDialog dialog(this, QStringLiteral("Choose a file"), QFileInfo(edit->text()).absolutePath(), filter);
    dialog.setObjectName(QStringLiteral("tlsFileDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!edit->text().isEmpty()) dialog.selectFile(edit->text());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    edit->setText(dialog.selectedFiles().constFirst());
    emit Edited();
}

TlsFiles CTlsFilesBox::Files() const {
    return {PathOf(Edit(TlsFile::Ca)), PathOf(Edit(TlsFile::Cert)), PathOf(Edit(TlsFile::Key))};
}

void CTlsFilesBox::SetFiles(const TlsFiles& files) {
    Edit(TlsFile::Ca)->setText(QFile::decodeName(files.caFile.c_str()));
    Edit(TlsFile::Cert)->setText(QFile::decodeName(files.certFile.c_str()));
    Edit(TlsFile::Key)->setText(QFile::decodeName(files.keyFile.c_str()));
}

bool CTlsFilesBox::Check() {
    ChannelSecurity read;
    const TlsFilesCheck check = ReadTlsFiles(Files(), read);
    if (Succeeded(check.hr)) return true;
    ShowMessage(Sentence(check.problem), MessageIcon::Exclamation);
    if (QLineEdit* edit = Edit(check.file)) edit->setFocus();
    return false;
}

QLineEdit* CTlsFilesBox::Edit(TlsFile file) const { return file == TlsFile::None ? nullptr : edits_[Row(file)]; }

QToolButton* CTlsFilesBox::ChooseButton(TlsFile file) const {
    return file == TlsFile::None ? nullptr : choosers_[Row(file)];
}
