#include "reports/report_family.h"

#include "reports/qv_grid.h"
#include "reports/right_view.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/qv_viewer_doc.h"
#include "trees/tree_object.h"

#include <QLabel>

#include <optional>

namespace {

QPixmap LargeImage(CQVViewerDoc& doc, int index) {
    const QList<QPixmap>& images = doc.LargeImages();
    return index >= 0 && index < images.size() ? images[index] : QPixmap();
}

QPixmap SmallImage(CQVViewerDoc& doc, int index) {
    const QList<QPixmap>& images = doc.SmallImages();
    return index >= 0 && index < images.size() ? images[index] : QPixmap();
}

std::optional<ProgramInfo> LookUpProgram(CQVViewerDoc& doc, quint32 programId) {
    ProgramInfo info;
    info.id = programId;
    if (!doc.GetProgramInfo(info)) return std::nullopt;
    return info;
}

// The program's own large icon, else the default program icon.
QPixmap ProgramIcon(CQVViewerDoc& doc, const std::optional<ProgramInfo>& program) {
    const int index = program ? program->largeImage : -1;
    return LargeImage(doc, index >= 0 ? index : doc.GetLargeImageIndex(kIdiProgram));
}

QueryRequest KeyOf(const CTreeObject& item) {
    QueryRequest request;
    item.FillQueryKey(request);
    return request;
}

QueryRequest EntityRequest(QueryKind kind, quint32 computerId, quint32 userId) {
    QueryRequest request;
    request.kind = static_cast<std::int32_t>(kind);
    request.computerId = computerId;
    request.userId = userId;
    return request;
}

}  // namespace

void CUserReport::Generate(int unused) {
    CReport::Generate(unused);
    CQVViewerDoc* doc = TheDocument();
    if (!doc) return;
    View()->CaptionIcon()->setPixmap(LargeImage(*doc, doc->GetLargeImageIndex(kIdiUser)));
    if (!doc->Service()) return;
    InsertNameColumns(kIdsComputer, kNameWidth);
    ShowCaptionText(Item()->Name());
    FillNameRows(EntityRequest(QueryKind::Computers, 0, Item()->Id()));
}

void CWorkstationReport::Generate(int unused) {
    CReport::Generate(unused);
    CQVViewerDoc* doc = TheDocument();
    if (doc) View()->CaptionIcon()->setPixmap(LargeImage(*doc, doc->GetLargeImageIndex(kIdiComputer)));
    if (!doc || !doc->Service()) return;
    InsertNameColumns(kIdsUserName, kNameWidth);
    ShowCaptionText(Item()->Name());
    FillNameRows(EntityRequest(QueryKind::Users, Item()->Id(), 0));
}

void CComputerReport::Generate(int unused) {
    CReport::Generate(unused);
    CQVViewerDoc* doc = TheDocument();
    if (doc) View()->CaptionIcon()->setPixmap(LargeImage(*doc, doc->GetLargeImageIndex(kIdiComputer)));
    const CTreeObject* parent = Item()->ParentObject();
    if (!parent) return;
    if (doc) ShowCaptionText(FormatResString(kIdsComputerCaption, {parent->Name(), Item()->Name()}));
    InsertColumns({{kIdsProgramName, kWideNameWidth},
                   {kIdsProcess, kNameWidth},
                   {kIdsTimeSpent, kNumberWidth},
                   {kIdsKeyboardEvents, kNumberWidth},
                   {kIdsMouseEvents, kNumberWidth}});
    IQVQuery* service = doc ? doc->Service() : nullptr;
    if (!service) return;
    QueryRequest request = KeyOf(*Item());
    FillRows(*service, request, 2, [doc](CGridRow& row, qint32 id, const QString& name) {
        QString label = name;
        if (const std::optional<ProgramInfo> program = LookUpProgram(*doc, static_cast<quint32>(id))) {
            label = program->description;
            row.ReplaceItem(0, std::make_unique<CIconGridItem>(label, SmallImage(*doc, program->smallImage)));
        } else {
            row.ReplaceItem(0, std::make_unique<CGridItem>(name));
        }
        row.ReplaceItem(1, std::make_unique<CGridItem>(name));
        return label;
    });
}

void CProgramReport::Generate(int unused) {
    CReport::Generate(unused);
    CQVViewerDoc* doc = TheDocument();
    if (doc) {
        const std::optional<ProgramInfo> program = LookUpProgram(*doc, Item()->Id());
        ShowCaption(ProgramIcon(*doc, program),
                    FormatResText(QStringLiteral("%s (%s)"), {program ? program->description : QString(),
                                                              program ? program->processName : QString()}));
    }
    InsertNameColumns(kIdsUserName, kNameWidth);
    FillNameRows(KeyOf(*Item()));
}

void CApplicationReport::Generate(int unused) {
    CReport::Generate(unused);
    const CTreeObject* parent = Item()->ParentObject();
    if (!parent) return;
    CQVViewerDoc* doc = TheDocument();
    if (doc) {
        const CTreeObject* grandparent = parent->ParentObject();
        ShowCaption(ProgramIcon(*doc, LookUpProgram(*doc, Item()->Id())),
                    FormatResString(kIdsApplicationCaption,
                                    {Item()->Name(), grandparent ? grandparent->Name() : QString(), parent->Name()}));
    }
    InsertNameColumns(kIdsWindowTitle, kWideNameWidth);
    FillNameRows(KeyOf(*Item()));
}

void CAppUserReport::Generate(int unused) {
    CReport::Generate(unused);
    CQVViewerDoc* doc = TheDocument();
    const CTreeObject* program = Item()->ParentObject();
    if (doc) {
        const std::optional<ProgramInfo> info = program ? LookUpProgram(*doc, program->Id()) : std::nullopt;
        ShowCaption(ProgramIcon(*doc, info),
                    FormatResString(kIdsAppUserCaption, {info ? info->description : QString(), Item()->Name()}));
    }
    InsertNameColumns(kIdsWindowTitle, kWideNameWidth);
    FillNameRows(KeyOf(*Item()));
}
