#include "trees/tree_object.h"

#include "service/qv_viewer_doc.h"
#include "trees/tree_loaders.h"

#include <QTreeWidgetItem>
#include <QVariant>

namespace {

// The data word lives in the first column's user role.
constexpr int kObjectRole = Qt::UserRole;

template <typename Loader>
bool LoadWith(Loader loader, QTreeWidgetItem* item) {
    CQVViewerDoc* doc = TheDocument();
    if (!doc) return false;
    return loader(*doc, item);
}

std::int32_t KindWord(QueryKind kind) { return static_cast<std::int32_t>(kind); }

}  // namespace

CTreeObject::CTreeObject(quint32 id, QString name, CTreeObject* parent)
    : id_(id), name_(std::move(name)), parent_(parent) {}

// A report still held here has no other owner, so it goes with the object.
CTreeObject::~CTreeObject() = default;

void CTreeObject::SetReport(QObject* report) { report_.reset(report); }

void CTreeObject::DeleteReport() { report_.reset(); }

void CTreeObject::CreateReport() {
    IReportMaker* maker = ReportMaker();
    if (!maker) return;
    SetReport(maker->MakeReport(KindOfReport(), *this));
    if (QObject* report = Report()) maker->RunReport(*report);
}

void CTreeObject::FillQueryKey(QueryRequest&) const {}

bool CUserObject::LoadChildren(QTreeWidgetItem* item) { return LoadWith(LoadUserComputers, item); }

bool CComputerObject::LoadChildren(QTreeWidgetItem* item) { return LoadWith(LoadUserComputerPrograms, item); }

void CComputerObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::Programs);
    request.computerId = Id();
    if (ParentObject()) request.userId = ParentObject()->Id();
}

bool CApplicationObject::LoadChildren(QTreeWidgetItem*) { return true; }

void CApplicationObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::ProgramDetails);
    request.programId = Id();
    if (const CTreeObject* computer = ParentObject()) {
        request.computerId = computer->Id();
        if (const CTreeObject* user = computer->ParentObject()) request.userId = user->Id();
    }
}

bool CWorkstationObject::LoadChildren(QTreeWidgetItem* item) { return LoadWith(LoadComputerUsers, item); }

bool CCompUserObject::LoadChildren(QTreeWidgetItem* item) { return LoadWith(LoadComputerUserPrograms, item); }

void CCompUserObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::Programs);
    if (ParentObject()) request.computerId = ParentObject()->Id();
    request.userId = Id();
}

void CWsUsApplicationObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::ProgramDetails);
    request.programId = Id();
    if (const CTreeObject* user = ParentObject()) {
        request.userId = user->Id();
        if (const CTreeObject* computer = user->ParentObject()) request.computerId = computer->Id();
    }
}

bool CProgramObject::LoadChildren(QTreeWidgetItem* item) { return LoadWith(LoadProgramUsers, item); }

void CProgramObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::Users);
    request.programId = Id();
}

bool CAppUserObject::LoadChildren(QTreeWidgetItem*) { return true; }

void CAppUserObject::FillQueryKey(QueryRequest& request) const {
    request.kind = KindWord(QueryKind::ProgramDetails);
    request.userId = Id();
    if (ParentObject()) request.programId = ParentObject()->Id();
}

CTreeObject* TreeObjectOf(const QTreeWidgetItem* item) {
    if (!item) return nullptr;
    return static_cast<CTreeObject*>(item->data(0, kObjectRole).value<void*>());
}

void SetTreeObject(QTreeWidgetItem* item, CTreeObject* object) {
    if (!item) return;
    if (object)
        item->setData(0, kObjectRole, QVariant::fromValue(static_cast<void*>(object)));
    else
        item->setData(0, kObjectRole, QVariant());
}
