#include "cli/report_command.h"

#include "app/period_rules.h"
#include "export/csv_table_export.h"
#include "export/html_table_exp.h"
#include "platform/hive_store.h"
#include "platform/ole_date.h"
#include "platform/remote_activation.h"
#include "reports/grid_export.h"
#include "reports/qv_grid.h"
#include "reports/report_host.h"
#include "reports/right_view.h"
#include "service/document_host.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/viewer_settings.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include "foundation/debug_stream.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

namespace {

// Names and reasons come from the store and the network: a control
// character in them must not reach the terminal as one. It is escaped as
// the service's log escapes it (\x1B), beyond Latin-1 as \uHHHH.
QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toStdU32String()) {
        switch (QChar::category(c)) {
            case QChar::Other_Control:
            case QChar::Other_Format:
            case QChar::Separator_Line:
            case QChar::Separator_Paragraph:
                out += QLatin1String(c < 0x100 ? "\\x" : "\\u") +
                       QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(c < 0x100 ? 2 : 4, u'0');
                break;
            default: out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

void Say(const QString& text) { std::fprintf(stderr, "qvreport: %s\n", Printable(text).toLocal8Bit().constData()); }

// The frame's part for the document: three trees, each filled by its
// top-level loader when the document asks.
class CommandTrees : public IDocumentHost {
public:
    explicit CommandTrees(CQVViewerDoc& doc) : doc_(doc) {}
    ~CommandTrees() override {
        for (QTreeWidget& tree : trees_) ClearTreeObjects(tree);
    }
    QTreeWidget* Tree(TreeId id) override { return &trees_[id]; }
    void RefreshRoot(TreeId id) override {
        ClearTreeObjects(trees_[id]);
        if (id == Users) LoadUsersTop(doc_, trees_[id]);
        if (id == Computers) LoadComputersTop(doc_, trees_[id]);
        if (id == Applications) LoadApplicationsTop(doc_, trees_[id]);
        // A loader leaves its tree empty when an answer fails; the reason is
        // the service object's, while the document still holds it.
        if (const IQVQuery* service = doc_.Service(); service && !service->ErrorDescription().empty())
            failure_ = QString::fromStdString(service->ErrorDescription());
    }
    // Why the last failed tree load failed; empty when none did.
    const QString& Failure() const { return failure_; }
    void ResetCurrentObject(TreeId) override {}
    void PostCommand(int) override {}

private:
    CQVViewerDoc& doc_;
    QTreeWidget trees_[3];
    QString failure_;
};

// The report view's host: the period of the command line.
class CommandPeriod : public IReportHost {
public:
    explicit CommandPeriod(const ReportOptions& options) {
        period_.type = options.periodType;
        period_.start = options.from;
        period_.end = options.to;
        period_.startStatus = period_.endStatus = kDateValid;
    }
    bool GetPeriod(ReportPeriod& period) override {
        RecomputePeriod(period_, OleDateNow());
        period = period_;
        return true;
    }
    bool SetPeriod(const ReportPeriod& period) override {
        period_ = period;
        return true;
    }
    CTreeObject* GetSelectedObject() override { return nullptr; }
    void SelectFirstItem() override {}
    void SelectChildById(quint32) override {}

private:
    ReportPeriod period_;
};

IDocumentHost::TreeId TreeOf(ReportTree tree) {
    switch (tree) {
        case ReportTree::Users: return IDocumentHost::Users;
        case ReportTree::Computers: return IDocumentHost::Computers;
        case ReportTree::Applications: return IDocumentHost::Applications;
    }
    return IDocumentHost::Users;
}

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text, QStringList& seen) {
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* child = parent->child(i);
        seen << child->text(0);
        if (child->text(0) == text) return child;
    }
    return nullptr;
}

// Why the service's last answer failed, as ": reason"; empty when it did not.
QString ServiceReason(const CQVViewerDoc& doc) {
    const IQVQuery* service = doc.Service();
    if (!service || service->ErrorDescription().empty()) return {};
    return QStringLiteral(": ") + QString::fromStdString(service->ErrorDescription());
}

// Walks the path from the top level, loading each level on the way.
CTreeObject* FindItem(QTreeWidget& tree, const QStringList& path, const CQVViewerDoc& doc) {
    QTreeWidgetItem* item = tree.invisibleRootItem();
    QStringList walked;
    for (const QString& element : path) {
        if (item != tree.invisibleRootItem()) {
            CTreeObject* object = TreeObjectOf(item);
            if (!object || !object->LoadChildren(item)) {
                Say(QStringLiteral("cannot load the items under \"%1\"%2").arg(walked.join('/'), ServiceReason(doc)));
                return nullptr;
            }
        }
        QStringList seen;
        QTreeWidgetItem* child = ChildNamed(item, element, seen);
        if (!child) {
            Say(QStringLiteral("no item \"%1\" under \"%2\"; there are: %3")
                    .arg(element, walked.isEmpty() ? QStringLiteral("the top level") : walked.join('/'),
                         seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", "))));
            return nullptr;
        }
        walked << element;
        item = child;
    }
    return TreeObjectOf(item);
}

bool Write(CTableExport& writer, const CGridCtrl& grid, TableLayout layout) {
    WriteGridTable(writer, grid, layout);
    writer.Close();
    if (!writer.Succeeded()) Say(writer.ErrorText());
    return writer.Succeeded();
}

}  // namespace

int RunReportCommand(const ReportOptions& options) {
    QTemporaryDir settings;
    if (!settings.isValid()) {
        Say(QStringLiteral("cannot make a temporary folder: %1").arg(settings.errorString()));
        return kExitFailed;
    }
    // The viewer's own settings stay untouched: the server lives in a
    // hive of this run's own.
    HiveStore hive(settings.filePath(QStringLiteral("user.reg")).toStdString());
    WriteServerName(hive, options.server.toStdU16String());
    WriteTlsSettings(
        hive, {QFile::encodeName(options.tlsCaFile).toStdString(), QFile::encodeName(options.tlsCertFile).toStdString(),
               QFile::encodeName(options.tlsKeyFile).toStdString()});

    CQVViewerDoc doc(hive);
    QObject::connect(&doc, &CQVViewerDoc::Warning, [](const QString& text) { Say("warning: " + text); });
    int failures = 0;
    SetMessageHandler([&failures, &doc](const QString& text, MessageIcon, int) {
        ++failures;
        // Why a connection failed goes on the same line as its message.
        const QString reason = QString::fromStdString(doc.ConnectFailure());
        Say(reason.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, reason));
        return 0;
    });
    struct RestoreMessages {
        ~RestoreMessages() { SetMessageHandler({}); }
    } restore;

    CommandPeriod period(options);
    CRightView view(&period);
    // Declared after the view: the trees' objects take their reports
    // along, and a report lets go of the view's grid.
    CommandTrees trees(doc);
    doc.SetHost(&trees);
    doc.Connect();
    // A tree whose load failed is empty: walking it would call the failure a missing item.
    if (failures || !doc.Service() || !trees.Failure().isEmpty()) {
        if (!failures && trees.Failure().isEmpty())
            Say(QStringLiteral("the Quorvis Service on \"%1\" did not answer").arg(options.server));
        else if (!failures)
            Say(QStringLiteral("the Quorvis Service on \"%1\" could not list its items: %2")
                    .arg(options.server, trees.Failure()));
        return kExitFailed;
    }
    CTreeObject* object = FindItem(*trees.Tree(TreeOf(options.tree)), options.path, doc);
    if (!object || failures) return kExitFailed;
    object->CreateReport();
    if (failures || !object->Report()) return kExitFailed;

    const QString title = view.CaptionLine()->text();
    bool written = true;
    if (!options.htmlFile.isEmpty()) {
        CHTMLTableExp html(options.htmlFile, title);
        written = Write(html, *view.Grid(), TableLayout::Html) && written;
    }
    if (!options.csvFile.isEmpty()) {
        CCsvTableExport csv(options.csvFile);
        written = Write(csv, *view.Grid(), TableLayout::Csv) && written;
    }
    object->DeleteReport();
    return written ? kExitWritten : kExitFailed;
}

int ReportMain(int argc, char** argv) {
    // Read before the application exists, so that --help and --version
    // start no platform.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedOptions parsed = ParseReportOptions(arguments);
    if (!parsed.options) {
        Say(parsed.error);
        std::fputs(ReportUsage().toLocal8Bit().constData(), stderr);
        return kExitUsage;
    }
    if (parsed.options->help) {
        std::fputs(ReportUsage().toLocal8Bit().constData(), stdout);
        return kExitWritten;
    }
    if (parsed.options->version) {
        std::fputs("qvreport " QVVIEWER_VERSION "\n", stdout);
        return kExitWritten;
    }
    // A report program needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Every failure is one line on standard error, with its reason: the
    // viewer's trace and the transport's log would say it again.
    TraceStream.RemoveAllWriters();
    SilenceTransportLog();
    return RunReportCommand(*parsed.options);
}
