#include "query_request.h"

#include "qv_contract.h"

#include <bit>
#include <cstring>

namespace qv::server {

namespace {

constexpr std::int32_t kProgramInfoKind = 2;
constexpr std::size_t kComputerOffset = 4;
constexpr std::size_t kUserOffset = 8;
constexpr std::size_t kProgramOffset = 12;
constexpr std::size_t kStartOffset = 24;
constexpr std::size_t kEndOffset = 32;
constexpr std::size_t kProgramInfoIdOffset = 4;

static_assert(std::endian::native == std::endian::little, "requests are read in the machine's byte order");

template <typename T>
T ReadAt(std::string_view bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

template <typename T>
void WriteAt(std::string& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

std::int64_t PeriodEdge(double oleDate, const char* which) {
  const auto ms = LocalOleDateToEpochMs(oleDate);
  if (!ms) throw InvalidRequest(std::string("The period ") + which + " is not a valid date.");
  return *ms;
}

}  // namespace

ActivityRequest ParseActivityRequest(std::string_view bytes) {
  if (bytes.size() != contract::kQueryRequestSize) {
    throw InvalidRequest("A query request is " + std::to_string(contract::kQueryRequestSize) + " bytes long, not " +
                         std::to_string(bytes.size()) + ".");
  }
  const auto kind = ReadAt<std::int32_t>(bytes, 0);
  if (kind < static_cast<std::int32_t>(QueryKind::Users) || kind > static_cast<std::int32_t>(QueryKind::WindowTitles)) {
    throw InvalidRequest("Unknown query kind " + std::to_string(kind) + ".");
  }
  ActivityRequest request;
  request.kind = static_cast<QueryKind>(kind);
  request.computerId = ReadAt<std::uint32_t>(bytes, kComputerOffset);
  request.userId = ReadAt<std::uint32_t>(bytes, kUserOffset);
  request.programId = ReadAt<std::uint32_t>(bytes, kProgramOffset);
  const auto start = ReadAt<double>(bytes, kStartOffset);
  const auto end = ReadAt<double>(bytes, kEndOffset);
  if (start != 0.0 || end != 0.0) request.period = MsRange{PeriodEdge(start, "start"), PeriodEdge(end, "end")};
  return request;
}

std::uint32_t ParseProgramInfoRequest(std::string_view bytes) {
  if (bytes.size() != contract::kProgramInfoRequestSize) {
    throw InvalidRequest("A program-information request is " + std::to_string(contract::kProgramInfoRequestSize) +
                         " bytes long, not " + std::to_string(bytes.size()) + ".");
  }
  const auto kind = ReadAt<std::int32_t>(bytes, 0);
  if (kind != kProgramInfoKind) {
    throw InvalidRequest("Unknown program-information kind " + std::to_string(kind) + ".");
  }
  return ReadAt<std::uint32_t>(bytes, kProgramInfoIdOffset);
}

std::string EncodeActivityRequest(std::int32_t kind, std::uint32_t computerId, std::uint32_t userId,
                                  std::uint32_t programId, double periodStart, double periodEnd) {
  std::string bytes(contract::kQueryRequestSize, '\0');
  WriteAt(bytes, 0, kind);
  WriteAt(bytes, kComputerOffset, computerId);
  WriteAt(bytes, kUserOffset, userId);
  WriteAt(bytes, kProgramOffset, programId);
  WriteAt(bytes, kStartOffset, periodStart);
  WriteAt(bytes, kEndOffset, periodEnd);
  return bytes;
}

std::string EncodeProgramInfoRequest(std::uint32_t programId) {
  std::string bytes(contract::kProgramInfoRequestSize, '\0');
  WriteAt(bytes, 0, kProgramInfoKind);
  WriteAt(bytes, kProgramInfoIdOffset, programId);
  return bytes;
}

}  // namespace qv::server
