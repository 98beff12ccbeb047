// libFuzzer target of the viewer's reading of an answer: ResultPart messages, each behind a two-byte little-endian
// length, are refused or become a record set whose values convert or throw DataAccessError, sorted by any field.
#include "platform/wire_values.h"
#include "proto/quorvis.pb.h"
#include "service/data_access_error.h"
#include "service/recordset_reader.h"
#include "tests/fuzz/fuzz_util.h"

#include <google/protobuf/stubs/logging.h>

#include <string>

namespace {

constexpr std::size_t kLengthBytes = 2;

// As the client reads its stream: the header alone first, then row batches, stopping at the first failure.
std::unique_ptr<Recordset> Decode(std::string_view wire, std::size_t& rowsSent) {
    WireAnswerBuilder builder;
    std::string description;
    HRESULT hr = S_OK;
    bool started = false;
    quorvis::v1::ResultPart part;
    while (hr >= 0 && wire.size() >= kLengthBytes) {
        const std::size_t length = std::min<std::size_t>(
            static_cast<unsigned char>(wire[0]) | static_cast<std::size_t>(static_cast<unsigned char>(wire[1])) << 8,
            wire.size() - kLengthBytes);
        if (!part.ParseFromArray(wire.data() + kLengthBytes, static_cast<int>(length)))
            return nullptr;  // the transport refuses the stream
        wire.remove_prefix(kLengthBytes + length);
        if (!started) {
            if (!part.has_header() || part.rows_size() > 0) return nullptr;
            started = true;
            hr = builder.Start(part.header(), description);
            Check(hr >= 0 || description == part.header().description());
            continue;
        }
        for (const auto& row : part.rows()) {
            hr = builder.AddRow(row, description);
            if (hr < 0) {
                Check(!description.empty());
                return nullptr;
            }
            ++rowsSent;
        }
    }
    return started && hr >= 0 ? builder.Finish() : nullptr;
}

template <typename Read>
void Attempt(Read read) {
    try {
        read();
    } catch (const DataAccessError& error) {
        Check(error.Status() < 0);
    }
}

void ReadAll(std::unique_ptr<Recordset> recordset, std::size_t rowsSent) {
    Check(recordset->RecordCount() == rowsSent);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < recordset->FieldCount(); ++i) {
        Field field;
        Check(recordset->GetField(i, field) == S_OK);
        names.push_back(field.Name());
    }
    RecordsetReader reader(std::move(recordset));
    if (!names.empty()) Attempt([&] { reader.SetSort("[" + names.back() + "] Desc, " + names.front()); });
    std::size_t visited = 0;
    for (; !reader.IsEOF(); reader.MoveNext(), ++visited) {
        for (const std::string& name : names) {
            Attempt([&] {
                const Field field = reader.GetField(name);
                GetFieldString(field);
                GetFieldInt(field);
                GetFieldDouble(field);
            });
        }
    }
    Check(visited == rowsSent);
}

}  // namespace

// The parser refuses strings that are not UTF-8, as on the wire; its log line for each would drown the fuzzer's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t rowsSent = 0;
    if (auto recordset = Decode(std::string_view(reinterpret_cast<const char*>(data), size), rowsSent))
        ReadAll(std::move(recordset), rowsSent);
    return 0;
}
