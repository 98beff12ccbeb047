#include "trees/tree_loaders.h"

#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "service/qv_viewer_doc.h"
#include "service/recordset_reader.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include <QIcon>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int kImageIndexRole = Qt::UserRole + 1;
constexpr char kNameSort[] = "Name Asc";

// Disconnect empties the trees through this walk. Registered here, where the
// trees are filled, so it is in place whenever a tree holds objects.
[[maybe_unused]] const bool kTreeReleaseRegistered = [] {
    SetTreeRelease([](QTreeWidget& tree) { ClearTreeObjects(tree); });
    return true;
}();

enum class OnError { KeepService, ReleaseService };

using MakeObject = std::function<std::unique_ptr<CTreeObject>(quint32 id, QString text)>;

struct LoaderRule {
    QueryRequest request;
    const char* countField = nullptr;  // null: every item without an expand mark
    std::optional<unsigned> image;     // unset: a program row (text and image by GetProgramInfo)
    MakeObject make;
    OnError onError = OnError::KeepService;
};

QueryRequest Request(QueryKind kind, quint32 computerId = 0, quint32 userId = 0, quint32 programId = 0) {
    QueryRequest request;
    request.kind = static_cast<std::int32_t>(kind);
    request.computerId = computerId;
    request.userId = userId;
    request.programId = programId;
    return request;
}

void SetImage(QTreeWidgetItem& item, const CQVViewerDoc& doc, int index) {
    item.setData(0, kImageIndexRole, index);
    if (index < 0 || index >= doc.SmallImages().size()) return;
    // The same image when selected, as the tree's image list shows it.
    QIcon icon;
    icon.addPixmap(doc.SmallImages()[index], QIcon::Normal);
    icon.addPixmap(doc.SmallImages()[index], QIcon::Selected);
    item.setIcon(0, icon);
}

// Reads the rows into new items (unparented, so that the view takes them in
// one insertion). Items made before a data-access error stay in `items`.
void ReadRows(CQVViewerDoc& doc, const LoaderRule& rule, QList<QTreeWidgetItem*>& items) {
    RecordsetReader reader(RunQuery(doc.Service(), rule.request));
    reader.SetSort(kNameSort);
    std::optional<Field> count;
    if (rule.countField) count = reader.GetField(rule.countField);
    const Field name = reader.GetField("Name");
    const Field id = reader.GetField("ID");
    for (; !reader.IsEOF(); reader.MoveNext()) {
        const auto objectId = static_cast<quint32>(GetFieldInt(id));
        QString text;
        int image = -1;
        if (rule.image) {
            text = QString::fromStdU16String(GetFieldString(name));
            image = doc.GetSmallImageIndex(*rule.image);
        } else {
            ProgramInfo info;
            info.id = objectId;
            if (doc.GetProgramInfo(info)) {
                text = info.description;
                image = info.smallImage;
            } else {
                text = QString::fromStdU16String(GetFieldString(name));
                image = doc.GetSmallImageIndex(kIdiProgram);
            }
        }
        const int children = count ? GetFieldInt(*count) : 0;
        std::unique_ptr<CTreeObject> object = rule.make(objectId, text);
        auto item = std::make_unique<QTreeWidgetItem>(QStringList{text});
        SetImage(*item, doc, image);
        item->setChildIndicatorPolicy(children != 0 ? QTreeWidgetItem::ShowIndicator
                                                    : QTreeWidgetItem::DontShowIndicator);
        SetTreeObject(item.get(), object.release());
        items.append(item.release());
    }
}

// Runs the rule and appends the items under `parent` (top level when null);
// false after a data-access error, which ends the loader as its rule says.
bool Load(CQVViewerDoc& doc, const LoaderRule& rule, QTreeWidget* tree, QTreeWidgetItem* parent) {
    QList<QTreeWidgetItem*> items;
    bool ok = true;
    try {
        ReadRows(doc, rule, items);
    } catch (const DataAccessError&) {
        if (rule.onError == OnError::ReleaseService) doc.ReleaseService();
        ok = false;
    }
    if (parent)
        parent->addChildren(items);
    else
        tree->addTopLevelItems(items);
    return ok;
}

void LoadTop(CQVViewerDoc& doc, QTreeWidget& tree, LoaderRule rule) {
    if (!doc.Host()) return;
    tree.setIconSize(QSize(CQVViewerDoc::kSmallImageSize, CQVViewerDoc::kSmallImageSize));
    Load(doc, rule, &tree, nullptr);
}

// The object of a child loader's item; null when the loader must fail.
CTreeObject* ItemObject(const CQVViewerDoc& doc, QTreeWidgetItem* item) {
    if (!doc.Host() || !item) return nullptr;
    return TreeObjectOf(item);
}

quint32 ParentId(const CTreeObject& object) { return object.ParentObject() ? object.ParentObject()->Id() : 0; }

template <typename Kind>
MakeObject TopMaker() {
    return [](quint32 id, QString text) { return std::make_unique<Kind>(id, std::move(text)); };
}

template <typename Kind>
MakeObject ChildMaker(CTreeObject* parent) {
    return [parent](quint32 id, QString text) { return std::make_unique<Kind>(id, std::move(text), parent); };
}

}  // namespace

void LoadUsersTop(CQVViewerDoc& doc, QTreeWidget& tree) {
    LoadTop(doc, tree, {Request(QueryKind::Users), "Computers", kIdiUser, TopMaker<CUserObject>()});
}

void LoadComputersTop(CQVViewerDoc& doc, QTreeWidget& tree) {
    LoadTop(doc, tree, {Request(QueryKind::Computers), "Users", kIdiComputer, TopMaker<CWorkstationObject>()});
}

void LoadApplicationsTop(CQVViewerDoc& doc, QTreeWidget& tree) {
    LoadTop(doc, tree,
            {Request(QueryKind::Programs), "Users", std::nullopt, TopMaker<CProgramObject>(), OnError::ReleaseService});
}

bool LoadUserComputers(CQVViewerDoc& doc, QTreeWidgetItem* item) {
    CTreeObject* user = ItemObject(doc, item);
    if (!user) return false;
    return Load(doc,
                {Request(QueryKind::Computers, 0, user->Id()), "Processes", kIdiComputer,
                 ChildMaker<CComputerObject>(user), OnError::ReleaseService},
                nullptr, item);
}

bool LoadUserComputerPrograms(CQVViewerDoc& doc, QTreeWidgetItem* item) {
    CTreeObject* computer = ItemObject(doc, item);
    if (!computer) return false;
    return Load(doc,
                {Request(QueryKind::Programs, computer->Id(), ParentId(*computer)), nullptr, std::nullopt,
                 ChildMaker<CApplicationObject>(computer), OnError::KeepService},
                nullptr, item);
}

bool LoadComputerUsers(CQVViewerDoc& doc, QTreeWidgetItem* item) {
    CTreeObject* computer = ItemObject(doc, item);
    if (!computer) return false;
    return Load(doc,
                {Request(QueryKind::Users, computer->Id()), "Processes", kIdiUser,
                 ChildMaker<CCompUserObject>(computer), OnError::ReleaseService},
                nullptr, item);
}

bool LoadComputerUserPrograms(CQVViewerDoc& doc, QTreeWidgetItem* item) {
    CTreeObject* user = ItemObject(doc, item);
    if (!user) return false;
    return Load(doc,
                {Request(QueryKind::Programs, ParentId(*user), user->Id()), nullptr, std::nullopt,
                 ChildMaker<CWsUsApplicationObject>(user), OnError::ReleaseService},
                nullptr, item);
}

bool LoadProgramUsers(CQVViewerDoc& doc, QTreeWidgetItem* item) {
    CTreeObject* program = ItemObject(doc, item);
    if (!program) return false;
    return Load(doc,
                {Request(QueryKind::Users, 0, 0, program->Id()), nullptr, kIdiUser, ChildMaker<CAppUserObject>(program),
                 OnError::ReleaseService},
                nullptr, item);
}

int TreeImageIndex(const QTreeWidgetItem* item) {
    if (!item) return -1;
    const QVariant index = item->data(0, kImageIndexRole);
    return index.isValid() ? index.toInt() : -1;
}
