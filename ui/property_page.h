#pragma once
// CPropertyPage: one page of a CPropertySheet. The sheet initialises a page
// when it is first shown and asks the pages it initialised to apply or to
// accept their changes.
#include <QString>
#include <QWidget>

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(const QString& caption, QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    bool IsInitialized() const { return initialized_; }
    bool IsModified() const { return modified_; }
    // Marks the page as holding unapplied changes (enables the sheet's Apply).
    void SetModified(bool modified = true);

    // Run by the sheet once, before the page is first shown.
    virtual bool OnInitDialog() { return true; }
    // The Apply button; false keeps the changes pending and the sheet open.
    virtual bool OnApply();
    // The OK button; false keeps the sheet open on this page.
    virtual bool OnOK() { return true; }
    virtual void OnCancel() {}

signals:
    void ModifiedChanged(bool modified);

private:
    friend class CPropertySheet;
    void Initialize();

    QString caption_;
    bool initialized_ = false;
    bool modified_ = false;
};
