#pragma once
// The Server page's TLS files, below the server name: the CA that signed the
// service's certificate and the operator's own certificate and key, each
// with a file chooser. An empty CA means plain text.
#include "platform/tls_files.h"

#include <QWidget>

class QGridLayout;
class QLineEdit;
class QToolButton;

class CTlsFilesBox : public QWidget {
    Q_OBJECT
public:
    explicit CTlsFilesBox(QWidget* parent = nullptr);

    TlsFiles Files() const;
    void SetFiles(const TlsFiles& files);
    // False when the files cannot serve, after a message naming the file and
    // with the focus on its field.
    bool Check();

    QLineEdit* Edit(TlsFile file) const;
    QToolButton* ChooseButton(TlsFile file) const;

signals:
    // The operator changed a path, by typing or by choosing a file.
    void Edited();

private:
    void AddRow(TlsFile file, const QString& label, const QString& name);
    void Choose(TlsFile file);

    QGridLayout* grid_;
    QLineEdit* edits_[3] = {};  // CA, certificate, key; owned through Qt parenting
    QToolButton* choosers_[3] = {};
};
