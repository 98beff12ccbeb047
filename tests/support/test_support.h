// Shared pieces of the service tests: stores filled through the library, a client, and the service in this process.
#pragma once

#include "proto/quorvis.grpc.pb.h"
#include "proto/qv_contract.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/rpc/service_host.h"
#include "tests/support/temp_dir.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// Copies tests/support/data's certificates and keys (mode 0600: git keeps none) into dir/certs; returns that folder.
std::string CopyTestCertificates(const TempDir& dir);

// Writes records in one transaction and returns their ids.
std::vector<server::RecordIds> WriteRecords(const std::string& storePath,
                                            const std::vector<qv::ActivityRecord>& records);

// Rows of the table (and condition), in a SQLite store found whole first.
std::int64_t StoreRowCount(const std::string& storePath, const std::string& table);

// "store.db" in dir: anna on WS-01 ran cmd.exe (program 1), ben on WS-02 app.exe (program 2).
std::string SmallStore(const TempDir& dir);

// `rows` one-second titles of program 1 ("browser.exe") by anna on WS-01, every odd one ending in a non-UTF-8 byte.
void WriteManyTitles(const std::string& storePath, std::size_t rows);

struct Answer {
    grpc::Status status;
    std::int32_t hresult = 0;
    std::string description;
    std::vector<quorvis::v1::Field> fields;
    std::vector<quorvis::v1::Row> rows;
    std::size_t rowCount = 0;
    std::size_t batches = 0;

    // The position of a field by name; -1 when absent.
    int Field(const std::string& name) const;
};

struct CallIdentity {
    std::string user;
    std::string classId{contract::kClassId};
    std::string interfaceId{contract::kQueryInterfaceId};
};

class ServiceClient {
public:
    explicit ServiceClient(std::shared_ptr<grpc::Channel> channel);
    explicit ServiceClient(const std::string& address);  // in plain text

    quorvis::v1::ActivateReply Activate(const CallIdentity& identity, grpc::Status* status = nullptr);
    // onRow, when given, sees the rows instead of Answer::rows.
    Answer Query(const std::string& request, const CallIdentity& identity = {},
                 const std::function<void(const quorvis::v1::Row&)>& onRow = {});
    Answer ProgramInfo(const std::string& request, const CallIdentity& identity = {});

private:
    Answer Read(bool programInfo, const std::string& request, const CallIdentity& identity,
                const std::function<void(const quorvis::v1::Row&)>& onRow);

    std::unique_ptr<quorvis::v1::QuorvisService::Stub> stub_;
};

// A client over TLS that trusts the test CA, with the client certificate of that name in certs (none when empty).
ServiceClient TlsClient(const std::string& address, const std::string& certs, const std::string& certificate = "");

// A Query for every title of program 1 that stops reading after the header, as a hung viewer would.
class StalledReader {
public:
    StalledReader(quorvis::v1::QuorvisService::Stub& stub, const std::string& caller);
    ~StalledReader() { context_.TryCancel(); }
    // Reads what is left; the call's final status.
    grpc::Status Drain();
    std::int32_t hresult = -1;  // the header's; -1 when none came

private:
    grpc::ClientContext context_;
    std::unique_ptr<grpc::ClientReader<quorvis::v1::ResultPart>> reader_;
};

server::ServeOptions StoreOptions(const std::string& storePath);

// The service in this process, listening on 127.0.0.1 and a free port.
class LocalService {
public:
    explicit LocalService(server::ServeOptions options);
    ~LocalService();
    const std::string& Address() const { return address_; }
    ServiceClient Client() const;

private:
    std::unique_ptr<server::ServiceHost> host_;
    std::string address_;
};

// The whole time of every record the service holds, from its answer for users.
std::int64_t TotalTimeSpent(ServiceClient& client);

// The value of a row's field, found by the field's name.
const quorvis::v1::Value& Cell(const Answer& answer, const quorvis::v1::Row& row, const std::string& field);

}  // namespace qv::test
