// The viewer's client against a real qvservice on a loopback port, and against a fake one that stalls, stops half way,
// lies about its rows or streams without end: every call ends within its deadline or answer limit with a description,
// the next call on the same object works, and every activation outcome the viewer tells apart; the reader of answers,
// its trace and its field conversions.
#include "foundation/debug_stream.h"
#include "platform/recordset.h"
#include "proto/quorvis.grpc.pb.h"
#include "service/data_access_error.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "tests/support/fake_qv_query.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>

namespace {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;
using qv::test::Text;

struct CaptureWriter : TStreamWriter {
    void Write(const char* bytes, std::uint32_t count) noexcept override { text.append(bytes, count); }
    std::string text;
};

RecordsetPtr MakeRecordset(std::vector<FieldDef> fields, std::vector<std::vector<Variant>> rows) {
    return qv::test::MakeRecordset({std::move(fields), std::move(rows)});
}

enum class Behaviour { Good, Silent, HalfThenStall, WrongWidth, WrongType, NotANumber, Endless };

void AddRow(pb::ResultPart& part, std::int64_t id, double events) {
    auto* row = part.add_rows();
    auto* first = row->add_values();
    first->set_tag(VT_I4);
    first->set_integer(id);
    auto* second = row->add_values();
    second->set_tag(VT_R8);
    second->set_real(events);
}

// Holds a call open until the client gives up; bounded so that a client that never does cannot hang the test's end.
void StallUntilCancelled(grpc::ServerContext& context) {
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (!context.IsCancelled() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
}

class FakeService final : public pb::QuorvisService::Service {
public:
    std::atomic<Behaviour> behaviour{Behaviour::Good};

    grpc::Status Activate(grpc::ServerContext*, const pb::ActivateRequest*, pb::ActivateReply* reply) override {
        reply->set_hresult(0);
        return grpc::Status::OK;
    }

    grpc::Status Query(grpc::ServerContext* context, const pb::OperationRequest*,
                       grpc::ServerWriter<pb::ResultPart>* writer) override {
        const Behaviour now = behaviour;
        if (now == Behaviour::Silent) {
            StallUntilCancelled(*context);
            return grpc::Status::CANCELLED;
        }
        pb::ResultPart header;
        header.mutable_header()->set_hresult(0);
        for (const auto& [name, type] : {std::pair{"ID", adInteger}, std::pair{"KeyboardEvents", adDouble}}) {
            auto* field = header.mutable_header()->add_fields();
            field->set_name(name);
            field->set_ado_type(type);
        }
        writer->Write(header);
        pb::ResultPart rows;
        if (now == Behaviour::Endless) {
            for (int i = 0; i < 100; ++i) AddRow(rows, i, 1.0);
            while (!context->IsCancelled() && writer->Write(rows)) continue;
            return grpc::Status::OK;
        }
        AddRow(rows, 1, now == Behaviour::NotANumber ? std::numeric_limits<double>::quiet_NaN() : 2.5);
        if (now == Behaviour::Good) AddRow(rows, 2, 4.0);
        if (now == Behaviour::WrongWidth) rows.mutable_rows(0)->add_values()->set_tag(VT_NULL);
        if (now == Behaviour::WrongType) {
            rows.mutable_rows(0)->mutable_values(0)->set_tag(VT_BSTR);
            rows.mutable_rows(0)->mutable_values(0)->set_bytes("one");
        }
        writer->Write(rows);
        if (now == Behaviour::HalfThenStall) StallUntilCancelled(*context);
        return grpc::Status::OK;
    }
};

TEST(LyingService, StalledMalformedOrEndlessAnswersFailWithTheirReasonAndTheNextCallWorks) {
    FakeService fake;
    grpc::ServerBuilder builder;
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
    builder.RegisterService(&fake);
    const std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
    ASSERT_TRUE(server && port > 0);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    QueryRequest users;
    users.kind = static_cast<std::int32_t>(QueryKind::Users);
    // The status and description the viewer would see.
    const auto ask = [&](RemoteQVQuery& service) {
        RecordsetPtr result;
        const HRESULT hr = service.Query(users, result);
        return std::pair{hr, service.ErrorDescription()};
    };
    // The good answer, read through the viewer's reader.
    const auto expectGoodAnswer = [&](RemoteQVQuery& service) {
        fake.behaviour = Behaviour::Good;
        RecordsetReader reader(RunQuery(&service, users));
        Field events = reader.GetField("KeyboardEvents");
        double total = 0;
        for (; !reader.IsEOF(); reader.MoveNext()) total += GetFieldDouble(events);
        EXPECT_EQ(total, 6.5);
    };
    ActivationResult activation = ActivateQuorvisService(address, RemoteDeadlines{1000ms, 1000ms});
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery service(activation.object);
    expectGoodAnswer(service);

    using Lie = std::tuple<Behaviour, HRESULT, const char*>;
    for (const auto& [behaviour, expected, says] :
         {Lie{Behaviour::Silent, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
          Lie{Behaviour::HalfThenStall, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
          Lie{Behaviour::WrongWidth, E_INVALIDARG, "3 values for 2 fields"},
          Lie{Behaviour::WrongType, DISP_E_TYPEMISMATCH, "field ID holds a value of type 8"},
          Lie{Behaviour::NotANumber, DISP_E_OVERFLOW, "not a finite number"}}) {
        fake.behaviour = behaviour;
        const auto [hr, description] = ask(service);
        EXPECT_EQ(hr, expected) << description;
        EXPECT_NE(description.find(says), std::string::npos) << description;
        expectGoodAnswer(service);
    }

    // An endless answer stops at its byte limit; the row cap is ServiceContract's.
    activation = ActivateQuorvisService(address, RemoteDeadlines{1000ms, 20'000ms, kMaxAnswerRows, 1 << 20});
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery bounded(activation.object);
    fake.behaviour = Behaviour::Endless;
    const auto [hr, description] = ask(bounded);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_NE(description.find("more than 1 MiB"), std::string::npos) << description;
    expectGoodAnswer(bounded);
    server->Shutdown(std::chrono::system_clock::now());
}

// A million titles of program 1, every odd one not UTF-8, read whole (the sums of small answers are qvreport_test's).
TEST(RemoteQuery, AMillionRowAnswerIsReadWhole) {
    constexpr std::size_t kRows = 1'000'000;
    TempDir dir;
    const std::string store = dir.File("store.db");
    qv::test::WriteManyTitles(store, kRows);
    const auto process = qv::test::Serve(store);
    ActivationResult activation = ActivateQuorvisService(process->ListeningAddress());
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery service(activation.object);

    QueryRequest request;
    request.kind = static_cast<std::int32_t>(QueryKind::ProgramDetails);
    request.programId = 1;
    RecordsetReader titles(RunQuery(&service, request));
    titles.SetSort("TimeSpent Desc");
    Field name = titles.GetField("Name");
    Field time = titles.GetField("TimeSpent");
    std::size_t rows = 0;
    std::size_t replaced = 0;  // the odd titles' byte that is not UTF-8
    double total = 0;
    for (; !titles.IsEOF(); titles.MoveNext(), ++rows) {
        replaced += GetFieldString(name).ends_with(u" \uFFFD") ? 1 : 0;
        total += GetFieldDouble(time);
    }
    EXPECT_EQ(rows, kRows);
    EXPECT_EQ(replaced, kRows / 2);
    EXPECT_EQ(total, 1000.0 * kRows);
    EXPECT_THROW(RunQuery(nullptr, request), DataAccessError);
}

TEST(RemoteActivation, UnreachableSilentOrUnnamedServersAreUnavailable) {
    // Port 1 on loopback, where nothing of ours listens; a port that accepts connections and never speaks; and names
    // that cannot be a target, refused before any look-up so that no resolver is asked: each is an unavailable server.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(listener, 4) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    for (const std::string& target : std::vector<std::string>{"127.0.0.1:1", silent, "bad name", "", "host:0", "a/b"}) {
        const ActivationResult activation = ActivateQuorvisService(target, RemoteDeadlines{500ms, 500ms});
        EXPECT_EQ(static_cast<std::uint32_t>(activation.hr), 0x800706BAu) << target << ": " << activation.description;
        EXPECT_FALSE(activation.object) << target;
        if (!target.starts_with("127.0.0.1:")) {
            EXPECT_EQ(activation.description, "not a server name: " + target);
        }
    }
    close(listener);

    for (const auto& [name, target] : {std::pair{"quorvis", "quorvis:47913"},
                                       {"quorvis:5000", "quorvis:5000"},
                                       {"[::1]", "[::1]:47913"},
                                       {"[::1]:5000", "[::1]:5000"}})
        EXPECT_EQ(ChannelTarget(name), target);
    for (const char* bad : {"", "host:", "host:0", "host:65536", "host:12ab", ":80", "a:b:c", "[::1", "[]", "a/b"})
        EXPECT_EQ(ChannelTarget(bad), "") << bad;
}

TEST(RecordsetReaderTrace, WritesEachRowAndTheEndLineByteForByteWhenTheCategoryIsOn) {
    TraceStream.RemoveAllWriters();
    RecordsetReader quiet(MakeRecordset({{"ID", adInteger, 4}}, {{Variant::I4(1)}}));  // no writer: no crash
    quiet.MoveNext();
    // A capturing writer with the result-set category on, as a developer would attach to see the rows.
    auto* trace = new CaptureWriter;  // owned by the stream
    TraceStream.AddWriter(SmartPtr<TStreamWriter>(trace));
    TraceStream.Categories().reset(kRecordsetTraceCategory);
    RecordsetReader off(MakeRecordset({{"ID", adInteger, 4}}, {{Variant::I4(1)}}));
    off.MoveNext();
    TraceStream.Categories().set(kRecordsetTraceCategory);
    EXPECT_EQ(trace->text, "");

    RecordsetReader reader(MakeRecordset(
        {{"ID", adInteger, 4}, {"Name", adVarWChar, 255}, {"", adDouble, 8}, {"Icon", adLongVarBinary, 0}},
        {{Variant::I4(7), Text(u"abc"), Variant::Null(), Variant::Bytes({1, 2, 3})},
         {Variant::I4(-1), Text(std::u16string(128, u'x')), Variant::I8(5), Variant::Null()},
         {Variant(), Text(std::u16string(129, u'y')), Variant::Bytes({9, 9}), Variant::Null()}}));
    reader.SetSort("");
    while (!reader.IsEOF()) reader.MoveNext();

    // The first row is written when the reader is made; SetSort writes nothing.
    std::string expected = "[SQL] ID=7,Name='abc',#2=<null>,Icon=<blob 3 bytes long>\n";
    expected += "[SQL] ID=-1,Name='" + std::string(128, 'x') + "',#2=5,Icon=<blob 0 bytes long>\n";
    expected += "[SQL] ID=<null>,Name=<long string>,#2=<blob 2 bytes long>,Icon=<blob 0 bytes long>\n";
    expected += "[SQL] ----- End of Recordset -----\n";
    EXPECT_EQ(trace->text, expected);

    // An empty open result set writes only the end line.
    RecordsetReader empty(MakeRecordset({{"ID", adInteger, 4}}, {}));
    EXPECT_TRUE(empty.IsEOF());
    EXPECT_EQ(trace->text, expected + "[SQL] ----- End of Recordset -----\n");

    // Invalid dates and unknown tags are named.
    const std::size_t before = trace->text.size();
    RecordsetReader dates(
        MakeRecordset({{"When", adDate, 8}, {"Cost", 6, 8}}, {{Variant::Date(1e9), Variant::Unsupported(6)}}));
    const std::string line = trace->text.substr(before);
    EXPECT_EQ(line.rfind("[SQL] When=invalid time(", 0), 0u) << line;
    EXPECT_NE(line.find("),Cost=unknown vt=#6\n"), std::string::npos) << line;
    TraceStream.RemoveAllWriters();
}

TEST(RecordsetReader, FailuresArriveAsTheDataAccessError) {
    RecordsetReader empty(nullptr);
    try {
        empty.IsEOF();
        FAIL() << "an empty result set was used";
    } catch (const DataAccessError& error) {
        EXPECT_EQ(static_cast<std::uint32_t>(error.Status()), 0x80004003u);
    }

    RecordsetReader reader(MakeRecordset({{"ID", adInteger, 4}, {"Name", adVarWChar, 10}},
                                         {{Variant::I4(2), Text(u"b")}, {Variant::I4(1), Text(u"A")}}));
    EXPECT_THROW(reader.GetField("Missing"), DataAccessError);
    EXPECT_THROW(reader.SetSort("Missing Asc"), DataAccessError);
    reader.SetSort("Name Asc");
    EXPECT_EQ(GetFieldInt(reader.GetField("Id")), 1);  // lookup ignores case
    reader.MoveNext();
    reader.MoveNext();
    EXPECT_TRUE(reader.IsEOF());
    EXPECT_THROW(reader.MoveNext(), DataAccessError);
    EXPECT_THROW(GetFieldInt(Field()), DataAccessError);
}

TEST(FieldReaders, ConvertByTheVariantRules) {
    std::setlocale(LC_ALL, "C");
    const auto decimal = [](bool negative, const char* digits, int scale) {
        return Variant::Dec(*Decimal::FromDigits(negative, digits, scale));
    };
    const struct {
        Variant value;
        std::optional<std::int32_t> asInt;  // none: refused
        std::optional<double> asDouble = {};
        std::optional<std::u16string> asText = {};
    } cases[] = {
        {Variant::Null(), 0, 0.0, u""},
        {Variant(), 0},
        {Variant::R8(2.9), 2, {}, u"2.9"},  // truncated, not rounded
        {Variant::R8(-2.9), -2},
        {Variant::R8(2.5), 2},
        {Variant::I4(-7), -7, -7.0},
        {decimal(false, "42", 0), 42},
        {decimal(true, "75", -1), -7},  // -7.5 has no unsigned form: via the double, truncated
        // Too large even for the leading digits.
        {decimal(false, "123456789012345678901", 0), {}, 1.2345678901234568e20},
        {Text(u"12"), 12},  // text through the unsigned conversion
        {Variant::I8(5'000'000'000), {}, 5e9},
        {Variant::R8(1e12), {}},  // a real beyond 32 bits is refused, not undefined
        {Variant::UI4(4'000'000'000u), static_cast<std::int32_t>(4'000'000'000u)},  // the unsigned bits
    };
    std::vector<std::vector<Variant>> rows;
    for (const auto& c : cases) rows.push_back({c.value});
    RecordsetReader reader(MakeRecordset({{"V", adDouble, 8}}, std::move(rows)));
    Field v = reader.GetField("V");
    for (std::size_t row = 0; row < std::size(cases); ++row, reader.MoveNext()) {
        const auto& c = cases[row];
        if (c.asInt)
            EXPECT_EQ(GetFieldInt(v), *c.asInt) << row;
        else
            EXPECT_THROW(GetFieldInt(v), DataAccessError) << row;
        if (c.asDouble) {
            EXPECT_NEAR(GetFieldDouble(v), *c.asDouble, std::abs(*c.asDouble) * 1e-14) << row;
        }
        if (c.asText) {
            EXPECT_EQ(GetFieldString(v), *c.asText) << row;
        }
    }
}

}  // namespace
