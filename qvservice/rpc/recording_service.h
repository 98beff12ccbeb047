// The recorders' method: batches of live records from the relay of each
// monitored computer, written exactly once (see proto/recording.proto).
#pragma once

#include "qvservice/import/batch_ingest.h"
#include "qvservice/rpc/recorder_identity.h"

#include "proto/recording.grpc.pb.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qv::server {

// Batches of one computer in flight at once; its relay sends one at a time.
inline constexpr int kMaxBatchesPerComputer = 4;

class RecordingService final : public quorvis::v1::QuorvisRecorder::Service {
public:
    // identity disabled: recording is off, and every call hears so.
    RecordingService(const RecorderIdentity& identity, std::string store);

    grpc::Status Record(grpc::ServerContext* context, const quorvis::v1::RecordBatch* request,
                        quorvis::v1::RecordReply* reply) override;

private:
    const RecorderIdentity& identity_;  // not owned
    BatchIngest ingest_;
    std::mutex mutex_;
    std::map<std::string, int> inFlight_;  // by computer
};

}  // namespace qv::server
