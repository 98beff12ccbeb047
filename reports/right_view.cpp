#include "reports/right_view.h"

#include "platform/ole_date.h"
#include "reports/qv_grid.h"
#include "reports/report.h"
#include "reports/report_errors.h"
#include "reports/report_family.h"
#include "reports/report_host.h"
#include "reports/t_chart.h"
#include "resources/resource_ids.h"
#include "service/scoped_wait_cursor.h"
#include "trees/tree_object.h"
#include "ui/find_dialog.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimeEdit>

#include <algorithm>
#include <exception>

namespace {

constexpr int kCaptionIconSize = 32;

QDateTime DateTimeOf(double oleDate) {
    // The pickers show the second the period holds, never the next day's.
    const std::optional<DateFields> f = OleDateToFields(oleDate, SecondRounding::Down);
    if (!f) return QDateTime::currentDateTime();
    return QDateTime(QDate(f->year, f->month, f->day), QTime(f->hour, f->minute, f->second));
}

double OleDateOf(const QDate& date, const QTime& time) {
    return OleDateFromFields(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second())
        .value_or(OleDateNow());
}

}  // namespace

CRightView::CRightView(IReportHost* host, QWidget* parent) : QScrollArea(parent), host_(host), form_(new QWidget) {
    setObjectName(QStringLiteral("RightView"));
    const double now = OleDateNow();
    fromTime_ = fromDate_ = toTime_ = toDate_ = now;
    setWidget(form_);
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    form_->setAutoFillBackground(true);
    CreateForm();
    SetReportMaker(this);
}

CRightView::~CRightView() {
    if (ReportMaker() == this) SetReportMaker(nullptr);
}

int CRightView::DluX(int dlu) const {
    const QFontMetrics metrics(font());
    static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
    return dlu * baseX / 4;
}

int CRightView::ScaledWidth(int pixels) const { return std::max(pixels, pixels * DluX(4) / kDesignCharWidth); }

int CRightView::DluY(int dlu) const { return dlu * QFontMetrics(font()).height() / 8; }

QRect CRightView::DluRect(int left, int top, int width, int height) const {
    return {DluX(left), DluY(top), DluX(width), DluY(height)};
}

void CRightView::CreateForm() {
    const auto place = [this](QWidget* widget, int id, QRect dlu) {
        if (id) widget->setObjectName(QStringLiteral("Control%1").arg(id));
        widget->setGeometry(DluRect(dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    };
    captionIcon_ = new QLabel(form_);
    place(captionIcon_, kIdcCaptionIcon, {7, 6, 20, 20});
    captionIcon_->setMinimumSize(kCaptionIconSize, kCaptionIconSize);
    captionIcon_->resize(std::max(captionIcon_->width(), kCaptionIconSize),
                         std::max(captionIcon_->height(), kCaptionIconSize));
    captionLine_ = new QLabel(QStringLiteral("Caption text"), form_);
    place(captionLine_, kIdcCaptionLine, {31, 13, 412, 14});
    QFont bold = captionLine_->font();
    bold.setBold(true);
    captionLine_->setFont(bold);
    captionLine_->setTextFormat(Qt::PlainText);

    auto* box = new QGroupBox(QStringLiteral("Reports period"), form_);
    place(box, 0, {7, 30, 457, 52});
    periodButtons_ = new QButtonGroup(this);
    const struct {
        const char* text;
        QRect dlu;
    } radios[] = {{"Today", {13, 43, 36, 10}},
                  {"This Week", {135, 44, 49, 10}},
                  {"This Month", {271, 44, 51, 10}},
                  {"This Year", {411, 44, 45, 10}},
                  {"Custom period", {13, 62, 62, 10}}};
    for (int i = 0; i < 5; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(radios[i].text), form_);
        place(radio, kIdcPeriodFirst + i, radios[i].dlu);
        radio->adjustSize();
        periodButtons_->addButton(radio, i);
    }
    place(new QLabel(QStringLiteral("From"), form_), 0, {97, 63, 18, 8});
    place(new QLabel(QStringLiteral("To"), form_), 0, {284, 63, 10, 8});

    const auto makeTime = [&](int id, QRect dlu) {
        auto* edit = new QTimeEdit(form_);
        edit->setAlignment(Qt::AlignRight);
        edit->setDisplayFormat(QLocale().timeFormat(QLocale::LongFormat).contains(QLatin1Char('s'))
                                   ? QStringLiteral("HH:mm:ss")
                                   : QStringLiteral("HH:mm"));
        place(edit, id, dlu);
        return edit;
    };
    const auto makeDate = [&](int id, QRect dlu) {
        auto* edit = new QDateEdit(form_);
        edit->setAlignment(Qt::AlignRight);
        edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
        edit->setCalendarPopup(true);
        place(edit, id, dlu);
        return edit;
    };
    fromTimeEdit_ = makeTime(kIdcFromTime, {121, 60, 59, 15});
    fromDateEdit_ = makeDate(kIdcFromDate, {180, 60, 100, 15});
    toTimeEdit_ = makeTime(kIdcToTime, {296, 60, 60, 15});
    toDateEdit_ = makeDate(kIdcToDate, {356, 60, 100, 15});

    auto* refresh = new QPushButton(QStringLiteral("Refresh"), form_);
    place(refresh, kIdcRefresh, {472, 34, 50, 14});

    chart_ = new CTChart(form_);
    place(chart_, kIdcChart, {kChartLeftDlu, kChartTopDlu, 456, 230});
    chart_->hide();

    // Reports can run before the first showing (trees fill at connection).
    grid_ = new CQVGrid(form_);
    grid_->setObjectName(QStringLiteral("Grid%1").arg(kIdcGrid));
    connect(grid_, &CGridCtrl::RowDoubleClicked, this, &CRightView::OnGridDoubleClick);
    chart_->ResetChart();

    connect(refresh, &QPushButton::clicked, this, &CRightView::OnRefresh);
    connect(periodButtons_, &QButtonGroup::idClicked, this, &CRightView::OnPeriodChoiceChanged);
    form_->resize(DluX(kFormWidthDlu), DluY(kFormHeightDlu));
    const QRect chart = chart_->geometry();
    grid_->setGeometry(
        QRect(QPoint(chart.left(), chart.bottom() + 1 + kGridGap), QPoint(chart.right(), form_->height() - 1)));
    UpdateData(false);
}

void CRightView::OnInitialUpdate() {
    if (initialised_) return;
    initialised_ = true;
    chart_->SetUp();
    chart_->show();
    Layout();
    if (host_) host_->SelectFirstItem();
    OnPeriodChoiceChanged();
}

void CRightView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    Layout();
}

void CRightView::Layout() {
    if (!chart_ || !grid_) return;
    const QRect client = viewport()->rect();
    const int height = client.height();
    const int top = DluY(kChartTopDlu);
    const int left = DluX(kChartLeftDlu);
    int chartRight = client.right() + 1;
    int chartBottom = (2 * (height - top)) / 3;
    if (chartRight - left < kMinChartWidth) chartRight = left + kMinChartWidth;
    if (chartBottom - top < kMinChartHeight) chartBottom = top + kMinChartHeight;
    chart_->setGeometry(QRect(QPoint(left, top), QPoint(chartRight - 1, chartBottom - 1)));

    const int gridTop = chartBottom + kGridGap;
    int gridBottom = client.bottom() + 1;
    if (gridBottom - gridTop < kMinGridHeight) gridBottom = gridTop + kMinGridHeight;
    grid_->setGeometry(QRect(QPoint(left, gridTop), QPoint(chartRight - 1, gridBottom - 1)));

    // The header controls keep their room: the Refresh button ends further
    // right than a narrow chart.
    const int formWidth = std::max(chartRight, DluX(kRefreshRightDlu + kChartLeftDlu));
    form_->resize(formWidth, gridBottom);
}

void CRightView::SetPeriodValues(const ReportPeriod& period) {
    fromDate_ = fromTime_ = period.start;
    toDate_ = toTime_ = period.end;
    periodChoice_ = period.type;
}

void CRightView::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        fromDate_ = fromTime_ = OleDateOf(fromDateEdit_->date(), fromTimeEdit_->time());
        toDate_ = toTime_ = OleDateOf(toDateEdit_->date(), toTimeEdit_->time());
        periodChoice_ = std::max(0, periodButtons_->checkedId());
        return;
    }
    const QDateTime from = DateTimeOf(fromDate_);
    const QDateTime to = DateTimeOf(toDate_);
    fromDateEdit_->setDate(from.date());
    fromTimeEdit_->setTime(DateTimeOf(fromTime_).time());
    toDateEdit_->setDate(to.date());
    toTimeEdit_->setTime(DateTimeOf(toTime_).time());
    if (QAbstractButton* button = periodButtons_->button(std::clamp(periodChoice_, 0, int{kPeriodCustom})))
        button->setChecked(true);
}

void CRightView::EnablePickers(bool enable) {
    for (QWidget* picker : {static_cast<QWidget*>(fromTimeEdit_), static_cast<QWidget*>(fromDateEdit_),
                            static_cast<QWidget*>(toTimeEdit_), static_cast<QWidget*>(toDateEdit_)})
        picker->setEnabled(enable);
}

void CRightView::OnPeriodChoiceChanged() {
    UpdateData(true);
    EnablePickers(periodChoice_ == kPeriodCustom);
}

void CRightView::OnRefresh() {
    UpdateData(true);
    ReportPeriod period;
    period.start = fromDate_;
    period.startStatus = kDateValid;
    period.end = toDate_;
    period.endStatus = kDateValid;
    period.type = periodChoice_;
    if (!host_) return;
    host_->SetPeriod(period);
    CTreeObject* object = host_->GetSelectedObject();
    if (!object) return;
    if (QObject* report = object->Report()) RunReport(*report);
}

void CRightView::OnGridDoubleClick() {
    if (!grid_ || !host_) return;
    if (const CGridRow* row = grid_->GetCurSel()) host_->SelectChildById(static_cast<quint32>(row->GetData()));
}

QObject* CRightView::MakeReport(ReportKind kind, CTreeObject& item) {
    switch (kind) {
        case ReportKind::User: return new CUserReport(this, &item);
        case ReportKind::Workstation: return new CWorkstationReport(this, &item);
        case ReportKind::Computer: return new CComputerReport(this, &item);
        case ReportKind::Program: return new CProgramReport(this, &item);
        case ReportKind::Application: return new CApplicationReport(this, &item);
        case ReportKind::AppUser: return new CAppUserReport(this, &item);
    }
    return nullptr;
}

void CRightView::RunReport(QObject& object) {
    auto* report = qobject_cast<CReport*>(&object);
    if (!report || !grid_) return;
    const ScopedWaitCursor wait;
    try {
        report->Generate(0);
    } catch (const std::exception& error) {
        ShowReportError(error);
    }
}

bool CRightView::OnCommand(int commandId) {
    if (commandId == static_cast<int>(kIdEditFind)) {
        OnEditFind();
        return true;
    }
    if (commandId == static_cast<int>(kIdFileExportReport)) {
        OnExportReport();
        return true;
    }
    return false;
}

bool CRightView::IsCommandEnabled(int commandId) const {
    if (commandId == static_cast<int>(kIdEditFind)) return grid_ != nullptr;
    // A grid without columns still exports: a page without a table.
    if (commandId == static_cast<int>(kIdFileExportReport)) return grid_ != nullptr;
    return false;
}

void CRightView::OnEditFind() {
    if (findDialog_) {
        findDialog_->raise();
        findDialog_->activateWindow();
        return;
    }
    findDialog_ = new CFindDialog(this);
    connect(findDialog_, &CFindDialog::FindNextRequested, this,
            [this](const QString& text, bool matchCase, bool down) { FindNext(text, matchCase, down); });
    connect(findDialog_, &CFindDialog::Closing, this, &CRightView::OnFindDialogClosed);
    findDialog_->show();
}

void CRightView::SetGridOwner(const CReport* report) {
    gridOwner_ = report;
    // The last match was a row of the rows now gone.
    searchPosition_ = -1;
}

void CRightView::ShowNoReport() {
    grid_->RemoveAll();
    grid_->DeleteAllColumns();
    grid_->AdjustLayout();
    SetGridOwner(nullptr);
    captionIcon_->clear();
    captionLine_->clear();
    chart_->ResetChart();
}

void CRightView::OnFindDialogClosed() {
    findDialog_ = nullptr;
    searchPosition_ = -1;
}

bool CRightView::FindNext(const QString& text, bool matchCase, bool down) {
    if (!grid_) return false;
    const int count = grid_->GetRowCount();
    // A match on the first row gives way to the selection, as no match does.
    const int selected = grid_->GetCurSelPosition();
    if (searchPosition_ <= 0 && selected >= 0) searchPosition_ = selected;
    // With no row to start from, the search covers every row.
    int position = searchPosition_ < 0 ? (down ? -1 : count) : std::min(searchPosition_, count);
    const Qt::CaseSensitivity sensitivity = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (position += down ? 1 : -1; position >= 0 && position < count; position += down ? 1 : -1) {
        const CGridRow* row = grid_->GetRow(position);
        if (!row) continue;
        for (int column = 0; column < row->GetItemCount(); ++column) {
            const CGridItem* item = row->GetItem(column);
            if (item && CellText(*item).contains(text, sensitivity)) {
                grid_->SetCurSel(position);
                grid_->EnsureVisible(position);
                searchPosition_ = position;
                return true;
            }
        }
    }
    return false;
}
