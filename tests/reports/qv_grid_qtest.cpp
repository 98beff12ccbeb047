#include "reports/qv_grid.h"

#include "platform/variant.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTest>

#include <limits>

namespace {

std::unique_ptr<CGridItem> Cell(QVariant value, const Variant* data = nullptr) {
    return std::make_unique<CGridItem>(std::move(value), reinterpret_cast<quintptr>(data));
}

// Whether anything but white lies right of x.
bool InkedFrom(const QImage& image, int x) {
    QImage white(image.width() - x, image.height(), image.format());
    white.fill(Qt::white);
    return image.copy(x, 0, white.width(), white.height()) != white;
}

}  // namespace

class QVGridTest : public QObject {
    Q_OBJECT
private slots:
    void timeSpentSortsByMilliseconds() {
        const Variant minutes59 = Variant::R8(3'599'000);
        const Variant day = Variant::R8(86'400'000);
        const Variant sameDay = Variant::R8(86'400'000);
        CQVGrid grid;
        grid.InsertColumn(0, "Name", 100);
        grid.InsertColumn(1, "Time Spent", 100);
        int id = 0;
        for (const auto& [text, ms] :
             {std::pair{"1 day 00 minutes", &day}, {"59 minutes", &minutes59}, {"1 day 00 minutes", &sameDay}}) {
            auto row = grid.CreateRow(2);
            row->ReplaceItem(1, Cell(QString(text), ms));
            row->SetData(static_cast<quintptr>(++id));
            grid.AddRow(std::move(row));
        }
        grid.AdjustLayout();

        const CGridItem* day1 = grid.GetRow(0)->GetItem(1);
        const CGridItem* min59 = grid.GetRow(1)->GetItem(1);
        QCOMPARE(CGridCtrl::CompareValues(min59->GetValue(), day1->GetValue()), 1);  // the texts
        QCOMPARE(grid.CompareItems(min59, day1), -1);
        QCOMPARE(grid.CompareItems(day1, grid.GetRow(2)->GetItem(1)), 0);

        // Equal times keep the order added, both ways.
        grid.Sort(1);
        QCOMPARE(grid.GetRow(0)->GetData(), quintptr{2});
        QCOMPARE(grid.GetRow(1)->GetData(), quintptr{1});
        QCOMPARE(grid.GetRow(2)->GetData(), quintptr{3});
        grid.Sort(1, false);
        QCOMPARE(grid.GetRow(0)->GetData(), quintptr{1});
        QCOMPARE(grid.GetRow(2)->GetData(), quintptr{2});

        // A cell without data or no cell at all sorts by the values.
        QCOMPARE(grid.CompareItems(min59, grid.GetRow(0)->GetItem(0)), 1);
        QCOMPARE(grid.CompareItems(min59, Cell(QString("0")).get()), 1);
    }

    void compareByVariantTag() {
        CQVGrid grid;
        const auto compare = [&grid](QVariant textA, const Variant& a, QVariant textB, const Variant& b) {
            const auto x = Cell(std::move(textA), &a);
            const auto y = Cell(std::move(textB), &b);
            return grid.CompareItems(x.get(), y.get());
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        // NaN on either side: after.
        QCOMPARE(compare("", Variant::R8(nan), "", Variant::R8(1)), 1);
        QCOMPARE(compare("", Variant::R8(1), "", Variant::R8(nan)), 1);
        // 32-bit integers compare signed, whatever the tag.
        QCOMPARE(compare("", Variant::UI4(0xFFFFFFFF), "", Variant::UI4(1)), -1);
        // Strings: ordinal and case-sensitive ("B" before "a"), unlike the values.
        QCOMPARE(compare("b", Variant::Str(u"a"), "a", Variant::Str(u"B")), 1);
        // Mismatched tags, tags without an order of their own and tags without a
        // value fall back on the shown values.
        QCOMPARE(compare("a", Variant::R8(9), "b", Variant::I4(1)), -1);
        QCOMPARE(compare("b", Variant::I8(1), "a", Variant::I8(9)), 1);
        QCOMPARE(compare(2, Variant::Unsupported(VT_UI1), 10, Variant::Unsupported(VT_UI1)), -1);
        QCOMPARE(compare("a", Variant::Null(), "b", Variant::Null()), -1);
    }

    void iconCellDrawsIconThenText() {
        QPixmap icon(16, 16);
        icon.fill(Qt::red);
        QStyleOptionViewItem option;
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        option.palette.setColor(QPalette::Text, Qt::black);
        const QRect rect(0, 0, 120, 20);
        const auto render = [&](const CGridItem& item) {
            QImage image(rect.size(), QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            item.OnDrawValue(painter, rect, option);
            return image;
        };

        const QImage number = render(CIconGridItem(42, icon));
        QCOMPARE(number.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(number.pixel(19, 19), qRgb(255, 0, 0));  // scaled to 20 x 20
        QVERIFY(!InkedFrom(number, 20));                  // no text for a number

        const QImage text = render(CIconGridItem(QString("Notepad"), icon));
        QCOMPARE(text.pixel(10, 10), qRgb(255, 0, 0));
        QVERIFY(InkedFrom(text, 20));
        QVERIFY(!InkedFrom(text, 100));  // left aligned after the icon
    }
};

QTEST_MAIN(QVGridTest)
#include "qv_grid_qtest.moc"
