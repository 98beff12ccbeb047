#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QtTest>

#include <algorithm>

namespace {

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

}  // namespace

class ResourcesTest : public QObject {
    Q_OBJECT
private slots:
    void iconsRenderAtEverySize() {
        const unsigned ids[] = {
            kIdrMainFrame,        kIdiUser,          kIdiComputer,         kIdiProgram, kIdiUsersPane,
            kIdiApplicationsPane, kIdiComputersPane, kIdbOptionsNavigation};
        for (unsigned id : ids) {
            for (int size : {16, 32, 48}) {
                const QPixmap icon = LoadResIcon(id, size);
                QCOMPARE(icon.size(), QSize(size, size));
                const int opaque = OpaquePixels(icon.toImage());
                // Drawn, yet not a filled square: the artwork has a shape.
                QVERIFY2(opaque > size * size / 8 && opaque < size * size,
                         qPrintable(QStringLiteral("icon %1 at %2: %3").arg(id).arg(size).arg(opaque)));
            }
        }
        QVERIFY(LoadResIcon(kIdiUser, 16).toImage() != LoadResIcon(kIdiComputer, 16).toImage());
        QVERIFY(LoadResIcon(kIdiComputer, 16).toImage() != LoadResIcon(kIdiProgram, 16).toImage());
        QVERIFY(LoadResIcon(999, 16).isNull());
        QVERIFY(LoadResIcon(kIdiUser, 0).isNull());
    }

    void hourglassHasTenDistinctFrames() {
        const QList<QPixmap> frames = HourglassFrames(32);
        QCOMPARE(frames.size(), 10);
        for (int i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].size(), QSize(32, 32));
            QVERIFY(OpaquePixels(frames[i].toImage()) > 0);
            QVERIFY2(frames[i].toImage() != frames[(i + 1) % frames.size()].toImage(), qPrintable(QString::number(i)));
        }
        QVERIFY(HourglassFrames(0).isEmpty());
    }

    void stripsHoldOneImagePerButton() {
        for (unsigned id : {kIdbToolbarHot, kIdbToolbarNormal}) {
            const QPixmap strip = ToolbarImage(id);
            QCOMPARE(strip.size(), QSize(16 * 7, 15));
            const QList<QPixmap> buttons = ToolbarButtonImages(id);
            QCOMPARE(buttons.size(), 7);
            for (const QPixmap& button : buttons) QVERIFY(OpaquePixels(button.toImage()) > 20);
        }
        // One image per toolbar command, no more, no fewer.
        const auto commands =
            std::count_if(std::begin(kToolbarLayout), std::end(kToolbarLayout), [](unsigned id) { return id != 0; });
        QCOMPARE(int(commands), 7);
        QVERIFY(ToolbarImage(kIdbToolbarHot).toImage() != ToolbarImage(kIdbToolbarNormal).toImage());
        QCOMPARE(ToolbarImage(kIdbOptionsNavigation).size(), QSize(16 * 2, 16));
        QVERIFY(ToolbarImage(kIdiUser).isNull());
        QVERIFY(ToolbarButtonImages(12345).isEmpty());
    }
};

QTEST_MAIN(ResourcesTest)
#include "resources_qtest.moc"
