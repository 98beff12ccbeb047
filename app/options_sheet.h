#pragma once
// The Options sheet (command 32850, and the document after message 103):
// CSheetOptions with its one page, CPPageServer, which edits the name of the
// server that runs the Quorvis Service and the TLS files of the connection.
// Applying stores them and reconnects at once, even when nothing changed.
#include "ui/property_sheet.h"

#include <functional>

class CQVViewerDoc;
class CTlsFilesBox;
class HiveStore;
class QLineEdit;

class CPPageServer : public CPropertyPage {
    Q_OBJECT
public:
    // Without a document (or hive) the page neither reads nor stores a name.
    CPPageServer(CQVViewerDoc* doc, HiveStore* hive, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;
    bool OnOK() override;

    QLineEdit* ServerEdit() const { return edit_; }
    CTlsFilesBox* TlsFilesBox() const { return tls_; }
    const QString& ServerName() const { return serverName_; }

private:
    bool ApplyStep();

    CQVViewerDoc* doc_;  // not owned
    HiveStore* hive_;    // not owned
    QString serverName_;
    QLineEdit* edit_;  // control 1055
    CTlsFilesBox* tls_;
};

class CSheetOptions : public CPropertySheet {
    Q_OBJECT
public:
    static constexpr int kNavigationWidth = 170;
    static constexpr int kNavigationIconSize = 16;
    static constexpr int kGeneralIcon = 0;
    static constexpr int kServerIcon = 1;

    // iconsBitmap 0: no navigation icons. The frame passes Tree, 164, 16.
    CSheetOptions(CQVViewerDoc* doc, HiveStore* hive, Look look = Look::Tree, unsigned iconsBitmap = 0,
                  int iconSize = kNavigationIconSize, QWidget* parent = nullptr);

    CPPageServer* ServerPage() const { return page_; }

private:
    CPPageServer* page_;  // owned through Qt parenting
};

// Opens the sheet modally over parent for the document, with the
// application's hive; true when closed with OK.
bool RunOptionsSheet(QWidget* parent, CQVViewerDoc& doc);

// Replaces what RunOptionsSheet does (tests count the openings without a
// modal loop); an empty runner restores the sheet.
using OptionsSheetRunner = std::function<bool(QWidget* parent, CQVViewerDoc& doc)>;
void SetOptionsSheetRunner(OptionsSheetRunner runner);
