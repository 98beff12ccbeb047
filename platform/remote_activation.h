#pragma once
// Remote activation of the Quorvis Service's object over gRPC, standing in
// for remote COM activation: a server name becomes a channel, the class id
// and one interface id travel with every call, and every outcome is an
// HRESULT. Transport failures (unreachable or unresolvable server, elapsed
// deadline) become 0x800706BA, as an unavailable RPC server does.
#include "platform/hresult.h"
#include "platform/recordset.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// "host" -> "host:47913"; "host:port", "[v6]:port" and "[v6]" are accepted.
// Empty text for a name that cannot be a target (empty, blanks, a bad port).
std::string ChannelTarget(std::string_view serverName);

// How a call waits for its answer. The default blocks the calling thread;
// the viewer installs one that keeps its windows painted meanwhile.
using CallWaiter = std::function<void(std::future<void>& answer)>;
void SetCallWaiter(CallWaiter waiter);  // an empty waiter restores the default

// TLS for the channel, as PEM texts. Without a CA the channel is plain
// text. With one, the service's certificate must be signed by it and name
// the host of the server name; the caller's certificate and key go along
// when given, and the service then knows the caller by its certificate.
struct ChannelSecurity {
    std::string caPem;
    std::string certPem;
    std::string keyPem;
};

// The most one answer may hold: far above any real report, low enough that a
// service streaming without end fails the call instead of exhausting memory.
inline constexpr std::size_t kMaxAnswerRows = 2'000'000;
inline constexpr std::size_t kMaxAnswerBytes = std::size_t{256} << 20;  // as encoded on the wire

// How long a call waits, and how much its answer may hold.
struct RemoteDeadlines {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds call{120'000};
    std::size_t maxRows = kMaxAnswerRows;
    std::size_t maxBytes = kMaxAnswerBytes;
};

// The outcome of one operation: a status, the failing side's description,
// and on success the answer.
struct RemoteAnswer {
    HRESULT hr = S_OK;
    std::string description;
    std::unique_ptr<Recordset> recordset;
};

class RemoteObject {
public:
    virtual ~RemoteObject() = default;
    // The interface query: S_OK or E_NOINTERFACE, 0x8001011B, ...
    virtual HRESULT QueryInterface(std::string_view interfaceId, std::string& description) = 0;
    virtual RemoteAnswer Query(std::span<const std::byte> request) = 0;
    virtual RemoteAnswer QueryProgramInfo(std::span<const std::byte> request) = 0;
};

struct ActivationResult {
    HRESULT hr = S_OK;
    std::string description;
    std::shared_ptr<RemoteObject> object;  // set when hr is not a failure
};

// Stops the transport's own log lines (a failed handshake's details, which
// the activation's description repeats) from reaching standard error; an
// internal assertion is still written before the transport aborts.
void SilenceTransportLog();

// Activates classId on serverName asking for interfaceId. The caller's
// claimed user name is the login name of this process's user. A failed TLS
// handshake, like any failed connection, is 0x800706BA; the transport's
// reason is in the description.
ActivationResult ActivateRemoteObject(std::string_view serverName, std::string_view classId,
                                      std::string_view interfaceId, RemoteDeadlines deadlines = {},
                                      const ChannelSecurity& security = {});
