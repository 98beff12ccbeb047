// Filling the trees from a local service: a top level of 5,000 users and the
// expansion of a program used by 10,000 users, each against the same query
// answered and read without inserting items. Prints items per second and
// the share the tree work adds.
//   tree_load_bench [--users N] [--children N]
#include "platform/hive_store.h"
#include "service/qv_viewer_doc.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "tests/support/test_support.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include <QApplication>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

class BenchHost : public IDocumentHost {
public:
    QTreeWidget* Tree(TreeId) override { return &tree; }
    void RefreshRoot(TreeId) override {}
    void ResetCurrentObject(TreeId) override {}
    void PostCommand(int) override {}
    QTreeWidget tree;
};

double Time(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::size_t CountRows(IQVQuery* service, const QueryRequest& request) {
    RecordsetReader reader(RunQuery(service, request));
    reader.SetSort("Name Asc");
    std::size_t rows = 0;
    Field name = reader.GetField("Name");
    Field id = reader.GetField("ID");
    for (; !reader.IsEOF(); reader.MoveNext(), ++rows) {
        GetFieldString(name);
        GetFieldInt(id);
    }
    return rows;
}

std::vector<qv::ActivityRecord> Users(std::size_t count, const std::string& process) {
    std::vector<qv::ActivityRecord> records;
    for (std::size_t i = 0; i < count; ++i)
        records.push_back({"user" + std::to_string(i), "pc-" + std::to_string(i % 50), process, process + " program",
                           "Main window", 1'735'689'600'000 + static_cast<std::int64_t>(i) * 1000, 60'000, 5, 5});
    return records;
}

void Report(const char* what, std::size_t items, double withTree, double queryOnly) {
    std::printf("%-28s %6zu items: %.3f s (%.0f items/s); the query alone %.3f s; ratio %.2f (goal: at most 2)\n", what,
                items, withTree, items / withTree, queryOnly, withTree / queryOnly);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::size_t users = 5000, children = 10'000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--users") == 0) users = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--children") == 0) children = std::strtoull(argv[i + 1], nullptr, 10);
    }
    TempDir dir;
    qv::test::WriteRecords(dir.File("top.db"), Users(users, "app.exe"));
    qv::test::WriteRecords(dir.File("wide.db"), Users(children, "big.exe"));
    HiveStore hive(dir.File("user.reg"));

    auto connect = [&](CQVViewerDoc& doc, const std::string& address) {
        ActivationResult activation = ActivateQuorvisService(address);
        if (activation.hr < 0) {
            std::fprintf(stderr, "cannot activate: %s\n", activation.description.c_str());
            std::exit(1);
        }
        doc.SetService(std::make_unique<RemoteQVQuery>(activation.object));
    };

    {
        qv::test::LocalService service(qv::test::StoreOptions(dir.File("top.db")));
        CQVViewerDoc doc(hive);
        BenchHost host;
        doc.SetHost(&host);
        connect(doc, service.Address());
        QueryRequest request;
        request.kind = static_cast<std::int32_t>(QueryKind::Users);
        CountRows(doc.Service(), request);  // warms the service's caches
        double query = Time([&] { CountRows(doc.Service(), request); });
        double tree = Time([&] { LoadUsersTop(doc, host.tree); });
        Report("Users, top level:", static_cast<std::size_t>(host.tree.topLevelItemCount()), tree, query);
        ClearTreeObjects(host.tree);
    }
    {
        qv::test::LocalService service(qv::test::StoreOptions(dir.File("wide.db")));
        CQVViewerDoc doc(hive);
        BenchHost host;
        doc.SetHost(&host);
        connect(doc, service.Address());
        LoadApplicationsTop(doc, host.tree);
        QTreeWidgetItem* program = host.tree.topLevelItem(0);
        QueryRequest request;
        request.kind = static_cast<std::int32_t>(QueryKind::Users);
        request.programId = TreeObjectOf(program)->Id();
        CountRows(doc.Service(), request);  // warms the service's caches
        double query = Time([&] { CountRows(doc.Service(), request); });
        double tree = Time([&] { LoadProgramUsers(doc, program); });
        Report("Applications, one program:", static_cast<std::size_t>(program->childCount()), tree, query);
        ClearTreeObjects(host.tree);
    }
    return 0;
}
