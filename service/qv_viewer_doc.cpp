#include "service/qv_viewer_doc.h"

#include "foundation/debug_stream.h"
#include "platform/hresult_text.h"
#include "platform/utf.h"
#include "proto/qv_contract.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "service/icon_image.h"
#include "service/message_box.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "service/scoped_wait_cursor.h"
#include "service/ui_call_waiter.h"
#include "service/viewer_settings.h"

#include <QPainter>

namespace {

CQVViewerDoc* theDocument = nullptr;

TreeRelease& TreeReleaseHook() {
    static TreeRelease release;
    return release;
}

// The trees in the order in which Connect fills them, and in which
// Disconnect empties them.
constexpr IDocumentHost::TreeId kFillOrder[] = {IDocumentHost::Users, IDocumentHost::Computers,
                                                IDocumentHost::Applications};
constexpr IDocumentHost::TreeId kClearOrder[] = {IDocumentHost::Computers, IDocumentHost::Users,
                                                 IDocumentHost::Applications};

// Why the activation failed, in the words of the string table.
QString ActivationFailureText(HRESULT hr, const QString& server) {
    switch (static_cast<std::uint32_t>(hr)) {
        case 0x8001011B: return FormatResString(kIdsAccessDenied, {server});
        case 0x80040154: return FormatResString(kIdsNotInstalled, {server});
        case 0x800706BA: return FormatResString(kIdsNotAvailable, {server});
        default: return FormatResString(kIdsConnectFailed, {server, QString::fromUtf8(HResultText(hr))});
    }
}

// The picture centred on a transparent square of the list's size, as an
// image list stretches every icon to its own size.
QPixmap ListPicture(const QPixmap& picture, int size) {
    if (picture.width() == size && picture.height() == size) return picture;
    QPixmap square(size, size);
    square.fill(Qt::transparent);
    const QPixmap scaled = picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawPixmap((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    return square;
}

}  // namespace

CQVViewerDoc::CQVViewerDoc(HiveStore& hive, QObject* parent)
    : QObject(parent),
      hive_(hive),
      activator_([this](std::string_view server) { return ActivateQuorvisService(server, {}, security_); }) {
    theDocument = this;
    InstallUiCallWaiter();
}

CQVViewerDoc::~CQVViewerDoc() {
    if (theDocument == this) {
        theDocument = nullptr;
        RemoveUiCallWaiter();
    }
}

bool CQVViewerDoc::OnNewDocument() {
    if (!host_) return false;
    Connect();
    return true;
}

void CQVViewerDoc::SetService(std::unique_ptr<IQVQuery> service) { service_ = std::move(service); }

void CQVViewerDoc::SetActivator(Activator activator) { activator_ = std::move(activator); }

void CQVViewerDoc::Connect() {
    if (!host_) return;
    const QString server = QString::fromStdU16String(ReadServerName(hive_));
    if (server.isEmpty()) {
        ShowMessage(LoadResString(kIdsServerNotSet), MessageIcon::Exclamation);
        host_->PostCommand(static_cast<int>(kIdToolsOptions));
        return;
    }
    // New lists and caches for this connection: the old indexes and programs
    // belong to another server.
    DropImagesAndCaches();
    listsMade_ = true;
    programInfoHalted_ = false;
    connectFailure_.clear();
    // Files that cannot serve fail the connection as an activation would,
    // never falling back to plain text.
    const TlsFilesCheck tls = ReadTlsFiles(ReadTlsSettings(hive_), security_);
    WarnOnce(tls.warning);

    QString failure;
    MessageIcon icon = MessageIcon::Error;
    bool connected = false;
    {
        ScopedWaitCursor wait;
        try {
            const ScopedCallPurpose purpose(QStringLiteral("connecting to %1").arg(server));
            const ActivationResult activation = Failed(tls.hr) ? ActivationResult{tls.hr, tls.problem, nullptr}
                                                               : activator_(Utf16ToUtf8(server.toStdU16String()));
            if (ServiceCallsAbandoned()) return;  // the viewer is closing: nobody waits for the answer
            if (Failed(activation.hr) && activation.hr != E_NOINTERFACE) {
                // Earlier state stays: the interface held before and the trees.
                failure = ActivationFailureText(activation.hr, server);
                connectFailure_ =
                    activation.description.empty() ? std::string(HResultText(activation.hr)) : activation.description;
            } else {
                TakeService(activation.hr == E_NOINTERFACE ? nullptr : activation.object);
                for (IDocumentHost::TreeId tree : kFillOrder) host_->RefreshRoot(tree);
                connected = true;
            }
        } catch (const DataAccessError& error) {
            service_.reset();
            failure = FormatResString(kIdsCannotConnect, {server});
            connectFailure_ = error.what();
            icon = MessageIcon::Exclamation;
        }
    }
    if (!connectFailure_.empty())
        TraceStream << "qvviewer: cannot connect to " << server.toStdString() << ": " << connectFailure_ << '\n';
    if (!failure.isEmpty()) ShowMessage(failure, icon);
    if (connected) emit Connected();
}

void CQVViewerDoc::WarnOnce(const std::string& text) {
    if (text.empty() || !warned_.insert(text).second) return;
    TraceStream << "qvviewer: " << text << '\n';
    emit Warning(QString::fromStdString(text));
}

// Asks the object for IQVQuery again. An object that does not offer it
// leaves the document without an interface and says nothing; any other
// failure is a data-access error.
void CQVViewerDoc::TakeService(const std::shared_ptr<RemoteObject>& object) {
    service_.reset();
    if (!object) return;
    std::string description;
    const HRESULT hr = object->QueryInterface(qv::contract::kQueryInterfaceId, description);
    if (hr == E_NOINTERFACE) return;
    CheckStatus(hr, description);
    service_ = std::make_unique<RemoteQVQuery>(object);
}

void CQVViewerDoc::Disconnect() {
    DropImagesAndCaches();
    if (!host_) return;
    for (IDocumentHost::TreeId id : kClearOrder) {
        QTreeWidget* tree = host_->Tree(id);
        if (!tree) continue;
        if (TreeReleaseHook()) TreeReleaseHook()(*tree);
        host_->ResetCurrentObject(id);
    }
}

void CQVViewerDoc::DropImagesAndCaches() {
    listsMade_ = false;
    smallImages_.clear();
    largeImages_.clear();
    smallIconCache_.clear();
    largeIconCache_.clear();
    programCache_.clear();
}

int CQVViewerDoc::GetSmallImageIndex(unsigned resId) {
    return ImageIndex(resId, kSmallImageSize, smallImages_, smallIconCache_);
}

int CQVViewerDoc::GetLargeImageIndex(unsigned resId) {
    return ImageIndex(resId, kLargeImageSize, largeImages_, largeIconCache_);
}

// Without lists (before Connect, after Disconnect) there is nothing to add
// to, and nothing is cached.
int CQVViewerDoc::ImageIndex(unsigned resId, int size, QList<QPixmap>& list, std::map<quint32, int>& cache) {
    if (!listsMade_) return -1;
    if (auto found = cache.find(resId); found != cache.end()) return found->second;
    const int index = AppendImage(list, size, LoadResIcon(resId, size));
    cache.emplace(resId, index);
    return index;
}

int CQVViewerDoc::AppendImage(QList<QPixmap>& list, int size, const QPixmap& image) {
    if (!listsMade_ || image.isNull()) return -1;
    list.append(ListPicture(image, size));
    return static_cast<int>(list.size() - 1);
}

bool CQVViewerDoc::GetProgramInfo(ProgramInfo& info) {
    if (auto found = programCache_.find(info.id); found != programCache_.end()) {
        info = found->second;
        return true;
    }
    if (programInfoHalted_) return false;
    try {
        return ReadProgramInfo(info);
    } catch (const DataAccessError&) {
        return false;
    }
}

bool CQVViewerDoc::ReadProgramInfo(ProgramInfo& info) {
    ProgramInfoRequest request;
    request.programId = info.id;
    RecordsetPtr answer;
    try {
        answer = RunProgramInfoQuery(service_.get(), request);
    } catch (const DataAccessError&) {
        // The call itself failed (an answer without a row does not count).
        programInfoHalted_ = true;
        throw;
    }
    RecordsetReader reader(std::move(answer));
    const Field description = reader.GetField("Description");
    const Field processName = reader.GetField("ProcessName");
    const Field icon = reader.GetField("Icon");
    // The first row is read without an end test: no row fails right here.
    ProgramInfo read;
    read.id = info.id;
    read.processName = QString::fromStdU16String(GetFieldString(processName));
    read.description = QString::fromStdU16String(GetFieldString(description));
    if (read.description.isEmpty()) read.description = read.processName;

    Variant raw;
    CheckStatus(icon.GetValue(raw), "cannot read the field \"Icon\"");
    std::optional<IconFileImages> images;
    if (raw.Type() == VT_BYTE_ARRAY) images = IconFileImages::Read(raw.ByteArray());
    if (images) {
        read.largeImage =
            AppendImage(largeImages_, kLargeImageSize, QPixmap::fromImage(images->ImageFor(kLargeImageSize)));
        read.smallImage =
            AppendImage(smallImages_, kSmallImageSize, QPixmap::fromImage(images->ImageFor(kSmallImageSize)));
    } else {
        // No icon, another type of value or bytes that are no sound icon file.
        read.smallImage = GetSmallImageIndex(kIdiProgram);
        read.largeImage = GetLargeImageIndex(kIdiProgram);
    }
    programCache_.emplace(info.id, read);
    info = read;
    return true;
}

CQVViewerDoc* TheDocument() { return theDocument; }

void SetTreeRelease(TreeRelease release) { TreeReleaseHook() = std::move(release); }
