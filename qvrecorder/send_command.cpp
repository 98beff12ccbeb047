// send: records in the import format from standard input to the daemon, in
// messages of bounded size. When standard input is a file, every message is
// checked first, so that a bad line takes nothing of the file.
#include "qvrecorder/commands.h"
#include "qvrecorder/live_records.h"
#include "qvrecorder/local_client.h"
#include "qvrecorder/options.h"
#include "records/csv_parser.h"
#include "records/csv_records.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

namespace qv::recorder {

namespace {

using quorvis::relay::v1::SendRequest;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// How long send waits for a daemon that went away in the middle, e.g. to restart.
constexpr std::chrono::seconds kDaemonPatience{60};

// A line of the input that cannot go; nothing after it is sent.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MessageSender {
public:
    // A record's tag and length in the message, beyond its own bytes.
    static constexpr std::size_t kFieldOverhead = 6;

    MessageSender(LocalClient& client, bool checkOnly) : client_(client), checkOnly_(checkOnly) {
        request_.set_check_only(checkOnly);
        // A daemon restarted while we send takes each message once.
        std::string id(16, '\0');
        if (::getrandom(id.data(), id.size(), 0) == static_cast<ssize_t>(id.size())) request_.set_sender_id(id);
    }

    void Add(const ActivityRecord& record, std::size_t line) {
        auto& live = *request_.add_records();
        ToLive(record, live);
        bytes_ += live.ByteSizeLong() + kFieldOverhead;
        lines_.push_back(line);
        if (request_.records_size() >= kMaxRelayRecords || bytes_ >= kTargetRelayMessageBytes) Flush();
    }

    void Flush() {
        if (request_.records_size() == 0) return;
        request_.set_message_number(request_.message_number() + 1);
        const auto reply = request_.sender_id().empty() ? client_.Send(request_)
                                                        : client_.SendUntilAnswered(request_, kDaemonPatience);
        if (!reply.refusal().empty()) {
            const int index = reply.refused_index();
            if (index >= 0 && static_cast<std::size_t>(index) < lines_.size()) {
                throw LineError("line " + std::to_string(lines_[static_cast<std::size_t>(index)]) + ": " +
                                reply.refusal());
            }
            throw LineError("lines " + std::to_string(lines_.front()) + " to " + std::to_string(lines_.back()) + ": " +
                            reply.refusal());
        }
        taken_ += checkOnly_ ? 0 : reply.taken();
        request_.clear_records();
        lines_.clear();
        bytes_ = 0;
    }

    std::uint64_t Taken() const { return taken_; }

private:
    LocalClient& client_;
    bool checkOnly_;
    SendRequest request_;
    std::vector<std::size_t> lines_;
    std::size_t bytes_ = 0;
    std::uint64_t taken_ = 0;
};

// Reads standard input from where it is to its end; throws LineError.
void SendInput(MessageSender& sender) {
    bool headerSeen = false;
    CsvParser parser(kCsvFields.size(), [&](std::vector<std::string>& fields, std::size_t line) {
        if (!headerSeen) {
            if (!fields.empty() && fields[0].starts_with(kUtf8Bom)) fields[0].erase(0, kUtf8Bom.size());
            if (!std::equal(fields.begin(), fields.end(), kCsvFields.begin(), kCsvFields.end())) {
                throw LineError("line 1: the header must be exactly " + std::string(kCsvHeader));
            }
            headerSeen = true;
            return;
        }
        if (fields.size() == 1 && fields[0].empty()) return;  // a blank line
        try {
            sender.Add(ToRecord(fields), line);
        } catch (const InvalidRecord& error) {
            throw LineError("line " + std::to_string(line) + ": " + error.what());
        }
    });
    char buffer[65536];
    try {
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error(std::string("cannot read standard input: ") + std::strerror(errno));
            if (n == 0) break;
            parser.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
        parser.Finish();
    } catch (const CsvError& error) {
        throw LineError("line " + std::to_string(error.Line()) + ": " + error.what());
    }
    if (!headerSeen) throw LineError("the input is empty: it needs the header line " + std::string(kCsvHeader));
    sender.Flush();
}

}  // namespace

int RunSend(const std::vector<std::string>& args) {
    const std::string socket = ParseClientSocket(args);
    std::uint64_t taken = 0;
    try {
        LocalClient client(socket);
        struct stat input {};
        const off_t start = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
        if (::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode) && start >= 0) {
            MessageSender check(client, true);
            SendInput(check);
            if (::lseek(STDIN_FILENO, start, SEEK_SET) != start) {
                throw std::runtime_error(std::string("cannot read standard input again: ") + std::strerror(errno));
            }
        }
        MessageSender sender(client, false);
        try {
            SendInput(sender);
        } catch (...) {
            taken = sender.Taken();
            throw;
        }
        taken = sender.Taken();
    } catch (const std::exception& error) {
        std::cerr << "qvrecorder: " << error.what() << "\n";
        std::cout << taken << " records taken\n";
        return kExitFailure;
    }
    std::cout << taken << " records taken\n";
    return 0;
}

}  // namespace qv::recorder
