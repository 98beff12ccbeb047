// Which records the daemon takes from a local sender. The user is not
// claimed but known: a record's user is the sender's login name (after the
// prefix), and only root may name others. Each record is checked as the
// service will check it, so that a bad one is refused to its sender at once
// instead of blocking the spool.
#pragma once

#include "records/activity_record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::recorder {

struct Sender {
    unsigned uid = 0;
    bool root = false;
    std::string login;  // empty when the uid has none
    int pid = 0;
    std::uint64_t connection = 0;  // the local connection, numbered from 1
};

struct AdmissionRules {
    std::string computer;  // the certificate's name
    std::string userPrefix;
};

struct Refusal {
    std::string reason;
    int index = -1;  // the record at fault, from 0
};

// Fills in empty users and computers and writes the computer as the
// certificate has it; a refusal means none may be taken.
std::optional<Refusal> Admit(std::vector<ActivityRecord>& records, const Sender& sender, const AdmissionRules& rules);

}  // namespace qv::recorder
