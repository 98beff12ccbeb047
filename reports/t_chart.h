#pragma once
// CTChart: the report view's pie chart. The reports drive it in fixed steps:
// reset to one empty pie series, add slices in order, then the closing
// settings. A slice colour is 0x00BBGGRR, or kAutoColour for the chart's own
// palette (taken in slice order, so the same report always looks the same).
// The pie is a Qt Charts view; the legend beside it is a compact list, since
// the chart's own legend drops its last lines (the smallest shares and
// "Others") when the chart is as short as the report view makes it.
#include <QColor>
#include <QList>
#include <QWidget>

class QChartView;
class QListWidget;
class QPieSeries;

class CTChart : public QWidget {
    Q_OBJECT
public:
    static constexpr quint32 kAutoColour = 0x20000000;

    explicit CTChart(QWidget* parent = nullptr);

    // The chart's first showing: drawing quality.
    void SetUp();
    // One empty pie series, white panel, empty legend.
    void ResetChart();
    // Series 0; null before the first ResetChart.
    QPieSeries* Series() const { return series_; }
    void AddSlice(double value, const QString& label, quint32 colour);
    // The settings after the slices and at the end of a run.
    void FinishFill();
    void FinishChart();

    QChartView* PieView() const { return pie_; }
    QListWidget* Legend() const { return legend_; }

    static QColor ColourOf(quint32 colour, int sliceIndex);
    static const QList<QColor>& Palette();

private:
    QChartView* pie_;
    QListWidget* legend_;
    QPieSeries* series_ = nullptr;  // owned by the chart
};
