// The service on its listening port: the store, the object and the gRPC
// server around them.
#pragma once

#include "qvservice/rpc/connection_pool.h"
#include "qvservice/rpc/quorvis_service.h"
#include "qvservice/rpc/recorder_identity.h"
#include "qvservice/rpc/recording_service.h"
#include "qvservice/store/store_database.h"

#include <grpcpp/server.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::server {

// The most threads that answer calls at once; unless told otherwise, also
// the most store connections the service opens.
inline constexpr int kWorkerThreads = 256;

struct ServeOptions {
    std::string storePath;  // a SQLite file or a PostgreSQL URI
    std::size_t dbConnections = kWorkerThreads;
    std::string listen;  // HOST:PORT, HOST, or [IPv6]:PORT; empty = 127.0.0.1, default port
    std::vector<std::string> allowed;
    std::string tlsCertFile;
    std::string tlsKeyFile;
    std::string clientCaFile;
    std::string recorderCaFile;      // recording on: recorders' certificates come from this CA
    bool trustClaimedNames = false;  // --allow without client certificates
    bool insecure = false;           // off loopback without client certificates
    CallLimits limits;
    int keepDays = 0;  // records that ended more days ago are pruned daily; 0: never
};

struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;
};

// Throws std::invalid_argument for a malformed address.
ListenAddress ParseListenAddress(const std::string& text);

// The address names this machine's loopback interface only: "localhost",
// 127.0.0.0/8 or ::1.
bool IsLoopbackOnly(const ListenAddress& address);

// Refuses (std::runtime_error) a set-up in which a claimed, forgeable user
// name would decide who reads the records, or in which unauthenticated
// callers off this machine would, unless the flag that owns up to it is
// given; returns the warnings to log at start for one that is exposed.
std::vector<std::string> CheckServeSecurity(const ServeOptions& options);

class ServiceHost {
public:
    // Checks the store (it must exist); throws StoreError or std::runtime_error.
    explicit ServiceHost(const ServeOptions& options);
    ~ServiceHost();

    // Starts listening; returns the address with the port actually bound.
    std::string Start();
    // Lets the calls in flight finish for a grace period, then cancels what is
    // left and stops.
    void Shutdown();
    void Wait();

private:
    ServeOptions options_;
    // A SQLite store's writable connection keeps its WAL files in place for
    // the read-only ones; null for a database server.
    std::unique_ptr<Database> keeper_;
    ConnectionPool pool_;
    RecorderIdentity recorders_;
    QuorvisService service_;
    RecordingService recording_;
    std::unique_ptr<grpc::Server> server_;
};

// serve: runs until SIGINT or SIGTERM; returns the exit code.
int RunServe(const ServeOptions& options);

}  // namespace qv::server
