#include "qvrecorder/admission.h"

#include "records/log.h"

#include <strings.h>

namespace qv::recorder {

std::optional<Refusal> Admit(std::vector<ActivityRecord>& records, const Sender& sender, const AdmissionRules& rules) {
    if (sender.login.empty()) return Refusal{"the user id " + std::to_string(sender.uid) + " has no login name", -1};
    const std::string ownUser = rules.userPrefix + sender.login;
    for (std::size_t i = 0; i < records.size(); ++i) {
        ActivityRecord& record = records[i];
        const int index = static_cast<int>(i);
        // Computer names are case-insensitive; the service is given the certificate's spelling.
        if (record.computer.empty() ||
            (record.computer.size() == rules.computer.size() &&
             ::strncasecmp(record.computer.c_str(), rules.computer.c_str(), rules.computer.size()) == 0)) {
            record.computer = rules.computer;
        } else {
            return Refusal{"the record is for the computer '" + Printable(record.computer) + "', but this is " +
                               rules.computer + " (the name in its certificate)",
                           index};
        }
        if (record.user.empty() || (!sender.root && record.user == sender.login)) {
            record.user = ownUser;
        } else if (!sender.root && record.user != ownUser) {
            return Refusal{"the record names the user '" + Printable(record.user) + "'; " + sender.login +
                               " may send only records of its own (user empty, " + Printable(sender.login) +
                               (rules.userPrefix.empty() ? "" : " or " + Printable(ownUser)) + ")",
                           index};
        }
        try {
            ValidateRecord(record);
        } catch (const InvalidRecord& bad) {
            return Refusal{bad.what(), index};
        }
    }
    return std::nullopt;
}

}  // namespace qv::recorder
