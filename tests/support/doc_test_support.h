#pragma once
// Pieces of the document's tests: a main frame that records what the document asks of it, a remote object with a chosen
// answer to the interface query, and the message boxes captured.
#include "platform/hive_store.h"
#include "platform/remote_activation.h"
#include "service/document_host.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/viewer_settings.h"
#include "tests/support/fake_qv_query.h"

#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace qv::test {

class RecordingHost : public IDocumentHost {
public:
    QTreeWidget* Tree(TreeId id) override { return tree ? tree(id) : nullptr; }
    void RefreshRoot(TreeId id) override {
        refreshed.push_back(id);
        if (refresh) refresh(id);
    }
    void ResetCurrentObject(TreeId id) override { reset.push_back(id); }
    void PostCommand(int commandId) override { posted.push_back(commandId); }

    std::function<QTreeWidget*(TreeId)> tree;
    std::function<void(TreeId)> refresh;
    std::vector<TreeId> refreshed;
    std::vector<TreeId> reset;
    std::vector<int> posted;
};

class AnsweringObject : public RemoteObject {
public:
    explicit AnsweringObject(HRESULT interfaceAnswer) : answer_(interfaceAnswer) {}
    HRESULT QueryInterface(std::string_view, std::string& description) override {
        description = "the object's own words";
        return answer_;
    }
    RemoteAnswer Query(std::span<const std::byte>) override { return {E_FAIL, "not here", nullptr}; }
    RemoteAnswer QueryProgramInfo(std::span<const std::byte>) override { return {E_FAIL, "not here", nullptr}; }

private:
    HRESULT answer_;
};

// Connects the document as to a server that accepts it (so its image lists exist), then hands it the service to query
// instead.
inline void ConnectTo(CQVViewerDoc& doc, HiveStore& hive, std::unique_ptr<IQVQuery> service) {
    WriteServerName(hive, u"fake");
    doc.SetActivator([](std::string_view) {
        ActivationResult result;
        result.object = std::make_shared<AnsweringObject>(S_OK);
        return result;
    });
    doc.Connect();
    doc.SetService(std::move(service));
}

// A document connected to a fake service, its settings in a temporary folder, its frame a recording one.
struct FakeServiceDocument {
    FakeServiceDocument() {
        doc.SetHost(&host);
        ConnectTo(doc, hive, std::make_unique<FakeQVQuery>(service));
    }

    QTemporaryDir dir;
    HiveStore hive{dir.filePath("user.reg").toStdString()};
    RecordingHost host;
    CQVViewerDoc doc{hive};
    std::shared_ptr<FakeServiceState> service = std::make_shared<FakeServiceState>();
};

struct Message {
    QString text;
    MessageIcon icon;
};

// Captures every message box for its lifetime.
class MessageCapture {
public:
    MessageCapture() {
        SetMessageHandler([this](const QString& text, MessageIcon icon, int) {
            messages.push_back({text, icon});
            return 0;
        });
    }
    ~MessageCapture() { SetMessageHandler({}); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    std::vector<Message> messages;
};

}  // namespace qv::test
