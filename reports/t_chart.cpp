#include "reports/t_chart.h"

#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QLegend>
#include <QListWidget>
#include <QPieSeries>
#include <QPieSlice>
#include <QToolTip>

namespace {

constexpr qreal kPieSize = 0.85;
constexpr qreal kHoverExplode = 0.05;
constexpr int kChartMargin = 4;
constexpr int kSwatchSize = 10;
constexpr int kLegendWidth = 230;
constexpr int kLegendFontPoint = 8;
constexpr int kLegendSlack = 4;  // the list's own spacing around its rows
constexpr int kLegendLineGap = 1;

QPixmap Swatch(const QColor& colour) {
    QPixmap swatch(kSwatchSize, kSwatchSize);
    swatch.fill(colour);
    return swatch;
}

}  // namespace

CTChart::CTChart(QWidget* parent) : QWidget(parent), pie_(new QChartView(this)), legend_(new QListWidget(this)) {
    setObjectName(QStringLiteral("Chart1049"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    setPalette(white);

    pie_->chart()->setAnimationOptions(QChart::NoAnimation);
    pie_->chart()->legend()->setVisible(false);
    pie_->chart()->layout()->setContentsMargins(0, 0, 0, 0);
    pie_->chart()->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));

    legend_->setFrameShape(QFrame::NoFrame);
    legend_->setSelectionMode(QAbstractItemView::NoSelection);
    legend_->setFocusPolicy(Qt::NoFocus);
    legend_->setUniformItemSizes(true);
    legend_->setIconSize(QSize(kSwatchSize, kSwatchSize));
    legend_->setTextElideMode(Qt::ElideRight);
    legend_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    legend_->setFixedWidth(kLegendWidth);
    QFont small = legend_->font();
    small.setPointSize(kLegendFontPoint);
    legend_->setFont(small);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, kChartMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(pie_, 1);
    layout->addWidget(legend_, 0, Qt::AlignVCenter);
}

void CTChart::SetUp() { pie_->setRenderHint(QPainter::Antialiasing); }

void CTChart::ResetChart() {
    QChart* chart = pie_->chart();
    chart->setBackgroundBrush(Qt::white);
    chart->removeAllSeries();
    legend_->clear();
    series_ = new QPieSeries;
    series_->setPieSize(kPieSize);
    chart->addSeries(series_);
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
            QToolTip::showText(QCursor::pos(),
                               QStringLiteral("%1: %2%").arg(slice->label()).arg(slice->percentage() * 100, 0, 'f', 1));
        else
            QToolTip::hideText();
    });
    series_->append(slice);
    auto* line = new QListWidgetItem(QIcon(Swatch(slice->color())), label, legend_);
    line->setToolTip(label);
    line->setSizeHint(QSize(kLegendWidth, legend_->fontMetrics().height() + kLegendLineGap));
}

void CTChart::FinishFill() {
    // Labels would crowd a pie of thirteen slices: the legend carries them.
    if (series_) series_->setLabelsVisible(false);
    // A whole pie has no edge between slices to mark.
    if (series_ && series_->count() == 1) series_->slices().constFirst()->setPen(Qt::NoPen);
    // As tall as its lines, centred beside the pie; a short chart scrolls it.
    const int lines = legend_->count();
    legend_->setMaximumHeight(lines ? lines * legend_->sizeHintForRow(0) + 2 * legend_->frameWidth() + kLegendSlack
                                    : 0);
}

// A placeholder title is not worth the room it takes.
void CTChart::FinishChart() { pie_->chart()->setTitle(QString()); }

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
