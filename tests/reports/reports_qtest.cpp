// The six reports in the report view against a fake service: requests, captions, rows, chart slices, Refresh,
// Find, layout, drill-down and a run that fails half way; the report grid's order and cells.
#include "platform/ole_date.h"
#include "platform/variant.h"
#include "reports/qv_grid.h"
#include "reports/report.h"
#include "reports/report_host.h"
#include "reports/right_view.h"
#include "reports/t_chart.h"
#include "tests/support/doc_test_support.h"
#include "tests/support/temp_dir.h"
#include "trees/tree_object.h"

#include <QAbstractButton>
#include <QDateEdit>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPieSeries>
#include <QPieSlice>
#include <QStyleOptionViewItem>
#include <QTimeEdit>
#include <QtTest>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>

using namespace qv::test;

namespace {

// The frame's part: a fixed custom period and a selected object.
class FakeHost : public IReportHost {
public:
    bool GetPeriod(ReportPeriod& p) override { return p = period, true; }
    bool SetPeriod(const ReportPeriod& p) override { return period = p, ++periodsStored, true; }
    CTreeObject* GetSelectedObject() override { return selected; }
    void SelectFirstItem() override {}
    void SelectChildById(quint32 id) override { drilledTo.push_back(id); }

    ReportPeriod period{45000.25, kDateValid, 45001.75, kDateValid, kPeriodCustom};
    CTreeObject* selected = nullptr;
    int periodsStored = 0;
    std::vector<quint32> drilledTo;
};

// Rows of falling times, "r1" the largest.
std::vector<ReportRow> FallingRows(int count) {
    std::vector<ReportRow> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back({i, u"r" + QString::number(i).toStdU16String(), Variant::R8(1000.0 * (100 - i)), 0, 0});
    return rows;
}

std::unique_ptr<CGridItem> GridCell(QVariant value, const Variant* data = nullptr) {
    return std::make_unique<CGridItem>(std::move(value), reinterpret_cast<quintptr>(data));
}

// Whether anything but white lies right of x.
bool InkedFrom(const QImage& image, int x) {
    QImage white(image.width() - x, image.height(), image.format());
    white.fill(Qt::white);
    return image.copy(x, 0, white.width(), white.height()) != white;
}

}  // namespace

class ReportsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeServiceDocument> fake_;
    std::shared_ptr<FakeServiceState> service_;
    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<CRightView> view_;

    CQVGrid& Grid() { return *view_->Grid(); }
    QStringList Column(int column) {
        QStringList texts;
        for (int row = 0; row < Grid().GetRowCount(); ++row) {
            const CGridItem* item = Grid().GetRow(row)->GetItem(column);
            texts << (item ? CellText(*item) : QStringLiteral("<none>"));
        }
        return texts;
    }
    QStringList ColumnNames() {
        QStringList names;
        for (int c = 0; c < Grid().GetColumnCount(); ++c) names << Grid().GetColumnName(c);
        return names;
    }
    QList<QPieSlice*> Slices() { return view_->Chart()->Series()->slices(); }
    QDateEdit* StartDate() { return view_->findChild<QDateEdit*>("Control1046"); }
    QTimeEdit* EndTime() { return view_->findChild<QTimeEdit*>("Control1045"); }
    // The selected row after a successful Find, else -1.
    int Found(const char* text, bool matchCase, bool down) {
        return view_->FindNext(text, matchCase, down) ? Grid().GetCurSelPosition() : -1;
    }

private slots:
    void init() {
        fake_ = std::make_unique<FakeServiceDocument>();
        service_ = fake_->service;
        service_->programs[42] = ProgramInfoTable(u"Google Chrome", u"chrome.exe", Variant::Null());
        host_ = std::make_unique<FakeHost>();
        view_ = std::make_unique<CRightView>(host_.get());
        view_->resize(900, 700);
        view_->show();
        view_->OnInitialUpdate();
    }

    void cleanup() {
        view_.reset();
        fake_.reset();
    }

    void eachKindSendsItsRequestAndCaption() {
        CUserObject user(7, "alice");
        CComputerObject computer(3, "pc-1", &user);
        CApplicationObject application(42, "chrome.exe", &computer);
        CWorkstationObject workstation(3, "pc-1");
        CCompUserObject compUser(7, "alice", &workstation);
        CWsUsApplicationObject wsApplication(42, "chrome.exe", &compUser);
        CProgramObject program(42, "chrome.exe");
        CAppUserObject appUser(7, "alice", &program);
        CProgramObject unknown(43, "x.exe");
        CAppUserObject unknownUser(8, "bob", &unknown);
        const QStringList counts = {"Time Spent", "Keyboard Events", "Mouse Events"};
        const QStringList users = QStringList{"User Name"} + counts, titles = QStringList{"Window Title"} + counts;
        const QStringList programs = QStringList{"Program Name", "Process"} + counts;
        const struct {
            CTreeObject* object;
            const char* reportClass;
            std::int32_t kind;
            quint32 computer, user, program;
            QString caption;
            QStringList columns;
        } cases[] = {
            {&user, "CUserReport", 1, 0, 7, 0, "alice", QStringList{"Computer"} + counts},
            {&workstation, "CWorkstationReport", 0, 3, 0, 0, "pc-1", users},
            {&computer, "CComputerReport", 2, 3, 7, 0, "alice on pc-1", programs},
            // A user under a computer: the parent still comes first.
            {&compUser, "CComputerReport", 2, 3, 7, 0, "pc-1 on alice", programs},
            {&program, "CProgramReport", 0, 0, 0, 42, "Google Chrome (chrome.exe)", users},
            {&application, "CApplicationReport", 3, 3, 7, 42, "chrome.exe (alice on pc-1)", titles},
            {&wsApplication, "CApplicationReport", 3, 3, 7, 42, "chrome.exe (pc-1 on alice)", titles},
            {&appUser, "CAppUserReport", 3, 0, 7, 42, "Google Chrome (by alice)", titles},
            // A program the service cannot describe: empty texts.
            {&unknown, "CProgramReport", 0, 0, 0, 43, " ()", users},
            {&unknownUser, "CAppUserReport", 3, 0, 8, 43, " (by bob)", titles},
        };
        for (const auto& c : cases) {
            c.object->CreateReport();
            QCOMPARE(c.object->Report()->metaObject()->className(), c.reportClass);
            QCOMPARE(service_->LastQuery(), std::tuple(c.kind, c.computer, c.user, c.program, 45000.25, 45001.75));
            QCOMPARE(view_->CaptionLine()->text(), c.caption);
            QCOMPARE(ColumnNames(), c.columns);
            QVERIFY(!view_->CaptionIcon()->pixmap().isNull());
            c.object->DeleteReport();
        }
        // Without a service: the user report has no columns, the program report no rows.
        fake_->doc.ReleaseService();
        user.CreateReport();
        QCOMPARE(Grid().GetColumnCount(), 0);
        program.CreateReport();
        QCOMPARE(ColumnNames(), users);
        QCOMPARE(Grid().GetRowCount(), 0);
    }

    void rowsChartSlicesAndProgramIcons() {
        CUserObject user(7, "alice");
        const QString longName = QString(41, QLatin1Char('n'));
        service_->Answer(1, 0, 7, 0,
                         ReportTable({{5, longName.toStdU16String(), Variant::R8(90'061'000), 2.5, 3.5},
                                      {6, u"idle", Variant::Null(), 1e3, 0}}));
        user.CreateReport();
        QCOMPARE(Column(0), QStringList({longName, "idle"}));
        QCOMPARE(Column(1), QStringList({"1 day 01:01 hours", "00 minutes"}));
        QCOMPARE(Column(2), QStringList({"2", "1000"}));
        QCOMPARE(Column(3), QStringList({"4", "0"}));
        QCOMPARE(Slices().size(), 2);
        QCOMPARE(Slices()[0]->label(), longName.left(40));
        QCOMPARE(Slices()[1]->value(), 0.0);

        for (int count : {0, 12, 13}) {
            service_->Answer(1, 0, 7, 0, ReportTable(FallingRows(count)));
            view_->RunReport(*user.Report());
            QCOMPARE(Grid().GetRowCount(), count);
            QCOMPARE(Slices().size(), std::min(count, 13));
            QCOMPARE(static_cast<CReport*>(user.Report())->TimeValueCount(), count);
        }
        QCOMPARE(Slices()[11]->label(), QStringLiteral("r12"));
        QCOMPARE(Slices()[12]->label(), QStringLiteral("Others"));
        QCOMPARE(Slices()[12]->value(), 1000.0 * (100 - 13));
        QVERIFY(Slices()[12]->color() != Slices()[0]->color() && Slices()[0]->color() != Slices()[1]->color());
        // The legend lists every slice, "Others" included, in slice order.
        QCOMPARE(view_->Chart()->Legend()->count(), 13);
        QCOMPARE(view_->Chart()->Legend()->item(12)->text(), QStringLiteral("Others"));

        // Programs by their description and icon, when the service knows them.
        CComputerObject computer(3, "pc-1", &user);
        service_->Answer(2, 3, 7, 0,
                         ReportTable({{42, u"chrome.exe", Variant::R8(7'200'000), 0, 0},
                                      {99, u"mystery.exe", Variant::R8(60'000), 0, 0}}));
        computer.CreateReport();
        QCOMPARE(Column(0), QStringList({"Google Chrome", "mystery.exe"}));
        QCOMPARE(Column(1), QStringList({"chrome.exe", "mystery.exe"}));
        QVERIFY(dynamic_cast<const CIconGridItem*>(Grid().GetRow(0)->GetItem(0)));
        QVERIFY(!dynamic_cast<const CIconGridItem*>(Grid().GetRow(1)->GetItem(0)));
        QCOMPARE(Slices()[0]->label(), QStringLiteral("Google Chrome"));
    }

    void refreshStoresThePeriodAndRestoresTheServiceOrder() {
        // A week from Sunday 23:59:59.6 to Saturday 23:59:59.6: the pickers must not show the Monday and Sunday after.
        const double tenths = 0.6 / 86400;
        host_->period = {*OleDateFromFields(2024, 5, 19, 23, 59, 59) + tenths, kDateValid,
                         *OleDateFromFields(2024, 5, 25, 23, 59, 59) + tenths, kDateValid, kPeriodThisWeek};
        CUserObject user(7, "alice");
        service_->Answer(1, 0, 7, 0, ReportTable(FallingRows(3)));
        user.CreateReport();
        QCOMPARE(StartDate()->date(), QDate(2024, 5, 19));
        QCOMPARE(view_->findChild<QTimeEdit*>("Control1044")->time().hour(), 23);
        QCOMPARE(view_->findChild<QDateEdit*>("Control1047")->date(), QDate(2024, 5, 25));
        QCOMPARE(EndTime()->time().hour(), 23);
        host_->selected = &user;
        Grid().Sort(0, false);
        QCOMPARE(Column(0), QStringList({"r3", "r2", "r1"}));

        // The custom period takes both pickers of each end.
        view_->findChild<QAbstractButton*>("Control1054")->click();
        StartDate()->setDate(QDate(2026, 3, 4));
        view_->findChild<QTimeEdit*>("Control1044")->setTime(QTime(10, 30));
        view_->findChild<QDateEdit*>("Control1047")->setDate(QDate(2026, 3, 5));
        EndTime()->setTime(QTime(18, 15));
        view_->OnRefresh();
        QCOMPARE(host_->periodsStored, 1);
        QCOMPARE(host_->period.start, *OleDateFromFields(2026, 3, 4, 10, 30));
        QCOMPARE(host_->period.end, *OleDateFromFields(2026, 3, 5, 18, 15));
        QCOMPARE(host_->period.type, int{kPeriodCustom});
        QCOMPARE(Column(0), QStringList({"r1", "r2", "r3"}));
        QCOMPARE(Grid().SortColumn(), -1);

        // A run writes the period back into date and time pickers alike.
        QCOMPARE(EndTime()->time(), QTime(18, 15));
        // Pickers follow the period choice; the values change only on a run.
        view_->findChild<QAbstractButton*>("Control1050")->click();  // Today
        QVERIFY(!StartDate()->isEnabled());
        QCOMPARE(StartDate()->date(), QDate(2026, 3, 4));
        view_->findChild<QAbstractButton*>("Control1054")->click();
        QVERIFY(StartDate()->isEnabled());

        // Nothing selected: the period is stored and nothing runs.
        host_->selected = nullptr;
        const auto queries = service_->queries.size();
        view_->OnRefresh();
        QCOMPARE(service_->queries.size(), queries);
    }

    void layoutKeepsItsMinimumsAndFillsTheViewport() {
        view_->resize(200, 120);
        QApplication::processEvents();
        const QRect chart = view_->Chart()->geometry(), grid = Grid().geometry();
        QVERIFY(chart.width() >= 400 && chart.height() >= 150 && grid.height() >= 150);
        QCOMPARE(grid.top(), chart.bottom() + 1 + 3);
        QVERIFY(view_->widget()->height() > view_->viewport()->height());  // it scrolls

        view_->resize(1200, 900);
        QApplication::processEvents();
        const int height = view_->viewport()->height(), top = view_->Chart()->geometry().top();
        QCOMPARE(view_->Chart()->geometry().bottom() + 1, 2 * (height - top) / 3);
        QCOMPARE(Grid().geometry().bottom() + 1, height);
        QCOMPARE(view_->Chart()->geometry().right() + 1, view_->viewport()->width());
    }

    void findSearchesCellTextsFromTheSelectionAndDoubleClickDrillsDown() {
        CUserObject user(7, "alice");
        service_->Answer(1, 0, 7, 0,
                         ReportTable({{1, u"Alpha", Variant::R8(3), 17, 0},
                                      {2, u"beta", Variant::R8(2), 0, 0},
                                      {3, u"ALPHA beta", Variant::R8(1), 0, 0}}));
        user.CreateReport();
        view_->OnGridDoubleClick();  // nothing selected
        QVERIFY(host_->drilledTo.empty());
        // Nothing selected: the first row counts.
        QCOMPARE(Found("alpha", false, true), 0);
        view_->OnGridDoubleClick();
        QCOMPARE(host_->drilledTo, std::vector<quint32>({1}));
        QCOMPARE(Found("alpha", false, true), 2);
        // Past the end: nothing changes.
        QVERIFY(!view_->FindNext("alpha", false, true));
        QCOMPARE(Grid().GetCurSelPosition(), 2);
        QCOMPARE(view_->SearchPosition(), 2);
        QCOMPARE(Found("beta", true, false), 1);
        QVERIFY(!view_->FindNext("Beta", true, false));
        // Counts are searched as decimal text.
        view_->OnFindDialogClosed();
        Grid().SetCurSel(-1);
        QCOMPARE(Found("17", true, true), 0);
        // Upwards with nothing to start from: from the last row.
        view_->OnFindDialogClosed();
        Grid().SetCurSel(-1);
        QCOMPARE(Found("a", false, false), 2);

        view_->OnEditFind();
        QVERIFY(view_->FindDialog());
        view_->FindDialog()->close();
        QVERIFY(!view_->FindDialog());
        QCOMPARE(view_->SearchPosition(), -1);
        user.DeleteReport();

        // Find starts over with a new report and follows the selection after row zero.
        CUserObject big(9, "carol");
        CUserObject small(8, "bob");
        service_->Answer(1, 0, 9, 0, ReportTable(FallingRows(6)));
        service_->Answer(1, 0, 8, 0, ReportTable(FallingRows(2)));
        big.CreateReport();
        Grid().SetCurSel(4);
        QVERIFY(view_->FindNext("r", false, true));
        QCOMPARE(view_->SearchPosition(), 5);
        // A smaller report replaces it, Find still open: an upward search starts from its last row.
        big.DeleteReport();
        small.CreateReport();
        QCOMPARE(Found("r", false, false), 1);
        // A match on the first row, then another row selected: the next search starts there.
        QCOMPARE(Found("r", false, false), 0);
        small.DeleteReport();
        big.CreateReport();
        QCOMPARE(Found("r", false, true), 0);
        Grid().SetCurSel(3);
        QCOMPARE(Found("r", false, true), 4);
        // A later position keeps its place whatever is selected.
        Grid().SetCurSel(1);
        QCOMPARE(Found("r", false, true), 5);
        // A refresh of the same report starts over as well.
        view_->RunReport(*big.Report());
        QCOMPARE(view_->SearchPosition(), -1);
        big.DeleteReport();
    }

    void failedRunKeepsItsRowsAndTheNextRefreshWorks() {
        MessageCapture messages;
        CUserObject user(7, "alice");
        host_->selected = &user;
        // The third count does not fit 32 bits: the run ends there.
        service_->Answer(1, 0, 7, 0,
                         ReportTable({{1, u"a", Variant::R8(3), 1, 0},
                                      {2, u"b", Variant::R8(2), 1, 0},
                                      {3, u"c", Variant::R8(1), 1e12, 0}}));
        user.CreateReport();
        QCOMPARE(messages.messages.size(), size_t{1});
        QVERIFY2(messages.messages[0].text.contains("KeyboardEvents"), qPrintable(messages.messages[0].text));
        QCOMPARE(Column(0), QStringList({"a", "b"}));
        QCOMPARE(Slices().size(), 0);

        service_->queryStatus = E_FAIL;
        view_->OnRefresh();
        QCOMPARE(messages.messages.size(), size_t{2});
        QCOMPARE(messages.messages[1].text, QStringLiteral("the fake service failed"));

        service_->queryStatus = S_OK;
        service_->Answer(1, 0, 7, 0, ReportTable(FallingRows(3)));
        view_->OnRefresh();
        QCOMPARE(messages.messages.size(), size_t{2});
        QCOMPARE(Grid().GetRowCount(), 3);
        QCOMPARE(Slices().size(), 3);
    }

    void exportProposesTheCaptionAndTellsAFailure() {
        MessageCapture messages;
        CUserObject user(7, "alice");
        service_->Answer(1, 0, 7, 0, ReportTable({{1, u"<b>pc</b>", Variant::R8(3'600'000), 4, 5}}));
        user.CreateReport();
        view_->CaptionLine()->setText(QStringLiteral("a\\b/c"));
        QString proposed, answer;
        SetExportFileChooser([&](QWidget*, const QString& name) {
            proposed = name;
            return answer;
        });
        view_->OnCommand(32849);  // cancelled
        QCOMPARE(proposed, QStringLiteral("a-bc.htm"));
        QCOMPARE(QDir(fake_->dir.path()).entryList(QDir::Files), QStringList({"user.reg"}));

        answer = fake_->dir.filePath("a-bc.htm");
        view_->OnCommand(32849);
        // The page's escaping is the export's tests'; here the caption and the grid's cells reach it.
        const QByteArray page = QByteArray::fromStdString(ReadFile(answer.toStdString()));
        QVERIFY(page.contains("<title>a\\b/c</title>") &&
                page.contains("pc&lt;/b&gt;</font></td>\r\n<td><font size=\"2\">01:00 hours"));
        QVERIFY(messages.messages.empty());

        answer = QStringLiteral("/etc/passwd/a.htm");
        view_->OnCommand(32849);
        QCOMPARE(messages.messages.size(), size_t{1});
        QVERIFY(messages.messages[0].text.contains(answer));
        SetExportFileChooser({});
    }
    // Every column type with its hard cases, in the C locale and a collating one, both ways and after a sort by
    // another column: the order is the comparator's by a stable sort from the order added.
    void sortsAsCompareItemsInAnyLocale() {
        const double nan = qQNaN();
        const std::vector<Variant> owns = {
            Variant::R8(1),     Variant::R8(1),     Variant::R8(-0.0), Variant::R8(nan), Variant::Date(1),
            Variant::I4(-1),    Variant::I4(5),     Variant::UI4(~0u), Variant::Int(5),  Variant::UInt(7),
            Variant::Str(u"a"), Variant::Str(u"B"), Variant::I8(3),    Variant::Null(),  Variant::Unsupported(VT_UI1)};
        // Case variants, accents composed or not, an ignorable character, surrogates paired and not (a low one
        // against a unit above them).
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
                row->ReplaceItem(column, GridCell(pick(*lists[column]), own));
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
            const auto x = GridCell(std::move(textA), &a);
            const auto y = GridCell(std::move(textB), &b);
            return grid.CompareItems(x.get(), y.get());
        };
        // Time Spent by its milliseconds, not its text; against a cell without a Variant, by the texts.
        const Variant minutes59 = Variant::R8(3'599'000);
        QCOMPARE(compare("59 minutes", minutes59, "1 day", Variant::R8(86'400'000)), -1);
        QCOMPARE(grid.CompareItems(GridCell("59 minutes", &minutes59).get(), GridCell("1 day").get()), 1);
        // NaN on either side: after.
        QCOMPARE(compare("", Variant::R8(qQNaN()), "", Variant::R8(1)), 1);
        QCOMPARE(compare("", Variant::R8(1), "", Variant::R8(qQNaN())), 1);
        // 32-bit integers compare signed, whatever the tag.
        QCOMPARE(compare("", Variant::UI4(0xFFFFFFFF), "", Variant::UI4(1)), -1);
        // Strings: ordinal and case-sensitive ("B" before "a"), unlike the values.
        QCOMPARE(compare("b", Variant::Str(u"a"), "a", Variant::Str(u"B")), 1);
        // Mismatched tags, tags without an order of their own or without a value: by the shown values.
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
        QVERIFY(InkedFrom(text, 20) && !InkedFrom(text, 100));  // left aligned after the icon
    }
};

QTEST_MAIN(ReportsTest)
#include "reports_qtest.moc"
