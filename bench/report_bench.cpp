// Reports from a local service: the time from Generate to the filled grid
// and chart against the same query read without a grid, the sort of the
// largest report by each column, its HTML export, and the memory a row costs.
//   report_bench [--rows N,N,...]
#include "export/html_table_exp.h"
#include "platform/hive_store.h"
#include "reports/grid_export.h"
#include "reports/qv_grid.h"
#include "reports/report_host.h"
#include "reports/right_view.h"
#include "service/qv_viewer_doc.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "tests/support/test_support.h"
#include "trees/tree_object.h"

#include <QApplication>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

namespace {

class BenchHost : public IDocumentHost, public IReportHost {
public:
    QTreeWidget* Tree(TreeId) override { return nullptr; }
    void RefreshRoot(TreeId) override {}
    void ResetCurrentObject(TreeId) override {}
    void PostCommand(int) override {}
    // All time: a period of 0 and 0.
    bool GetPeriod(ReportPeriod& p) override {
        p = {0, kDateValid, 0, kDateValid, kPeriodCustom};
        return true;
    }
    bool SetPeriod(const ReportPeriod&) override { return true; }
    CTreeObject* GetSelectedObject() override { return nullptr; }
    void SelectFirstItem() override {}
    void SelectChildById(quint32) override {}
};

double Time(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of three: a shared machine adds noise, never speed.
double BestTime(const std::function<void()>& work) { return std::min({Time(work), Time(work), Time(work)}); }

// The report's query read as a report reads it, into nothing.
std::size_t ReadOnly(IQVQuery* service, const QueryRequest& request) {
    RecordsetReader reader(RunQuery(service, request));
    reader.SetSort("TimeSpent Desc");
    const Field id = reader.GetField("Id"), name = reader.GetField("Name"), time = reader.GetField("TimeSpent"),
                keyboard = reader.GetField("KeyboardEvents"), mouse = reader.GetField("MouseEvents");
    std::size_t rows = 0;
    for (; !reader.IsEOF(); reader.MoveNext(), ++rows) {
        GetFieldInt(id);
        GetFieldString(name);
        GetFieldDouble(time);
        GetFieldDouble(keyboard);
        GetFieldDouble(mouse);
    }
    return rows;
}

// One user's window titles of one program, each with its own duration.
void WriteTitles(const std::string& store, std::size_t rows) {
    std::vector<qv::ActivityRecord> records;
    records.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i)
        records.push_back({"anna", "WS-01", "browser.exe", "Web Browser", "Tab " + std::to_string(i) + " of a long day",
                           1'700'000'000'000 + static_cast<std::int64_t>(i) * 10,
                           static_cast<std::int64_t>((i * 7919) % 3'600'000) + 1, static_cast<std::int64_t>(i % 97),
                           static_cast<std::int64_t>(i % 89)});
    qv::test::WriteRecords(store, records);
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<std::size_t> sizes = {1000, 10'000, 100'000};
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rows") == 0) {
            sizes.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::stoull(item));
        }

    TempDir dir;
    HiveStore hive(dir.File("user.reg"));
    BenchHost host;
    for (std::size_t size : sizes) {
        const std::string store = dir.File("titles" + std::to_string(size) + ".db");
        WriteTitles(store, size);
        qv::test::LocalService service(qv::test::StoreOptions(store));
        CQVViewerDoc doc(hive);
        doc.SetHost(&host);
        ActivationResult activation = ActivateQuorvisService(service.Address());
        if (activation.hr < 0) {
            std::fprintf(stderr, "cannot activate: %s\n", activation.description.c_str());
            return 1;
        }
        doc.SetService(std::make_unique<RemoteQVQuery>(activation.object));
        CRightView view(&host);
        view.resize(1000, 800);
        view.OnInitialUpdate();

        // Ids of a fresh store: the first of each.
        CProgramObject program(1, "browser.exe");
        CAppUserObject user(1, "anna", &program);
        QueryRequest request;
        user.FillQueryKey(request);
        const std::size_t rows = ReadOnly(doc.Service(), request);  // warms the service
        const double query = BestTime([&] { ReadOnly(doc.Service(), request); });

        const std::size_t heapBefore = HeapInUse();
        double report = Time([&] { user.CreateReport(); });
        const std::size_t heapAfter = HeapInUse();
        report = std::min(report, BestTime([&] { view.RunReport(*user.Report()); }));
        std::printf("%7zu rows: report %.3f s, query alone %.3f s, ratio %.2f (goal: at most 2); %.0f bytes per row\n",
                    rows, report, query, report / query,
                    static_cast<double>(heapAfter - heapBefore) / static_cast<double>(std::max<std::size_t>(rows, 1)));
        if (size != sizes.back()) continue;

        // Each column both ways from the order added (by time spent, so the
        // names and counts arrive shuffled), best of three.
        CQVGrid& grid = *view.Grid();
        const auto sortTime = [&grid](int column, bool ascending) {
            double best = 1e9;
            for (int round = 0; round < 3; ++round) {
                grid.Sort(-1);
                best = std::min(best, Time([&] { grid.Sort(column, ascending); }));
            }
            return best;
        };
        for (int column = 0; column < grid.GetColumnCount(); ++column) {
            const double up = sortTime(column, true), down = sortTime(column, false);
            std::printf("%7zu rows: sort by %s %.3f s ascending, %.3f s descending (goal: under 0.2)\n", rows,
                        qPrintable(grid.GetColumnName(column)), up, down);
        }
        grid.Sort(-1);
        const double exportTime = Time([&] {
            CHTMLTableExp writer(QString::fromStdString(dir.File("report.htm")), QStringLiteral("Bench"));
            WriteGridTable(writer, grid, TableLayout::Html);
            writer.Close();
        });
        std::printf("%7zu rows: HTML export %.3f s, ratio to the report %.2f (goal: at most 0.5)\n", rows, exportTime,
                    exportTime / report);
        user.DeleteReport();
    }
    return 0;
}
