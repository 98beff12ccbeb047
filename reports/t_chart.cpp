#include "t_chart.h"

#include <QChart>
#include <QGraphicsLayout>
#include <QLegend>
#include <QPieSeries>
#include <QPieSlice>
#include <QToolTip>

namespace {

constexpr int kLegendFontPoint = 8;
constexpr qreal kPieSize = 0.8;
constexpr qreal kHoverExplode = 0.05;
constexpr int kChartMargin = 4;

}  // namespace

CTChart::CTChart(QWidget* parent) : QChartView(parent) {
    setObjectName(QStringLiteral("Chart1049"));
    chart()->setAnimationOptions(QChart::NoAnimation);
}

void CTChart::SetUp() {
    setRenderHint(QPainter::Antialiasing);
    // Every pixel of height goes to the pie and the legend's thirteen lines.
    chart()->layout()->setContentsMargins(0, 0, 0, 0);
    chart()->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));
    QLegend* legend = chart()->legend();
    legend->setAlignment(Qt::AlignRight);
    QFont font = legend->font();
    font.setPointSize(kLegendFontPoint);
    legend->setFont(font);
}

void CTChart::ResetChart() {
    QChart* c = chart();
    c->setBackgroundBrush(Qt::white);
    c->legend()->setVisible(true);
    c->removeAllSeries();
    series_ = new QPieSeries;
    series_->setPieSize(kPieSize);
    c->addSeries(series_);
}

void CTChart::AddSlice(double value, const QString& label, quint32 colour) {
    if (!series_) ResetChart();
    auto* slice = new QPieSlice(label, value);
    slice->setColor(ColourOf(colour, series_->count()));
    slice->setBorderColor(Qt::white);
    connect(slice, &QPieSlice::hovered, slice, [slice](bool on) {
        slice->setExploded(on);
        slice->setExplodeDistanceFactor(kHoverExplode);
        if (on)
            QToolTip::showText(QCursor::pos(), QStringLiteral("%1: %2%").arg(slice->label()).arg(slice->percentage() * 100, 0, 'f', 1));
        else
            QToolTip::hideText();
    });
    series_->append(slice);
}

void CTChart::FinishFill() {
    // Labels would crowd a pie of thirteen slices: the legend carries them.
    if (series_) series_->setLabelsVisible(false);
}

// A placeholder title is not worth the room it takes.
void CTChart::FinishChart() { chart()->setTitle(QString()); }

QColor CTChart::ColourOf(quint32 colour, int sliceIndex) {
    if (colour == kAutoColour) {
        const QList<QColor>& palette = Palette();
        return palette[sliceIndex % palette.size()];
    }
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

const QList<QColor>& CTChart::Palette() {
    // Twelve distinct hues, none of them white or the grey of "Others".
    static const QList<QColor> palette = {
        QColor(0x4E79A7), QColor(0xF28E2B), QColor(0xE15759), QColor(0x76B7B2), QColor(0x59A14F), QColor(0xEDC948),
        QColor(0xB07AA1), QColor(0xFF9DA7), QColor(0x9C755F), QColor(0x86BCB6), QColor(0xD37295), QColor(0x3D6FB0),
    };
    return palette;
}
