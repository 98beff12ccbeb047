#pragma once
// The two request records of the Quorvis Service's query interface, shared by
// the viewer, qvreport and the service. They travel as their exact
// little-endian bytes, so their layout is fixed here and checked at compile
// time.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "proto/qv_contract.h"

static_assert(std::endian::native == std::endian::little, "request records are sent as their in-memory bytes");

enum class QueryKind : std::int32_t {
    Users = 0,
    Computers = 1,
    Programs = 2,
    ProgramDetails = 3,  // window titles of one program
};
inline constexpr QueryKind kLastQueryKind = QueryKind::ProgramDetails;

// Zero-filled by construction: the unused words must reach the service as 0.
struct QueryRequest {
    std::int32_t kind = 0;
    std::uint32_t computerId = 0;
    std::uint32_t userId = 0;
    std::uint32_t programId = 0;
    std::uint8_t reserved1[8] = {};
    double periodStart = 0.0;  // OLE Automation date; 0 in tree loads
    double periodEnd = 0.0;
    std::uint8_t reserved2[16] = {};
};

static_assert(sizeof(QueryRequest) == qv::contract::kQueryRequestSize);
static_assert(offsetof(QueryRequest, kind) == 0);
static_assert(offsetof(QueryRequest, computerId) == 4);
static_assert(offsetof(QueryRequest, userId) == 8);
static_assert(offsetof(QueryRequest, programId) == 12);
static_assert(offsetof(QueryRequest, reserved1) == 16);
static_assert(offsetof(QueryRequest, periodStart) == 24);
static_assert(offsetof(QueryRequest, periodEnd) == 32);
static_assert(offsetof(QueryRequest, reserved2) == 40);

// The program-information request: kind 2, the program id, four zero words.
struct ProgramInfoRequest {
    std::int32_t kind = static_cast<std::int32_t>(QueryKind::Programs);
    std::uint32_t programId = 0;
    std::uint32_t reserved[4] = {};
};

static_assert(sizeof(ProgramInfoRequest) == qv::contract::kProgramInfoRequestSize);
static_assert(offsetof(ProgramInfoRequest, programId) == 4);
static_assert(offsetof(ProgramInfoRequest, reserved) == 8);

template <typename Record>
std::array<std::byte, sizeof(Record)> RequestBytes(const Record& record) {
    std::array<std::byte, sizeof(Record)> bytes;
    std::memcpy(bytes.data(), &record, sizeof(Record));
    return bytes;
}
