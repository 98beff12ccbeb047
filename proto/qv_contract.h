// Constants shared by the viewer's client and the Quorvis Service: the
// identities of the remote object, the port, the caller metadata and the
// HRESULTs that travel on the wire (see quorvis.proto).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv::contract {

inline constexpr std::string_view kClassId = "{023A7A55-6BB3-455A-A486-C78CD53165A8}";
inline constexpr std::string_view kQueryInterfaceId = "{51CD9372-CCAE-4194-AA67-C66CBB40B436}";
// Every object answers an interface query for IUnknown as well.
inline constexpr std::string_view kUnknownInterfaceId = "{00000000-0000-0000-C000-000000000046}";

// The service listens here unless told otherwise; a server name without a
// port means this one.
inline constexpr std::uint16_t kDefaultPort = 47913;

// Request metadata key of the caller's claimed user name, as UTF-8 bytes. A
// binary key ("-bin"): gRPC text metadata holds printable ASCII only, and
// account names need not be ASCII.
inline constexpr std::string_view kUserMetadataKey = "quorvis-user-bin";

inline constexpr std::size_t kQueryRequestSize = 56;
inline constexpr std::size_t kProgramInfoRequestSize = 24;

// HRESULTs, as the signed 32-bit numbers the messages carry.
inline constexpr std::int32_t HResult(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kNoInterface = HResult(0x80004002);         // E_NOINTERFACE
inline constexpr std::int32_t kPointer = HResult(0x80004003);             // E_POINTER
inline constexpr std::int32_t kFail = HResult(0x80004005);                // E_FAIL: the store failed
inline constexpr std::int32_t kInvalidArg = HResult(0x80070057);          // E_INVALIDARG: malformed request
inline constexpr std::int32_t kClassNotRegistered = HResult(0x80040154);  // REGDB_E_CLASSNOTREG
inline constexpr std::int32_t kAccessDenied = HResult(0x8001011B);        // RPC_E_ACCESS_DENIED
inline constexpr std::int32_t kServerTooBusy =
    HResult(0x800706BB);  // RPC_S_SERVER_TOO_BUSY: too many calls of one caller
// Not sent by the service: the client's mapping of an unreachable server or
// an elapsed deadline.
inline constexpr std::int32_t kServerUnavailable = HResult(0x800706BA);

// Variant type tags of result values.
enum VariantTag : std::uint32_t {
    kTagEmpty = 0,
    kTagNull = 1,
    kTagInt32 = 3,
    kTagDouble = 5,
    kTagDate = 7,
    kTagText = 8,
    kTagDecimal = 14,
    kTagUInt32 = 19,
    kTagInt64 = 20,
    kTagInt = 22,
    kTagUInt = 23,
    kTagByteArray = 8209,
};

// ADO field type numbers of the result sets.
enum AdoType : std::int32_t {
    kAdoInteger = 3,
    kAdoDouble = 5,
    kAdoBigInt = 20,
    kAdoVarWChar = 202,
    kAdoLongVarBinary = 205,
};

// Rows per streamed batch, and the batch size in bytes past which a batch is
// sent early.
inline constexpr int kRowsPerBatch = 1000;
inline constexpr std::size_t kBatchBytes = 1 << 20;

}  // namespace qv::contract
