// The grid control, the property sheet (tree look, Apply/OK/Cancel reaching the pages) and the drawn artwork.
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "ui/grid_ctrl.h"
#include "ui/property_sheet.h"

#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>

namespace {

using Ids = QList<quintptr>;

// A grid of only these (name, count) rows, whose row data count up from 1; shown unless told.
void Fill(CGridCtrl& grid, const QList<QPair<QString, int>>& rows, bool show = true) {
    grid.RemoveAll();
    quintptr first = 1;
    if (grid.GetColumnCount() == 0) {
        grid.InsertColumn(0, "Name", 100);
        grid.InsertColumn(1, "Count", 100);
    }
    for (const auto& [name, count] : rows) {
        auto row = grid.CreateRow(2);
        row->ReplaceItem(0, std::make_unique<CGridItem>(name));
        row->ReplaceItem(1, std::make_unique<CGridItem>(count));
        row->SetData(first++);
        grid.AddRow(std::move(row));
    }
    if (show) grid.AdjustLayout();
}

Ids Shown(const CGridCtrl& grid) {
    Ids out;
    for (int i = 0; i < grid.GetRowCount(); ++i) out << grid.GetRow(i)->GetData();
    return out;
}

void ClickHeader(CGridCtrl& grid, int column) {
    QHeaderView* header = grid.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

class SwatchItem : public CGridItem {
public:
    void OnDrawValue(QPainter& painter, const QRect& rect, const QStyleOptionViewItem&) const override {
        painter.fillRect(rect, Qt::green);
    }
};

// A page that counts the sheet's calls and refuses when told to.
class CountingPage : public CPropertyPage {
public:
    using CPropertyPage::CPropertyPage;
    bool OnInitDialog() override { return ++inits, true; }
    bool OnApply() override { return ++applies, !refuse && CPropertyPage::OnApply(); }
    bool OnOK() override { return ++oks, !refuse; }
    void OnCancel() override { ++cancels; }

    int inits = 0, applies = 0, oks = 0, cancels = 0;
    bool refuse = false;
};

// Of its size, drawn, yet not a filled square: the artwork has a shape.
bool Shaped(const QPixmap& pixmap, QSize size = {}) {
    const QImage image = pixmap.toImage();
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 0;
    return opaque > image.width() * image.height() / 8 && opaque < image.width() * image.height() &&
           (!size.isValid() || image.size() == size);
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void columnsAndRowsShownOnAdjustLayoutAndValuesShownAndCompared() {
        CGridCtrl grid;
        grid.InsertColumn(0, "Name", 120);
        grid.InsertColumn(5, "Count", 80);  // out of range: appended
        grid.InsertColumn(1, "Middle", 60);
        QVERIFY(grid.GetColumnName(2) == "Count" && grid.GetColumnName(3).isNull());

        grid.Sort(2, false);
        grid.DeleteAllColumns();
        QVERIFY(grid.SortColumn() == -1 && grid.horizontalHeader()->sortIndicatorSection() == -1);

        Fill(grid, {{"a", 1}, {"b", 2}}, false);
        QVERIFY(grid.GetRowCount() == 0 && grid.model()->rowCount() == 0);
        grid.AdjustLayout();
        QCOMPARE(grid.model()->rowCount(), 2);

        // A replaced cell of a shown row reaches the view; a bad index is refused.
        grid.GetRow(1)->ReplaceItem(0, std::make_unique<CGridItem>(QString("B")));
        QCOMPARE(grid.model()->index(1, 0).data().toString(), QString("B"));
        QVERIFY(!grid.GetRow(1)->ReplaceItem(7, std::make_unique<CGridItem>(1)));

        grid.AddRow(grid.CreateRow(1));  // fewer cells than columns
        grid.AddRow(nullptr);
        grid.AdjustLayout();
        QCOMPARE(grid.GetRowCount(), 3);
        QVERIFY(!grid.GetRow(2)->GetItem(1) && !grid.GetRow(3));

        grid.RemoveAll();
        QCOMPARE(grid.model()->rowCount(), 0);

        // Values: their texts and their order.
        QCOMPARE(CellText(CGridItem(0xFFFFFFFFu)), QString("-1"));
        QVERIFY(CellText(CGridItem(qlonglong{5})).isEmpty() && CellText(CGridItem(2.5)).isEmpty());
        const auto cmp = &CGridCtrl::CompareValues;
        QCOMPARE(cmp(QVariant(), QVariant(0)), -1);
        QCOMPARE(cmp(qlonglong{-1}, QVariant(qulonglong{1} << 63)), -1);
        QCOMPARE(cmp(2.5, 2), 1);
        QCOMPARE(cmp(qQNaN(), -1e300), -1);
        QVERIFY(cmp(QString("a"), QString("A")) == -cmp(QString("A"), QString("a")) && cmp(QString("a"), QString("A")));
    }

    void headerClicksSortAndCellsDrawAndTakeDoubleClicks() {
        CGridCtrl grid;
        grid.resize(400, 300);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        // 9 before 10 as numbers, "b" before "C" ignoring case, equal counts in the order added.
        Fill(grid, {{"C", 10}, {"a", 9}, {"b", 10}, {"d", 100}});

        ClickHeader(grid, 1);
        const QHeaderView* header = grid.horizontalHeader();
        QVERIFY(Shown(grid) == (Ids{2, 1, 3, 4}) && header->sortIndicatorOrder() == Qt::AscendingOrder);
        grid.SetCurSel(1);
        ClickHeader(grid, 1);
        QVERIFY(Shown(grid) == (Ids{4, 1, 3, 2}) && header->sortIndicatorOrder() == Qt::DescendingOrder);
        // The selection follows its row, by shown position.
        QVERIFY(grid.GetCurSelPosition() == 1 && grid.GetCurSel()->GetData() == 1);

        ClickHeader(grid, 0);
        QVERIFY(grid.IsSortAscending() && Shown(grid) == (Ids{2, 3, 1, 4}));

        // Rows shown later take their place in the sort; "B" before "b": folded ties go by the plain texts.
        Fill(grid, {{"b", 0}, {"B", 0}, {"a", 0}});
        QCOMPARE(Shown(grid), (Ids{3, 2, 1}));

        grid.SetCurSel(99);
        QCOMPARE(grid.GetCurSelPosition(), -1);

        Fill(grid, {{"first", 0}, {"second", 0}});
        grid.GetRow(0)->ReplaceItem(1, std::make_unique<SwatchItem>());
        QCOMPARE(grid.rowHeight(0), grid.fontMetrics().height() + 4);

        // The cell draws itself through the delegate, its neighbour does not.
        const QImage shot = grid.viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(grid.visualRect(grid.model()->index(0, 1)).center())), QColor(Qt::green));
        QVERIFY(QColor(shot.pixel(grid.visualRect(grid.model()->index(1, 1)).center())) != QColor(Qt::green));

        // A real double click is a click and then the double click.
        QSignalSpy spy(&grid, &CGridCtrl::RowDoubleClicked);
        const auto doubleClick = [&grid](QPoint at) {
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, at);
        };
        doubleClick(grid.visualRect(grid.model()->index(1, 0)).center());
        QVERIFY(spy.count() == 1 && spy.at(0).at(0).toInt() == 1 && grid.GetCurSelPosition() == 1);
        doubleClick(QPoint(10, grid.viewport()->height() - 3));  // below the rows
        QCOMPARE(spy.count(), 1);
    }

    void treeLookGroupsPagesUnderCategories() {
        CPropertySheet sheet(QStringLiteral("Options"));
        sheet.SetLook(CPropertySheet::Look::Tree, 170);
        QVERIFY(sheet.SetIconsList(kIdbOptionsNavigation, 16));
        QTreeWidgetItem* general = sheet.AddTreeCategory(QStringLiteral("General"), 0, 0);
        auto* first = new CountingPage(QStringLiteral("Server"));
        auto* second = new CountingPage(QStringLiteral("Other"));
        for (CountingPage* page : {first, second}) sheet.AddPageToTree(general, page, 1, 1);

        QVERIFY(general->childCount() == 2 && !general->child(0)->icon(0).isNull());
        QCOMPARE(sheet.ActivePage(), first);

        // Pages are initialised when first shown, once.
        sheet.show();
        QVERIFY(first->inits == 1 && second->inits == 0);
        sheet.NavigationTree()->setCurrentItem(general->child(1));
        QVERIFY(sheet.ActivePage() == second && second->inits == 1);
        sheet.NavigationTree()->setCurrentItem(general);  // a category shows its first page
        QVERIFY(sheet.ActivePage() == first && first->inits == 1);
    }

    void listLookApplyOkAndCancelReachTheInitialisedPages() {
        CPropertySheet sheet(QStringLiteral("Options"));
        sheet.SetLook(CPropertySheet::Look::List);
        QVERIFY(!sheet.AddTreeCategory(QStringLiteral("General")) && !sheet.SetIconsList(kIdiUser, 16));
        auto* shown = new CountingPage(QStringLiteral("A"));
        auto* never = new CountingPage(QStringLiteral("B"));
        for (CountingPage* page : {shown, never}) sheet.AddPage(page);
        QCOMPARE(sheet.NavigationTree()->topLevelItemCount(), 2);
        sheet.show();

        shown->SetModified();
        sheet.ApplyButton()->click();
        QVERIFY(shown->applies == 1 && never->applies == 0 && !sheet.ApplyButton()->isEnabled());

        shown->refuse = true;
        shown->SetModified();
        sheet.ApplyButton()->click();
        QVERIFY(sheet.ApplyButton()->isEnabled());  // still pending
        sheet.OkButton()->click();
        QVERIFY(shown->oks == 1 && sheet.isVisible());  // a page refused: the sheet stays open

        shown->refuse = false;
        sheet.OkButton()->click();
        QVERIFY(shown->oks == 2 && never->oks == 0 && !sheet.isVisible() && sheet.result() == QDialog::Accepted);

        sheet.show();
        sheet.CancelButton()->click();
        QVERIFY(shown->cancels == 1 && never->cancels == 0 && sheet.result() == QDialog::Rejected);
    }

    void iconsFramesAndStripsAreDrawnAndDistinct() {
        for (unsigned id : {kIdrMainFrame, kIdiUser, kIdiComputer, kIdiProgram, kIdiUsersPane, kIdiApplicationsPane,
                            kIdiComputersPane, kIdbOptionsNavigation})
            for (int size : {16, 32, 48})
                QVERIFY2(Shaped(LoadResIcon(id, size), {size, size}), qPrintable(QString::number(id)));
        QVERIFY(LoadResIcon(kIdiUser, 16).toImage() != LoadResIcon(kIdiComputer, 16).toImage());
        QVERIFY(LoadResIcon(kIdiComputer, 16).toImage() != LoadResIcon(kIdiProgram, 16).toImage());
        QVERIFY(LoadResIcon(999, 16).isNull() && LoadResIcon(kIdiUser, 0).isNull());

        const QList<QPixmap> frames = HourglassFrames(32);
        QCOMPARE(frames.size(), 10);
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(Shaped(frames[i], {32, 32}));
            QVERIFY2(frames[i].toImage() != frames[(i + 1) % frames.size()].toImage(), qPrintable(QString::number(i)));
        }
        QVERIFY(HourglassFrames(0).isEmpty());

        // One button image per toolbar command.
        const auto commands =
            std::count_if(std::begin(kToolbarLayout), std::end(kToolbarLayout), [](unsigned id) { return id != 0; });
        for (unsigned id : {kIdbToolbarHot, kIdbToolbarNormal}) {
            QCOMPARE(ToolbarImage(id).size(), QSize(16 * int(commands), 15));
            const QList<QPixmap> buttons = ToolbarButtonImages(id);
            QCOMPARE(buttons.size(), int(commands));
            for (const QPixmap& button : buttons) QVERIFY(Shaped(button));
        }
        QVERIFY(ToolbarImage(kIdbToolbarHot).toImage() != ToolbarImage(kIdbToolbarNormal).toImage());
        QCOMPARE(ToolbarImage(kIdbOptionsNavigation).size(), QSize(16 * 2, 16));
        QVERIFY(ToolbarImage(kIdiUser).isNull() && ToolbarButtonImages(12345).isEmpty());
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_qtest.moc"
