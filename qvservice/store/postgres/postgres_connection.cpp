#include "qvservice/store/postgres/postgres_connection.h"

#include "qvservice/store/postgres/postgres_wire.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qv::server::pg {

namespace {
constexpr int kBinaryFormat = 1;
constexpr int kPollSliceMs = 100;
// A server that does not answer a cancel within this is as good as gone
// (a dead network would otherwise hold the request until TCP gives up).
constexpr auto kCancelGrace = std::chrono::seconds(10);
constexpr std::size_t kCopyChunkBytes = std::size_t{64} << 10;
constexpr const char* kConnectTimeoutSeconds = "10";
constexpr const char* kApplicationName = "qvservice";
// Statements kept on the server at once, each a few hundred KB of its memory: the shapes of answer that viewers ask
// for most (a period by kind of tree).
constexpr std::size_t kMostPrepared = 32;

struct CancelDeleter {
    void operator()(PGcancel* cancel) const { PQfreeCancel(cancel); }
};

bool ParsesAsConnectionString(const std::string& uri) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    PQfreemem(error);
    PQconninfoFree(options);
    return options != nullptr;
}
}  // namespace

Connection::Connection(const std::string& uri, std::string name) : name_(std::move(name)) {
    const auto unreachable = [&](const std::string& reason) {
        return StoreError("cannot connect to the store " + name_ + ": " + reason, 0, StoreError::Kind::Unreachable);
    };
    if (MisreadsUserPart(uri)) {
        throw unreachable(
            "libpq reads part of the URI's user name or password as its host or database; write \"@\" "
            "there as %40 and \"/\" as %2F");
    }
    // The URI comes last so that its own settings win over these defaults.
    const char* const keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* const values[] = {kConnectTimeoutSeconds, kApplicationName, uri.c_str(), nullptr};
    connection_.reset(PQconnectdbParams(keys, values, 1));
    if (!connection_) throw unreachable("out of memory");
    if (PQstatus(Handle()) != CONNECTION_OK) {
        const std::string reason = OneLine(PQerrorMessage(Handle()));
        throw unreachable(ParsesAsConnectionString(uri) ? reason : WithoutQuotedText(reason));
    }
    // Notices ("already exists, skipping") are not for the service's log.
    PQsetNoticeProcessor(
        Handle(), [](void*, const char*) {}, nullptr);
    if (PQsetnonblocking(Handle(), 1) != 0) throw unreachable(OneLine(PQerrorMessage(Handle())));
}

bool Connection::Broken() const {
    return PQstatus(Handle()) == CONNECTION_BAD || PQtransactionStatus(Handle()) == PQTRANS_ACTIVE;
}

Result Connection::Run(const std::string& sql, const std::vector<Parameter>& parameters) {
    Sent(SendParameters(sql, parameters));
    return NoCopy(Collect());
}

int Connection::SendParameters(const std::string& sql, const std::vector<Parameter>& parameters) {
    const int count = static_cast<int>(parameters.size());
    std::vector<Oid> types(count);
    std::vector<const char*> values(count);
    std::vector<int> lengths(count);
    const std::vector<int> formats(count, kBinaryFormat);
    for (int k = 0; k < count; ++k) {
        types[k] = parameters[k].type;
        values[k] = parameters[k].null ? nullptr : parameters[k].bytes.data();
        lengths[k] = static_cast<int>(parameters[k].bytes.size());
    }
    const std::string prepared = PreparedName(sql, types);
    if (!prepared.empty()) {
        return PQsendQueryPrepared(Handle(), prepared.c_str(), count, values.data(), lengths.data(), formats.data(),
                                   kBinaryFormat);
    }
    return PQsendQueryParams(Handle(), sql.c_str(), count, types.data(), values.data(), lengths.data(), formats.data(),
                             kBinaryFormat);
}

// Answers repeat a few shapes of query with other values: the server parses
// each shape once and, once a plan for any values does as well as planning
// each time, plans it once too (PostgreSQL's choice). Writes run once a batch
// and are not kept.
std::string Connection::PreparedName(const std::string& sql, const std::vector<Oid>& types) {
    if (!sql.starts_with("SELECT ") && !sql.starts_with("WITH ")) return {};
    std::string key(reinterpret_cast<const char*>(types.data()), types.size() * sizeof(Oid));
    key += sql;
    if (const auto kept = prepared_.find(key); kept != prepared_.end()) return kept->second;
    if (prepared_.size() >= kMostPrepared) {
        // All go at once, outside a transaction, which a failed one would refuse.
        if (PQtransactionStatus(Handle()) != PQTRANS_IDLE) return {};
        Simple("DEALLOCATE ALL");
        prepared_.clear();
    }
    std::string name = "qv" + std::to_string(++preparedCount_);
    Sent(PQsendPrepare(Handle(), name.c_str(), sql.c_str(), static_cast<int>(types.size()), types.data()));
    Collect();
    prepared_.emplace(std::move(key), name);
    return name;
}

Result Connection::Simple(const std::string& sql) {
    Sent(PQsendQuery(Handle(), sql.c_str()));
    return NoCopy(Collect());
}

void Connection::CopyIn(const std::string& sql, std::string_view data) {
    Sent(PQsendQuery(Handle(), sql.c_str()));
    const Result started = Collect();
    if (PQresultStatus(started.get()) != PGRES_COPY_IN) throw std::logic_error("not a COPY FROM STDIN: " + sql);
    while (!data.empty()) {
        const std::string_view chunk = data.substr(0, kCopyChunkBytes);
        const int queued = PQputCopyData(Handle(), chunk.data(), static_cast<int>(chunk.size()));
        if (queued < 0) Fail(nullptr);
        if (queued > 0) data.remove_prefix(chunk.size());
        Flush();
    }
    int ended = 0;
    while ((ended = PQputCopyEnd(Handle(), nullptr)) == 0) Flush();
    if (ended < 0) Fail(nullptr);
    Flush();
    Collect();
}

void Connection::Start(const std::string& sql, const std::vector<Parameter>& parameters) {
    const int accepted = SendParameters(sql, parameters);
    // Only right after the send, before anything is read.
    if (accepted && !PQsetSingleRowMode(Handle())) throw StoreError(name_ + ": cannot read rows one at a time");
    Sent(accepted);
}

Result Connection::NextRow() {
    while (PQisBusy(Handle()) && PQstatus(Handle()) != CONNECTION_BAD) Await(POLLIN);
    Result next(PQgetResult(Handle()));
    if (next && PQresultStatus(next.get()) == PGRES_SINGLE_TUPLE) return next;
    // The statement is over: what follows is read up to the end, so that the
    // connection is free again, and the first failure thrown.
    Result failed;
    for (Result more = std::move(next);;) {
        if (!more) break;
        const ExecStatusType status = PQresultStatus(more.get());
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            throw std::logic_error("a COPY outside a bulk load");
        }
        if (!failed &&
            (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR)) {
            failed = std::move(more);
        }
        while (PQisBusy(Handle()) && PQstatus(Handle()) != CONNECTION_BAD) Await(POLLIN);
        more.reset(PQgetResult(Handle()));
    }
    if (failed) Fail(failed.get());
    if (PQstatus(Handle()) == CONNECTION_BAD) Fail(nullptr);
    return nullptr;
}

void Connection::Sent(int accepted) {
    cancelledAt_.reset();
    if (!accepted) Fail(nullptr);
    Flush();
}

void Connection::Flush() {
    for (;;) {
        const int pending = PQflush(Handle());
        if (pending == 0) return;
        if (pending < 0) Fail(nullptr);
        Await(POLLIN | POLLOUT);
    }
}

// Waits one slice at most for the socket, asking first whether to stop.
void Connection::Await(short events) {
    if (cancelledAt_ && std::chrono::steady_clock::now() - *cancelledAt_ > kCancelGrace) {
        throw StoreError(name_ + ": the database did not stop a statement when asked to", 0,
                         StoreError::Kind::ConnectionLost);
    }
    if (interrupted_ && !cancelledAt_ && interrupted_()) {
        cancelledAt_ = std::chrono::steady_clock::now();
        const std::unique_ptr<PGcancel, CancelDeleter> cancel(PQgetCancel(Handle()));
        char error[256] = "";
        if (!cancel || !PQcancel(cancel.get(), error, sizeof error)) {
            throw StoreError(name_ + ": cannot stop a statement: " + OneLine(error));
        }
    }
    pollfd watch{PQsocket(Handle()), events, 0};
    if (watch.fd < 0) Fail(nullptr);
    const int ready = poll(&watch, 1, kPollSliceMs);
    if (ready < 0 && errno != EINTR)
        throw StoreError(name_ + ": cannot wait for the database: " + std::strerror(errno));
    // When reading fails for a lost server, the next result tells why.
    if (ready > 0 && (watch.revents & ~POLLOUT) != 0 && !PQconsumeInput(Handle()) &&
        PQstatus(Handle()) != CONNECTION_BAD) {
        Fail(nullptr);
    }
}

// The results of what was sent: the last one, or the first failure thrown.
Result Connection::Collect() {
    Result last;
    Result failed;
    for (;;) {
        while (PQisBusy(Handle()) && PQstatus(Handle()) != CONNECTION_BAD) Await(POLLIN);
        Result next(PQgetResult(Handle()));
        if (!next) break;
        const ExecStatusType status = PQresultStatus(next.get());
        const bool copying = status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH;
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR) {
            if (!failed) failed = std::move(next);
        } else {
            last = std::move(next);
        }
        if (copying) break;  // no more results until the COPY's data is through
    }
    if (failed) Fail(failed.get());
    if (!last) Fail(nullptr);
    return last;
}

// A COPY reached through a statement leaves the connection waiting for data
// (Broken then says so): only CopyIn may start one.
Result Connection::NoCopy(Result result) const {
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
        throw std::logic_error("a COPY outside a bulk load");
    }
    return result;
}

void Connection::Fail(const PGresult* result) const {
    // libpq's own message gathers every later complaint after the first line.
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string_view message = primary ? primary : PQerrorMessage(Handle());
    const std::string reason = OneLine(message.substr(0, message.find('\n')));
    if (PQstatus(Handle()) == CONNECTION_BAD) {
        throw StoreError(name_ + ": the connection to the database was lost (" + reason + ")", 0,
                         StoreError::Kind::ConnectionLost);
    }
    throw StoreError(name_ + ": " + reason);
}

}  // namespace qv::server::pg
