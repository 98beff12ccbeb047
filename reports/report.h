#pragma once
// CReport: the base of the six reports. A report turns one tree item and
// the current period into what the report view shows: caption, grid rows
// and the pie of the largest shares. It owns the values behind the "Time
// Spent" cells (the grid cells only point at them). Errors of the service
// or of reading the answer end a run and go to the caller.
#include "platform/variant.h"

#include <QObject>
#include <QPixmap>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class CGridRow;
class CRightView;
class CTreeObject;
class IQVQuery;
struct QueryRequest;

struct ChartEntry {
    QString label;
    double value = 0.0;  // milliseconds
};

class CReport : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSlices = 12;
    static constexpr int kMaxLabelLength = 40;
    static constexpr quint32 kOthersColour = 0x989898;

    CReport(CRightView* view, CTreeObject* item);
    ~CReport() override;

    // Runs the report afresh (the argument is unused; callers pass 0).
    virtual void Generate(int unused);
    void ResetChart();
    void FillChart();
    void FinishChart();

    CRightView* View() const { return view_; }
    CTreeObject* Item() const { return item_; }
    const std::vector<ChartEntry>& ChartEntries() const { return chartEntries_; }
    int TimeValueCount() const { return static_cast<int>(timeValues_.size()); }

protected:
    // Column widths, in pixels of the original's dialog font.
    static constexpr int kNameWidth = 100;
    static constexpr int kWideNameWidth = 300;
    static constexpr int kNumberWidth = 100;

    struct Column {
        unsigned stringId;
        int width;
    };
    // Fills a row's leading cells from the answer's "Id" and "Name" and
    // gives the row's chart label.
    using LeadingCells = std::function<QString(CGridRow& row, qint32 id, const QString& name)>;

    void InsertColumns(std::initializer_list<Column> columns);
    void ShowCaption(const QPixmap& icon, const QString& text);
    void ShowCaptionText(const QString& text);
    // Asks the service, adds a row per answer row (the leading cells, then
    // time spent and the two event counts from column timeColumn on) and
    // a chart entry each, then lays out the grid and fills the chart. The
    // request's period is written from the view.
    void FillRows(IQVQuery& service, QueryRequest& request, int timeColumn, const LeadingCells& leading);
    // A report of names: the name column, then "Time Spent" and the counts.
    void InsertNameColumns(unsigned nameStringId, int nameWidth);
    // Its rows from the document's service; none without a service.
    void FillNameRows(QueryRequest request);

private:
    void FreeTimeValues();
    // A new owned value for a "Time Spent" cell: its address is the cell's
    // item data.
    const Variant* AddTimeValue(double milliseconds);

    CRightView* view_;   // not owned
    CTreeObject* item_;  // not owned: the item owns the report
    std::vector<ChartEntry> chartEntries_;
    std::vector<std::unique_ptr<Variant>> timeValues_;
};
