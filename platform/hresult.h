#pragma once
// HRESULT: the 32-bit status code of the original platform. Negative means
// failure. The platform stand-ins report failures with these codes rather
// than exceptions, so the data-access layer above can wrap them in its own
// error type.
#include <cstdint>

using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

// Generic COM results.
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

// Activation and remote calls.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHResult(0x80080005);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
inline constexpr HRESULT RPC_E_SERVERFAULT = MakeHResult(0x80010105);
inline constexpr HRESULT RPC_E_ACCESS_DENIED = MakeHResult(0x8001011B);
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);
inline constexpr HRESULT HRESULT_RPC_S_SERVER_UNAVAILABLE = MakeHResult(0x800706BA);
inline constexpr HRESULT HRESULT_RPC_S_CALL_FAILED = MakeHResult(0x800706BE);
inline constexpr HRESULT HRESULT_RPC_S_CALL_FAILED_DNE = MakeHResult(0x800706BF);
inline constexpr HRESULT HRESULT_ERROR_TIMEOUT = MakeHResult(0x800705B4);
inline constexpr HRESULT HRESULT_ERROR_CANCELLED = MakeHResult(0x800704C7);

// Variant conversions.
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);

// Record sets (the data-access library's own codes).
inline constexpr HRESULT ADO_E_INVALID_ARGUMENT = MakeHResult(0x800A0BB9);
inline constexpr HRESULT ADO_E_NO_CURRENT_RECORD = MakeHResult(0x800A0BCD);
inline constexpr HRESULT ADO_E_ITEM_NOT_FOUND = MakeHResult(0x800A0CC1);
inline constexpr HRESULT ADO_E_OBJECT_CLOSED = MakeHResult(0x800A0E78);
