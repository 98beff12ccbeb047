// The document's rules against fakes: the connection's messages and order of steps, the image lists and caches,
// GetProgramInfo, and quitting during a call. The wait's notice and cursor are main_frame_qtest's.
#include "qvservice/model/icon_file.h"
#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "tests/service/stalled_call.h"
#include "tests/support/doc_test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <optional>

namespace {

using namespace qv::test;
using TreeId = IDocumentHost::TreeId;

class ViewerDocTest : public ::testing::Test {
protected:
    ViewerDocTest() : hive_(dir_.filePath("user.reg").toStdString()), doc_(hive_) { doc_.SetHost(&host_); }

    void SetServer(std::u16string_view name) { ASSERT_TRUE(WriteServerName(hive_, name)); }

    // Activation answers hr; a granted object answers the interface query with interfaceAnswer.
    void Activation(HRESULT hr, HRESULT interfaceAnswer = S_OK) {
        doc_.SetActivator([this, hr, interfaceAnswer](std::string_view server) {
            activatedOn_.emplace_back(server);
            ActivationResult result;
            result.hr = hr;
            if (Succeeded(hr) || hr == E_NOINTERFACE)
                result.object = std::make_shared<AnsweringObject>(interfaceAnswer);
            return result;
        });
    }

    void ConnectToFake() { ConnectTo(doc_, hive_, std::make_unique<FakeQVQuery>(service_)); }

    // Program id's information, when the document has it.
    std::optional<ProgramInfo> Ask(quint32 id) {
        ProgramInfo info;
        info.id = id;
        if (!doc_.GetProgramInfo(info)) return std::nullopt;
        return info;
    }

    QTemporaryDir dir_;
    HiveStore hive_;
    RecordingHost host_;
    CQVViewerDoc doc_;
    MessageCapture capture_;
    std::vector<std::string> activatedOn_;
    std::shared_ptr<FakeServiceState> service_ = std::make_shared<FakeServiceState>();
};

const std::vector<TreeId> kFillOrder = {IDocumentHost::Users, IDocumentHost::Computers, IDocumentHost::Applications};

TEST_F(ViewerDocTest, EmptyServerNameAsksForOptionsAndConnectsNothing) {
    Activation(S_OK);
    EXPECT_TRUE(doc_.OnNewDocument());
    ASSERT_EQ(capture_.messages.size(), 1u);
    EXPECT_EQ(capture_.messages[0].text, "Quorvis server name not set!");
    EXPECT_EQ(capture_.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(host_.posted, std::vector<int>{32850});
    EXPECT_TRUE(activatedOn_.empty());
    EXPECT_TRUE(host_.refreshed.empty());
    EXPECT_FALSE(doc_.HasImageLists());

    // Without a main frame nothing happens at all.
    doc_.SetHost(nullptr);
    EXPECT_FALSE(doc_.OnNewDocument());
    doc_.Connect();
    EXPECT_EQ(capture_.messages.size(), 1u);
}

TEST_F(ViewerDocTest, EachActivationFailureHasItsMessageAndKeepsTheOldInterface) {
    SetServer(u"srv-01");
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x8001011B, "Access is denied to Quorvis Service on `srv-01`"},
        {0x80040154, "Quorvis Service is not installed on `srv-01`. Please install service."},
        {0x800706BA, "`srv-01` is not available."},
        {0x80070005, "Can not connect to `srv-01`. Failed with message - Access is denied."},
        {0x80070002, "Can not connect to `srv-01`. Failed with message - The system cannot find the file specified."},
        {0x80001234, "Can not connect to `srv-01`. Failed with message - "},
    };
    auto held = std::make_unique<FakeQVQuery>(service_);
    IQVQuery* previous = held.get();
    doc_.SetService(std::move(held));
    for (const auto& [hr, text] : cases) {
        capture_.messages.clear();
        Activation(MakeHResult(hr));
        doc_.Connect();
        ASSERT_EQ(capture_.messages.size(), 1u) << text;
        EXPECT_EQ(capture_.messages[0].text.toStdString(), text);
        EXPECT_EQ(capture_.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(doc_.Service(), previous);
    }
    EXPECT_EQ(activatedOn_, std::vector<std::string>(std::size(cases), "srv-01"));
    EXPECT_TRUE(host_.refreshed.empty());
}

TEST_F(ViewerDocTest, InterfaceQueryDecidesBetweenFillingSilenceAndMessage109) {
    SetServer(u"srv-02");
    Activation(S_OK);
    doc_.Connect();
    EXPECT_NE(doc_.Service(), nullptr);
    EXPECT_EQ(host_.refreshed, kFillOrder);
    EXPECT_TRUE(capture_.messages.empty());
    EXPECT_TRUE(doc_.HasImageLists());

    // Not offered, by the object or already by the activation: no interface, no message, and the trees are filled (and
    // stay empty).
    for (bool atActivation : {false, true}) {
        host_.refreshed.clear();
        doc_.SetService(std::make_unique<FakeQVQuery>(service_));
        if (atActivation)
            Activation(E_NOINTERFACE, E_NOINTERFACE);
        else
            Activation(S_OK, E_NOINTERFACE);
        doc_.Connect();
        EXPECT_EQ(doc_.Service(), nullptr);
        EXPECT_EQ(service_->alive, 0);
        EXPECT_EQ(host_.refreshed, kFillOrder);
        EXPECT_TRUE(capture_.messages.empty());
    }

    // Any other failure of the interface query is a data-access error.
    host_.refreshed.clear();
    doc_.SetService(std::make_unique<FakeQVQuery>(service_));
    Activation(S_OK, MakeHResult(0x80070005));
    doc_.Connect();
    EXPECT_EQ(doc_.Service(), nullptr);
    EXPECT_TRUE(host_.refreshed.empty());
    ASSERT_EQ(capture_.messages.size(), 1u);
    EXPECT_EQ(capture_.messages[0].text, "Cannot connect to - 'srv-02'");
    EXPECT_EQ(capture_.messages[0].icon, MessageIcon::Exclamation);

    // A data-access error while the trees are filled ends the same way.
    capture_.messages.clear();
    Activation(S_OK);
    host_.refresh = [](TreeId) { throw DataAccessError(E_FAIL, "lost"); };
    doc_.Connect();
    EXPECT_EQ(doc_.Service(), nullptr);
    ASSERT_EQ(capture_.messages.size(), 1u);
    EXPECT_EQ(capture_.messages[0].text, "Cannot connect to - 'srv-02'");
}

TEST_F(ViewerDocTest, ProgramInfoIsAskedOncePerProgramWithItsIconsUntilACallFails) {
    ConnectToFake();
    constexpr std::uint32_t kRed = 0xFFFF0000;
    constexpr std::uint32_t kGreen = 0xFF00FF00;
    const auto solid = [](int bits, std::uint32_t argb) {
        return qv::server::IconImage{32, bits, std::vector<std::uint32_t>(32 * 32, argb)};
    };
    const auto icon = qv::server::EncodeIconFile({solid(4, kRed), solid(8, kGreen)});
    auto cursor = qv::server::EncodeIconFile({solid(8, kRed)});
    cursor[2] = 2;
    service_->programs[7] = ProgramInfoTable(u"Text Editor", u"editor.exe", Variant::Bytes(icon));
    service_->programs[8] = ProgramInfoTable(u"", u"shell.exe", Variant::Null());
    service_->programs[9] = ProgramInfoTable(u"Cursor", u"c.exe", Variant::Bytes(cursor));
    service_->programs[10] = ProgramInfoTable(u"Text", u"t.exe", Text(u"not bytes"));

    const auto editor = Ask(7);
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->description, "Text Editor");
    EXPECT_EQ(editor->processName, "editor.exe");
    // 32 pixels: the 8-bit image beats the 4-bit one; 16: no such image, the first one, scaled.
    EXPECT_EQ(doc_.LargeImages().at(editor->largeImage).toImage().pixel(16, 16), kGreen);
    EXPECT_EQ(doc_.SmallImages().at(editor->smallImage).toImage().pixel(8, 8), kRed);
    ASSERT_EQ(service_->infoQueries.size(), 1u);
    EXPECT_EQ(service_->infoQueries[0].kind, 2);
    EXPECT_EQ(service_->infoQueries[0].programId, 7u);

    EXPECT_EQ(Ask(7).value().smallImage, editor->smallImage);
    EXPECT_EQ(service_->infoQueries.size(), 1u);  // cached

    // No description: the process name; no usable icon: the default images.
    for (std::uint32_t id : {8u, 9u, 10u}) {
        const auto info = Ask(id);
        ASSERT_TRUE(info) << id;
        EXPECT_EQ(info->smallImage, doc_.GetSmallImageIndex(kIdiProgram)) << id;
        EXPECT_EQ(info->largeImage, doc_.GetLargeImageIndex(kIdiProgram)) << id;
    }
    EXPECT_EQ(Ask(8).value().description, "shell.exe");

    // No row: nothing, nothing cached.
    EXPECT_FALSE(Ask(11));
    EXPECT_FALSE(Ask(11));
    // A failed call (the service did not answer in time): nothing, the interface kept, and no more calls until Refresh
    // or Connect; the cache still answers.
    service_->infoStatus = HRESULT_RPC_S_SERVER_UNAVAILABLE;
    for (quint32 id : {12u, 13u, 14u}) EXPECT_FALSE(Ask(id)) << id;
    EXPECT_NE(doc_.Service(), nullptr);
    EXPECT_EQ(service_->infoQueries.size(), 7u);
    EXPECT_TRUE(doc_.ProgramInfoHalted());
    EXPECT_EQ(Ask(7).value().description, QStringLiteral("Text Editor"));
    ConnectToFake();
    EXPECT_FALSE(doc_.ProgramInfoHalted());
}

TEST_F(ViewerDocTest, ImageIndexesAreAddedOncePerConnectionAndReconnectStartsFromEmptyListsAndCaches) {
    EXPECT_EQ(doc_.GetSmallImageIndex(kIdiUser), -1);  // no lists before Connect
    ConnectToFake();
    EXPECT_EQ(doc_.GetSmallImageIndex(kIdiUser), 0);
    EXPECT_EQ(doc_.GetSmallImageIndex(kIdiComputer), 1);
    EXPECT_EQ(doc_.GetSmallImageIndex(kIdiUser), 0);
    EXPECT_EQ(doc_.GetSmallImageIndex(9999), -1);  // no such resource
    EXPECT_EQ(doc_.GetLargeImageIndex(kIdiProgram), 0);
    ASSERT_EQ(doc_.SmallImages().size(), 2);
    EXPECT_EQ(doc_.SmallImages().at(1).size(), QSize(16, 16));
    EXPECT_EQ(doc_.LargeImages().at(0).size(), QSize(32, 32));

    service_->programs[7] = ProgramInfoTable(u"Editor", u"editor.exe", Variant::Null());
    ASSERT_TRUE(Ask(7));

    // New: Connect over a live connection drops the old lists and caches, so no index of the old server's programs
    // survives.
    Activation(S_OK);
    doc_.OnNewDocument();
    EXPECT_TRUE(doc_.SmallImages().isEmpty());
    EXPECT_TRUE(doc_.LargeImages().isEmpty());
    doc_.SetService(std::make_unique<FakeQVQuery>(service_));
    EXPECT_EQ(Ask(7).value().smallImage, 0);
    EXPECT_EQ(service_->infoQueries.size(), 2u);

    // Disconnect: lists gone, the interface kept (the trees' walk is the loaders' test's).
    doc_.Disconnect();
    EXPECT_FALSE(doc_.HasImageLists());
    EXPECT_EQ(doc_.GetSmallImageIndex(kIdiUser), -1);
    EXPECT_NE(doc_.Service(), nullptr);
}

TEST_F(ViewerDocTest, QuitDuringAPendingCallDropsItsAnswerAndEndsTheLoop) {
    ConnectToFake();
    StalledCall call;
    call.duringWait = [] { QCoreApplication::quit(); };
    service_->infoCall = call;
    bool answered = true;
    HRESULT refused = S_OK;
    QTimer::singleShot(0, [&] {
        answered = Ask(7).has_value();
        // Nothing more goes to the service, and nothing is asked of the operator, whose window is gone.
        try {
            RunQuery(doc_.Service(), QueryRequest{});
        } catch (const DataAccessError& error) {
            refused = error.Status();
        }
        ShowMessage(QStringLiteral("lost"), MessageIcon::Error);
    });
    // The application's loop ends once the pending call has returned.
    QCoreApplication::exec();
    EXPECT_FALSE(answered);
    EXPECT_FALSE(*call.timedOut);
    EXPECT_EQ(refused, E_ABORT);
    EXPECT_TRUE(service_->queries.empty());
    EXPECT_TRUE(capture_.messages.empty());
    EXPECT_FALSE(ServiceCallPending());
    InstallUiCallWaiter();  // as the next document would; the abandonment's reset is main_frame_qtest's
}

}  // namespace
