// Records as the wire contracts carry them (quorvis.v1.LiveRecord).
#pragma once

#include "proto/recording.pb.h"
#include "records/activity_record.h"

namespace qv::recorder {

void ToLive(const ActivityRecord& record, quorvis::v1::LiveRecord& live);
ActivityRecord FromLive(const quorvis::v1::LiveRecord& live);
// Takes the texts out of live instead of copying them.
ActivityRecord FromLive(quorvis::v1::LiveRecord&& live);

}  // namespace qv::recorder
