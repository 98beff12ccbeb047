#include "reports/qv_grid.h"

#include "platform/variant.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTest>

#include <algorithm>
#include <array>
#include <limits>
#include <numeric>
#include <random>

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
    // Every column type with its hard cases, in the C locale and a collating
    // one, both ways and after a sort by another column: the order is the
    // comparator's by a stable sort from the order added.
    void sortsAsCompareItemsInAnyLocale() {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const std::vector<Variant> owns = {
            Variant::R8(1),     Variant::R8(1),     Variant::R8(-0.0), Variant::R8(nan), Variant::Date(1),
            Variant::I4(-1),    Variant::I4(5),     Variant::UI4(~0u), Variant::Int(5),  Variant::UInt(7),
            Variant::Str(u"a"), Variant::Str(u"B"), Variant::I8(3),    Variant::Null(),  Variant::Unsupported(VT_UI1)};
        // Case variants, accents composed or not, an ignorable character,
        // surrogates paired and not (a low one against a unit above them).
        QList<QVariant> texts = {QVariant(), QString::fromUtf16(u"x\U00010400"), QString::fromUtf16(u"x\U00010428"),
                                 QString("x") + QChar(0xD801) + QChar(0xE000)};
        for (const QString& text :
             QString("|a|A|\u00e1|\u00c1|a\u0301|b|B|\u00df|ss|\u0001|e|\u00e9|Tab 10|tab 9|10|9").split('|'))
            texts << text;
        const QList<QVariant> numbers = {QVariant(),          9,   10,  -1,  ~0u,     qlonglong{-5},
                                         qulonglong{1} << 63, 2.5, 9.0, nan, -qInf(), 9.5f};
        const QList<QVariant> both = texts + numbers + QList<QVariant>{true};
        const QList<QVariant>* lists[] = {&texts, &numbers, &both, &both};

        CQVGrid grid;
        for (const char* name : {"Text", "Number", "Both", "Own"}) grid.InsertColumn(grid.GetColumnCount(), name, 50);
        std::mt19937 random(7);
        const auto pick = [&random](const auto& list) { return list[random() % list.size()]; };
        std::vector<std::array<const CGridItem*, 4>> cells;
        for (int id = 1; id <= 300; ++id) {
            auto row = grid.CreateRow(4);
            for (int column = 0; column < 4; ++column) {
                if (random() % 10 == 0) continue;  // no cell
                const Variant* own = column == 3 && random() % 4 != 0 ? &owns[random() % owns.size()] : nullptr;
                row->ReplaceItem(column, Cell(pick(*lists[column]), own));
            }
            cells.push_back({row->GetItem(0), row->GetItem(1), row->GetItem(2), row->GetItem(3)});
            row->SetData(static_cast<quintptr>(id));
            grid.AddRow(std::move(row));
        }
        grid.AdjustLayout();

        for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
            QLocale::setDefault(locale);
            for (int column = 0; column < 4; ++column)
                for (const bool ascending : {true, false}) {
                    std::vector<int> expected(cells.size());
                    std::iota(expected.begin(), expected.end(), 1);
                    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                        const int order = grid.CompareItems(cells[a - 1][column], cells[b - 1][column]);
                        return ascending ? order < 0 : order > 0;
                    });
                    grid.Sort(column, ascending);
                    std::vector<int> shown;
                    for (int i = 0; i < grid.GetRowCount(); ++i)
                        shown.push_back(static_cast<int>(grid.GetRow(i)->GetData()));
                    QVERIFY2(shown == expected,
                             qPrintable(locale.name() + (ascending ? " up " : " down ") + grid.GetColumnName(column)));
                }
        }
        QLocale::setDefault(QLocale::system());
    }

    void compareByVariantTag() {
        CQVGrid grid;
        const auto compare = [&grid](QVariant textA, const Variant& a, QVariant textB, const Variant& b) {
            const auto x = Cell(std::move(textA), &a);
            const auto y = Cell(std::move(textB), &b);
            return grid.CompareItems(x.get(), y.get());
        };
        // Time Spent by its milliseconds, not its text; against a cell without
        // a Variant, by the texts.
        const Variant minutes59 = Variant::R8(3'599'000);
        QCOMPARE(compare("59 minutes", minutes59, "1 day", Variant::R8(86'400'000)), -1);
        QCOMPARE(grid.CompareItems(Cell("59 minutes", &minutes59).get(), Cell("1 day").get()), 1);
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
