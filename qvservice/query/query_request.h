// The two requests of the wire contract, read from their exact bytes.
#pragma once

#include "proto/query_request.h"
#include "qvservice/model/time_buckets.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::server {

struct ActivityRequest {
    QueryKind kind = QueryKind::Users;
    std::uint32_t computerId = 0;  // 0 = any
    std::uint32_t userId = 0;
    std::uint32_t programId = 0;
    std::optional<MsRange> period;  // none = all time; may be empty (from >= to)
};

// A request the service cannot answer; its text is the error description.
class InvalidRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

ActivityRequest ParseActivityRequest(std::string_view bytes);
// The program id of a program-information request.
std::uint32_t ParseProgramInfoRequest(std::string_view bytes);

// The bytes of a request, as a client lays them out; for tests and tools.
std::string EncodeActivityRequest(std::int32_t kind, std::uint32_t computerId, std::uint32_t userId,
                                  std::uint32_t programId, double periodStart, double periodEnd);
std::string EncodeProgramInfoRequest(std::uint32_t programId);

}  // namespace qv::server
