#pragma once
// CQVViewerDoc: the application's single document. It holds no file data;
// it is the link to the Quorvis Service: it activates the service's object on
// the server named in the settings, holds the interface through which the
// tree loaders and the reports query, and keeps the two image lists and the
// three caches that trees and reports share, from Connect to Disconnect.
#include "platform/remote_activation.h"
#include "service/document_host.h"
#include "service/qv_query.h"

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

class HiveStore;
class QTreeWidget;

// A program's display text and images, as GetProgramInfo gives them.
struct ProgramInfo {
    quint32 id = 0;  // set by the caller: the cache key
    QString processName;
    QString description;  // the process name when the service gave none
    int smallImage = -1;  // index in the small list; -1: no image
    int largeImage = -1;  // index in the large list
};

class CQVViewerDoc : public QObject {
    Q_OBJECT

public:
    static constexpr int kSmallImageSize = 16;
    static constexpr int kLargeImageSize = 32;

    // How Connect activates the service on a server name (UTF-8); tests
    // replace it. The default asks the named server for IQVQuery.
    using Activator = std::function<ActivationResult(std::string_view serverName)>;

    // The hive holds the server name; it must outlive the document.
    explicit CQVViewerDoc(HiveStore& hive, QObject* parent = nullptr);
    ~CQVViewerDoc() override;

    // The main frame; null until the frame exists. Not owned.
    void SetHost(IDocumentHost* host) { host_ = host; }
    IDocumentHost* Host() const { return host_; }

    // The new-document step: false without a main frame; else Connect.
    bool OnNewDocument();
    // Reads the server name and its TLS files and activates the service;
    // everything it has to say it says in message boxes, and why a
    // connection failed also in the trace.
    void Connect();
    // Drops the image lists and caches and empties the three trees; the
    // service interface stays.
    void Disconnect();

    // Null when not connected (every query then fails with 0x80004003).
    IQVQuery* Service() const { return service_.get(); }
    void SetService(std::unique_ptr<IQVQuery> service);
    // The loaders' rule after a data-access error: forget the interface.
    void ReleaseService() { service_.reset(); }
    void SetActivator(Activator activator);
    // Why the last Connect failed, in the failing side's words; empty after
    // a connection.
    const std::string& ConnectFailure() const { return connectFailure_; }

    // Image index of an icon resource in each list (-1: none), added once.
    int GetSmallImageIndex(unsigned resId);
    int GetLargeImageIndex(unsigned resId);
    // On true the record's other fields are filled; one service call per
    // program until the next Disconnect. After a failed call no further call
    // is made (so a stalled service costs one wait, not one per program)
    // until ResumeProgramInfo or the next Connect; cached programs still
    // answer.
    bool GetProgramInfo(ProgramInfo& info);
    // Refresh: the operator asks for the service again.
    void ResumeProgramInfo() { programInfoHalted_ = false; }
    bool ProgramInfoHalted() const { return programInfoHalted_; }

    // Indexed pixmap lists, 16 and 32 pixels square; empty without lists.
    const QList<QPixmap>& SmallImages() const { return smallImages_; }
    const QList<QPixmap>& LargeImages() const { return largeImages_; }
    bool HasImageLists() const { return listsMade_; }

signals:
    // Something the operator should know that stops nothing (a private key
    // file others can read); each text once in the document's life.
    void Warning(const QString& text);
    // A Connect activated the service and refilled the trees.
    void Connected();

private:
    void WarnOnce(const std::string& text);
    void DropImagesAndCaches();
    void TakeService(const std::shared_ptr<RemoteObject>& object);
    int ImageIndex(unsigned resId, int size, QList<QPixmap>& list, std::map<quint32, int>& cache);
    int AppendImage(QList<QPixmap>& list, int size, const QPixmap& image);
    bool ReadProgramInfo(ProgramInfo& info);

    HiveStore& hive_;
    IDocumentHost* host_ = nullptr;  // not owned
    Activator activator_;
    ChannelSecurity security_;  // read by Connect for the default activator
    std::string connectFailure_;
    std::set<std::string> warned_;
    std::unique_ptr<IQVQuery> service_;
    bool listsMade_ = false;
    QList<QPixmap> smallImages_;
    QList<QPixmap> largeImages_;
    std::map<quint32, int> smallIconCache_;
    std::map<quint32, int> largeIconCache_;
    std::map<quint32, ProgramInfo> programCache_;
    bool programInfoHalted_ = false;
};

// The application's one document; null while none exists.
CQVViewerDoc* TheDocument();

// How Disconnect empties a tree: destroys every item's report and object,
// depth first, clears the items' data and deletes the items. The trees
// library registers it (service cannot reach tree items).
using TreeRelease = std::function<void(QTreeWidget&)>;
void SetTreeRelease(TreeRelease release);
