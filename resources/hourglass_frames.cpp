// The ten frames of the hourglass (160): eight frames of sand running from
// the upper bulb into the lower, then two frames turning the glass over, so
// the loop starts again with a full upper bulb.
#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// Drawn on a 32 x 32 grid, scaled to the size asked for.
constexpr qreal kGrid = 32.0;
constexpr qreal kNeckY = 16.0;
constexpr qreal kTopY = 6.0;
constexpr qreal kBottomY = 26.0;
constexpr int kRunningFrames = 8;
constexpr qreal kTurnStepDegrees = 60.0;
constexpr qreal kTurnScale = 0.9;

const QColor kGlassFill(227, 238, 248, 200);
const QColor kOutline(0x2b, 0x3a, 0x4a);
const QColor kSand(0xe0, 0xa8, 0x4a);
const QColor kWood(0x8b, 0x5a, 0x2b);

QPainterPath GlassPath() {
    QPainterPath path;
    path.moveTo(9, kTopY);
    path.cubicTo(9, 11, 15.2, 13.5, 15.2, kNeckY);
    path.cubicTo(15.2, 18.5, 9, 21, 9, kBottomY);
    path.lineTo(23, kBottomY);
    path.cubicTo(23, 21, 16.8, 18.5, 16.8, kNeckY);
    path.cubicTo(16.8, 13.5, 23, 11, 23, kTopY);
    path.closeSubpath();
    return path;
}

// ran: 0 = all sand above, 1 = all below.
void DrawGlass(QPainter& painter, qreal ran, bool flowing) {
    const QPainterPath glass = GlassPath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlassFill);
    painter.drawPath(glass);

    painter.save();
    painter.setClipPath(glass);
    painter.setBrush(kSand);
    const qreal topLevel = 8.0 + (kNeckY - 8.0) * ran;
    if (topLevel < kNeckY) painter.drawRect(QRectF(8, topLevel, 16, kNeckY - topLevel));
    const qreal bottomLevel = kBottomY - 7.0 * ran;
    if (bottomLevel < kBottomY) {
        QPainterPath mound;
        mound.moveTo(8, kBottomY);
        mound.lineTo(8, bottomLevel + 1.5);
        mound.quadTo(16, bottomLevel - 1.5, 24, bottomLevel + 1.5);
        mound.lineTo(24, kBottomY);
        mound.closeSubpath();
        painter.drawPath(mound);
    }
    if (flowing) painter.drawRect(QRectF(15.5, kNeckY - 1, 1, bottomLevel - kNeckY + 1));
    painter.restore();

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kOutline, 1.2));
    painter.drawPath(glass);
    painter.setPen(QPen(kOutline, 1.0));
    painter.setBrush(kWood);
    painter.drawRoundedRect(QRectF(6.5, 3, 19, 3), 1, 1);
    painter.drawRoundedRect(QRectF(6.5, kBottomY, 19, 3), 1, 1);
}

QImage Frame(int index, int sizePx) {
    QImage image(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(sizePx / kGrid, sizePx / kGrid);
    if (index < kRunningFrames) {
        const qreal ran = static_cast<qreal>(index) / (kRunningFrames - 1);
        DrawGlass(painter, ran, index < kRunningFrames - 1);
    } else {
        painter.translate(kGrid / 2, kGrid / 2);
        painter.rotate(kTurnStepDegrees * (index - kRunningFrames + 1));
        painter.scale(kTurnScale, kTurnScale);  // the turned glass is wider
        painter.translate(-kGrid / 2, -kGrid / 2);
        DrawGlass(painter, 1.0, false);
    }
    return image;
}

}  // namespace

QList<QImage> HourglassFrameImages(int sizePx) {
    QList<QImage> frames;
    if (sizePx < 1) return frames;
    for (int i = 0; i < kHourglassFrameCount; ++i) frames.append(Frame(i, sizePx));
    return frames;
}

QList<QPixmap> HourglassFrames(int sizePx) {
    QList<QPixmap> frames;
    for (const QImage& image : HourglassFrameImages(sizePx)) frames.append(QPixmap::fromImage(image));
    return frames;
}
