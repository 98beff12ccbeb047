// One libpq connection driven without blocking: every command is sent, then
// waited for in short slices, so that an interrupt can cancel it and a lost
// server is told apart from a refused statement.
#pragma once

#include "qvservice/store/store_database.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv::server::pg {

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

struct Parameter {
    Oid type = 0;  // 0: left to the server
    bool null = true;
    std::string bytes;
};

class Connection {
public:
    // uri: a libpq connection string; name: the store as messages call it.
    // Throws StoreError (kind Unreachable).
    Connection(const std::string& uri, std::string name);

    const std::string& Name() const { return name_; }
    // Returns the one it replaces.
    std::function<bool()> ReplaceInterrupt(std::function<bool()> interrupted) {
        return std::exchange(interrupted_, std::move(interrupted));
    }
    // Lost, or left in the middle of a command by an error: of no further use.
    bool Broken() const;

    // The calls below throw StoreError: kind ConnectionLost when the
    // connection broke, else Failed. Results are never null.
    // One statement with parameters; rows in binary form, all in memory.
    Result Run(const std::string& sql, const std::vector<Parameter>& parameters);
    // Statements separated by ";", without parameters; the last one's result.
    Result Simple(const std::string& sql);
    // One COPY ... FROM STDIN and all its data.
    void CopyIn(const std::string& sql, std::string_view data);

    // One statement whose rows come one at a time (libpq's single-row mode),
    // so that no answer is ever held whole. The connection takes no other
    // command until NextRow has returned null or thrown.
    void Start(const std::string& sql, const std::vector<Parameter>& parameters);
    // A result holding the next row; null after the last.
    Result NextRow();

private:
    struct ConnectionDeleter {
        void operator()(PGconn* connection) const { PQfinish(connection); }
    };
    PGconn* Handle() const { return connection_.get(); }
    int SendParameters(const std::string& sql, const std::vector<Parameter>& parameters);
    // The name the server keeps the statement under; empty for one it does not keep.
    std::string PreparedName(const std::string& sql, const std::vector<Oid>& types);
    void Sent(int accepted);
    void Flush();
    void Await(short events);
    Result Collect();
    Result NoCopy(Result result) const;
    [[noreturn]] void Fail(const PGresult* result) const;

    std::string name_;
    std::unique_ptr<PGconn, ConnectionDeleter> connection_;
    std::function<bool()> interrupted_;
    // When the command under way was asked to stop; empty while it was not.
    std::optional<std::chrono::steady_clock::time_point> cancelledAt_;
    // Statements the server keeps parsed, by their parameters' types and text.
    std::unordered_map<std::string, std::string> prepared_;
    std::uint64_t preparedCount_ = 0;
};

}  // namespace qv::server::pg
