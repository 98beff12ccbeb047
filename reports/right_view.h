#pragma once
// CRightView: the right-hand side of the main window, showing the current
// report: its icon and caption, the "Reports period" box, the pie chart and
// the grid below it. It keeps the period values behind its pickers, lays out
// chart and grid as its size changes (scrolling below the minimum sizes),
// and carries Refresh, Find, drill-down and Export Report. It is also the
// maker through which tree objects build and run their reports.
#include "service/report_period.h"
#include "trees/report_maker.h"
#include "ui/command_target.h"
#include "ui/find_dialog.h"

#include <QPointer>
#include <QScrollArea>

#include <functional>

class CQVGrid;
class CReport;
class CTChart;
class IReportHost;
class QButtonGroup;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimeEdit;

// Asks the operator where to save an export, proposing a name; empty when
// cancelled. Tests replace the save dialog through it.
using ExportFileChooser = std::function<QString(QWidget* owner, const QString& proposedName)>;
void SetExportFileChooser(ExportFileChooser chooser);

class CRightView : public QScrollArea, public ICommandTarget, public IReportMaker {
    Q_OBJECT
public:
    // Form template 101: its controls, in dialog units.
    static constexpr int kFormWidthDlu = 536;
    static constexpr int kFormHeightDlu = 343;
    static constexpr int kChartLeftDlu = 7;
    static constexpr int kChartTopDlu = 86;
    static constexpr int kRefreshRightDlu = 472 + 50;
    static constexpr int kIdcGrid = 1234;
    static constexpr int kIdcCaptionLine = 1043;
    static constexpr int kIdcFromTime = 1044;
    static constexpr int kIdcToTime = 1045;
    static constexpr int kIdcFromDate = 1046;
    static constexpr int kIdcToDate = 1047;
    static constexpr int kIdcRefresh = 1048;
    static constexpr int kIdcChart = 1049;
    static constexpr int kIdcPeriodFirst = 1050;  // 1050-1054: Today .. Custom period
    // The layout's minimums, in pixels.
    static constexpr int kMinChartWidth = 400;
    static constexpr int kMinChartHeight = 150;
    static constexpr int kMinGridHeight = 150;
    static constexpr int kGridGap = 3;
    // The average character width of the font the widths were chosen for.
    static constexpr int kDesignCharWidth = 5;

    // The host must outlive the view. The view installs itself as the
    // report maker until it is destroyed.
    explicit CRightView(IReportHost* host, QWidget* parent = nullptr);
    ~CRightView() override;

    // The first showing: grid and chart set up, laid out, the current
    // tree's first item selected (which builds its report).
    void OnInitialUpdate();
    bool Initialised() const { return initialised_; }

    CQVGrid* Grid() const { return grid_; }
    CTChart* Chart() const { return chart_; }
    QLabel* CaptionIcon() const { return captionIcon_; }
    QLabel* CaptionLine() const { return captionLine_; }
    IReportHost* Host() const { return host_; }
    // The report whose rows the grid holds (they point at its values).
    const CReport* GridOwner() const { return gridOwner_; }
    // Each run of a report fills the grid anew; the search starts over.
    void SetGridOwner(const CReport* report);
    // The shown report is gone: no caption, columns, rows or slices of it stay.
    void ShowNoReport();

    // The values behind the pickers and the period buttons.
    double FromDate() const { return fromDate_; }
    double ToDate() const { return toDate_; }
    int PeriodChoice() const { return periodChoice_; }
    // Puts a period into the values, date and time pickers alike.
    void SetPeriodValues(const ReportPeriod& period);
    // true: controls into values; false: values into controls.
    void UpdateData(bool saveAndValidate);

    // Commands of the view.
    void OnRefresh();
    void OnPeriodChoiceChanged();
    void OnGridDoubleClick();
    void OnEditFind();
    // One Find Next: from the last match, or from the selected row when
    // there is none or it was the first row; down or up. False when nothing
    // further matches.
    bool FindNext(const QString& text, bool matchCase, bool down);
    void OnFindDialogClosed();
    void OnExportReport();
    // The export without the dialog (the file the operator chose); false
    // after the failure has been told.
    bool ExportReportTo(const QString& path);

    // ICommandTarget
    bool OnCommand(int commandId) override;
    bool IsCommandEnabled(int commandId) const override;

    // IReportMaker
    QObject* MakeReport(ReportKind kind, CTreeObject& item) override;
    void RunReport(QObject& report) override;

    // Chart over grid, filling the visible area down to the minimums.
    void Layout();
    // A width laid out for the original's 8-point dialog font, in pixels of
    // this view's font, so column texts fit as they were meant to.
    int ScaledWidth(int pixels) const;
    CFindDialog* FindDialog() const { return findDialog_; }
    int SearchPosition() const { return searchPosition_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateForm();
    int DluX(int dlu) const;
    int DluY(int dlu) const;
    QRect DluRect(int left, int top, int width, int height) const;
    void EnablePickers(bool enable);

    IReportHost* host_;  // not owned
    QWidget* form_;      // the scrolled contents
    CQVGrid* grid_ = nullptr;
    CTChart* chart_ = nullptr;
    QLabel* captionIcon_ = nullptr;
    QLabel* captionLine_ = nullptr;
    QTimeEdit* fromTimeEdit_ = nullptr;
    QDateEdit* fromDateEdit_ = nullptr;
    QTimeEdit* toTimeEdit_ = nullptr;
    QDateEdit* toDateEdit_ = nullptr;
    QButtonGroup* periodButtons_ = nullptr;
    QPointer<CFindDialog> findDialog_;
    const CReport* gridOwner_ = nullptr;
    bool initialised_ = false;

    double fromTime_;
    double fromDate_;
    double toTime_;
    double toDate_;
    int periodChoice_ = kPeriodThisYear;
    // The last row found; -1 for none (so the first row is searched too).
    int searchPosition_ = -1;
};
