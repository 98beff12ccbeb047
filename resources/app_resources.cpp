// Icons and bitmap strips, rendered from our SVG artwork at the size asked.
#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QPainter>
#include <QSvgRenderer>

#include <iterator>

void InitAppResources() {
    // Q_INIT_RESOURCE is idempotent, but a flag keeps the frequent callers cheap.
    [[maybe_unused]] static const bool registered = [] {
        Q_INIT_RESOURCE(app_resources);
        return true;
    }();
}

namespace {

struct IconEntry {
    unsigned id;
    const char* file;
};

constexpr IconEntry kIcons[] = {
    {kIdrMainFrame, "app.svg"},
    {kIdiUser, "user.svg"},
    {kIdiComputer, "computer.svg"},
    {kIdiProgram, "program.svg"},
    {kIdiUsersPane, "users_pane.svg"},
    {kIdiApplicationsPane, "applications_pane.svg"},
    {kIdiComputersPane, "computers_pane.svg"},
    {kIdbOptionsNavigation, "general.svg"},
};

// Toolbar images in toolbar order; the tree toggles reuse the panes' icons.
constexpr const char* kToolbarFiles[] = {
    "export.svg",  "find.svg",  "users_pane.svg", "computers_pane.svg", "applications_pane.svg",
    "general.svg", "about.svg",
};
static_assert(std::size(kToolbarFiles) == kToolbarImageCount);

constexpr const char* kNavigationFiles[] = {"general.svg", "server.svg"};
static_assert(std::size(kNavigationFiles) == kOptionsNavigationIconCount);

QString IconPath(const char* file) { return QStringLiteral(":/qvviewer/icons/") + QLatin1String(file); }

const char* IconFile(unsigned id) {
    for (const IconEntry& entry : kIcons) {
        if (entry.id == id) return entry.file;
    }
    return nullptr;
}

// Draws the SVG centred in the cell, keeping its square aspect.
void DrawSvg(QPainter& painter, const char* file, const QRectF& cell) {
    QSvgRenderer renderer(IconPath(file));
    if (!renderer.isValid()) return;
    const qreal side = qMin(cell.width(), cell.height());
    const QRectF square(cell.x() + (cell.width() - side) / 2, cell.y() + (cell.height() - side) / 2, side, side);
    renderer.render(&painter, square);
}

QImage TransparentImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The highlighted strip: the same artwork, a little lighter.
void Lighten(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() != 0) image.setPixelColor(x, y, c.lighter(118));
        }
    }
}

}  // namespace

QImage LoadResIconImage(unsigned id, int sizePx) {
    InitAppResources();
    const char* file = IconFile(id);
    if (file == nullptr || sizePx < 1) return QImage();
    QImage image = TransparentImage(sizePx, sizePx);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawSvg(painter, file, QRectF(0, 0, sizePx, sizePx));
    return image;
}

QPixmap LoadResIcon(unsigned id, int sizePx) {
    const QImage image = LoadResIconImage(id, sizePx);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QImage ToolbarImageScaled(unsigned id, int scale) {
    InitAppResources();
    if (scale < 1) return QImage();
    const char* const* files = nullptr;
    int count = 0;
    int width = kToolbarButtonWidth;
    int height = kToolbarButtonHeight;
    if (id == kIdbToolbarHot || id == kIdbToolbarNormal) {
        files = kToolbarFiles;
        count = kToolbarImageCount;
    } else if (id == kIdbOptionsNavigation) {
        files = kNavigationFiles;
        count = kOptionsNavigationIconCount;
        height = width;
    } else {
        return QImage();
    }
    width *= scale;
    height *= scale;
    QImage strip = TransparentImage(width * count, height);
    {
        QPainter painter(&strip);
        painter.setRenderHint(QPainter::Antialiasing);
        for (int i = 0; i < count; ++i) DrawSvg(painter, files[i], QRectF(i * width, 0, width, height));
    }
    if (id == kIdbToolbarHot) Lighten(strip);
    return strip;
}

QPixmap ToolbarImage(unsigned id) {
    const QImage strip = ToolbarImageScaled(id, 1);
    return strip.isNull() ? QPixmap() : QPixmap::fromImage(strip);
}

QList<QPixmap> ToolbarButtonImages(unsigned id) {
    const QPixmap strip = ToolbarImage(id);
    QList<QPixmap> images;
    if (strip.isNull()) return images;
    const int width = kToolbarButtonWidth;
    for (int x = 0; x + width <= strip.width(); x += width) images.append(strip.copy(x, 0, width, strip.height()));
    return images;
}
