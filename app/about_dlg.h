#pragma once
// CAboutDlg: the About box (command 57664) with the program's icon, its
// version as the build stamped it, the maker and a link to the vendor.
#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QLabel;

// The four parts of a version as the program file carries them.
using FileVersion = std::array<int, 4>;

// "%d.%d.%d.%d", each part cut to its 16 bits; "1.0" when there is none.
QString VersionText(const std::optional<FileVersion>& version);
// The version the build stamped into the program, if any.
std::optional<FileVersion> BuildFileVersion();

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* VersionLabel() const { return version_; }

private:
    QLabel* version_;  // control 1056
};

// Shows the About box modally over parent.
void ShowAboutBox(QWidget* parent);
