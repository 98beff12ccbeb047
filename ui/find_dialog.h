#pragma once
// CFindDialog: the modeless Find box (find only): the text, Match case, the
// direction (down preset) and Find Next. It asks its owner to search and
// says when it closes; it searches nothing itself.
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFindDialog(QWidget* owner);

    QString FindText() const;
    bool MatchCase() const;
    bool SearchDown() const;
    void SetFindText(const QString& text);
    void SetSearchDown(bool down);
    // As the Find Next button does.
    void FindNext();

signals:
    void FindNextRequested(const QString& text, bool matchCase, bool down);
    void Closing();

protected:
    void done(int result) override;

private:
    QLineEdit* text_;
    QCheckBox* matchCase_;
    QRadioButton* up_;
    QRadioButton* down_;
    QPushButton* findNext_;
};
