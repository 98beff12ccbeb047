#include "reports/report.h"

#include "reports/format_duration.h"
#include "reports/qv_grid.h"
#include "reports/report_host.h"
#include "reports/right_view.h"
#include "reports/t_chart.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "service/qv_viewer_doc.h"
#include "service/recordset_reader.h"

#include <QLabel>

#include <algorithm>
#include <cmath>

namespace {

// An event count arrives as a real; the grid shows it as a 32-bit integer,
// halves to even. A count out of range fails the run like a read error.
qint32 EventCount(const Field& field) {
    Variant count;
    const HRESULT hr = ChangeType(Variant::R8(GetFieldDouble(field)), VT_I4, count);
    CheckStatus(hr, "The field \"" + field.Name() + "\" holds a count out of range.");
    return static_cast<qint32>(count.Integer());
}

}  // namespace

CReport::CReport(CRightView* view, CTreeObject* item) : view_(view), item_(item) {}

// The grid's cells point at the time values: they go first. Whatever else
// the view shows of this report would pass for a live one (after a failed
// reconnect, another server's).
CReport::~CReport() {
    if (view_ && view_->GridOwner() == this) view_->ShowNoReport();
}

void CReport::FreeTimeValues() { timeValues_.clear(); }

const Variant* CReport::AddTimeValue(double milliseconds) {
    timeValues_.push_back(std::make_unique<Variant>(Variant::R8(milliseconds)));
    return timeValues_.back().get();
}

void CReport::Generate(int) {
    CQVGrid* grid = view_->Grid();
    grid->RemoveAll();
    FreeTimeValues();
    view_->SetGridOwner(this);

    ReportPeriod period;
    if (view_->Host() && view_->Host()->GetPeriod(period)) {
        view_->SetPeriodValues(period);
        view_->UpdateData(false);
    }

    grid->DeleteAllColumns();
    grid->AdjustLayout();
    ResetChart();
}

void CReport::ResetChart() {
    chartEntries_.clear();
    view_->Chart()->ResetChart();
}

void CReport::FillChart() {
    CTChart* chart = view_->Chart();
    // A NaN from the wire would break the ordering: it counts as smallest.
    const auto key = [](const ChartEntry& e) { return std::isnan(e.value) ? -HUGE_VAL : e.value; };
    std::stable_sort(chartEntries_.begin(), chartEntries_.end(),
                     [&key](const ChartEntry& a, const ChartEntry& b) { return key(a) > key(b); });
    const auto shown = std::min<std::size_t>(chartEntries_.size(), kMaxSlices);
    for (std::size_t i = 0; i < shown; ++i) {
        ChartEntry& entry = chartEntries_[i];
        if (entry.label.size() > kMaxLabelLength) entry.label.truncate(kMaxLabelLength);
        chart->AddSlice(entry.value, entry.label, CTChart::kAutoColour);
    }
    if (chartEntries_.size() > static_cast<std::size_t>(kMaxSlices)) {
        double others = 0.0;
        for (std::size_t i = kMaxSlices; i < chartEntries_.size(); ++i) others += chartEntries_[i].value;
        chart->AddSlice(others, LoadResString(kIdsOthers), kOthersColour);
    }
    chart->FinishFill();
}

void CReport::FinishChart() { view_->Chart()->FinishChart(); }

void CReport::InsertColumns(std::initializer_list<Column> columns) {
    CQVGrid* grid = view_->Grid();
    for (const Column& column : columns)
        grid->InsertColumn(grid->GetColumnCount(), LoadResString(column.stringId), view_->ScaledWidth(column.width));
}

void CReport::ShowCaption(const QPixmap& icon, const QString& text) {
    view_->CaptionIcon()->setPixmap(icon);
    ShowCaptionText(text);
}

void CReport::ShowCaptionText(const QString& text) { view_->CaptionLine()->setText(text); }

void CReport::FillRows(IQVQuery& service, QueryRequest& request, int timeColumn, const LeadingCells& leading) {
    request.periodStart = view_->FromDate();
    request.periodEnd = view_->ToDate();
    RecordsetReader reader(RunQuery(&service, request));
    reader.SetSort("TimeSpent Desc");
    const Field id = reader.GetField("Id");
    const Field name = reader.GetField("Name");
    const Field timeSpent = reader.GetField("TimeSpent");
    const Field keyboard = reader.GetField("KeyboardEvents");
    const Field mouse = reader.GetField("MouseEvents");

    CQVGrid* grid = view_->Grid();
    const int columns = grid->GetColumnCount();
    // Rows read before a failure stay shown.
    struct ShowRowsSoFar {
        CQVGrid* grid;
        ~ShowRowsSoFar() { grid->AdjustLayout(); }
    } showRows{grid};
    while (!reader.IsEOF()) {
        std::unique_ptr<CGridRow> row = grid->CreateRow(columns);
        const qint32 rowId = GetFieldInt(id);
        QString label = leading(*row, rowId, QString::fromStdU16String(GetFieldString(name)));
        const double milliseconds = GetFieldDouble(timeSpent);
        const Variant* time = AddTimeValue(milliseconds);
        row->ReplaceItem(timeColumn,
                         std::make_unique<CGridItem>(FormatDuration(milliseconds), reinterpret_cast<quintptr>(time)));
        row->ReplaceItem(timeColumn + 1, std::make_unique<CGridItem>(EventCount(keyboard)));
        row->ReplaceItem(timeColumn + 2, std::make_unique<CGridItem>(EventCount(mouse)));
        row->SetData(static_cast<quintptr>(static_cast<quint32>(rowId)));
        grid->AddRow(std::move(row));
        chartEntries_.push_back({std::move(label), milliseconds});
        reader.MoveNext();
    }
    grid->AdjustLayout();
    FillChart();
    FinishChart();
}

void CReport::InsertNameColumns(unsigned nameStringId, int nameWidth) {
    InsertColumns({{nameStringId, nameWidth},
                   {kIdsTimeSpent, kNumberWidth},
                   {kIdsKeyboardEvents, kNumberWidth},
                   {kIdsMouseEvents, kNumberWidth}});
}

void CReport::FillNameRows(QueryRequest request) {
    CQVViewerDoc* doc = TheDocument();
    IQVQuery* service = doc ? doc->Service() : nullptr;
    if (!service) return;
    FillRows(*service, request, 1, [](CGridRow& row, qint32, const QString& name) {
        row.ReplaceItem(0, std::make_unique<CGridItem>(name));
        return name;
    });
}
