// The recorders' side of the recording method, for tests and benchmarks: a
// TLS stub with one of the test certificates, and batches on the wire.
#pragma once

#include "proto/recording.grpc.pb.h"
#include "records/activity_record.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// certs: a folder of CopyTestCertificates; certificate: a name there without
// its extension (e.g. "test-recorder-WS-01"), or empty for none.
std::unique_ptr<quorvis::v1::QuorvisRecorder::Stub> RecorderStub(const std::string& address, const std::string& certs,
                                                                 const std::string& certificate);

quorvis::v1::RecordBatch WireBatch(const std::string& recorderId, std::uint64_t firstSequence,
                                   const std::vector<ActivityRecord>& records);

// Sends the batch; the call's status.
grpc::Status SendBatch(quorvis::v1::QuorvisRecorder::Stub& stub, const quorvis::v1::RecordBatch& batch,
                       quorvis::v1::RecordReply* reply = nullptr);

}  // namespace qv::test
