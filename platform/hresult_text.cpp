#include "platform/hresult_text.h"

#include <algorithm>
#include <iterator>

namespace {

struct Message {
    HRESULT code;
    std::string_view text;
};

// Sorted by code as an unsigned number, for the binary search below.
constexpr Message kMessages[] = {
    {S_OK, "The operation completed successfully."},
    {MakeHResult(0x80004001), "Not implemented"},
    {MakeHResult(0x80004002), "No such interface supported"},
    {MakeHResult(0x80004003), "Invalid pointer"},
    {MakeHResult(0x80004004), "Operation aborted"},
    {MakeHResult(0x80004005), "Unspecified error"},
    {MakeHResult(0x8000FFFF), "Catastrophic failure"},
    {MakeHResult(0x80010105), "The server threw an exception."},
    {MakeHResult(0x80010108), "The object invoked has disconnected from its clients."},
    {MakeHResult(0x8001011B), "Access is denied."},
    {MakeHResult(0x8001011F), "This operation returned because the timeout period expired."},
    {MakeHResult(0x80020005), "Type mismatch."},
    {MakeHResult(0x80020008), "Bad variable type."},
    {MakeHResult(0x80020009), "Exception occurred."},
    {MakeHResult(0x8002000A), "Out of present range."},
    {MakeHResult(0x80040154), "Class not registered"},
    {MakeHResult(0x80070002), "The system cannot find the file specified."},
    {MakeHResult(0x80070005), "Access is denied."},
    {MakeHResult(0x80070006), "The handle is invalid."},
    {MakeHResult(0x8007000E), "Not enough memory resources are available to complete this operation."},
    {MakeHResult(0x80070035), "The network path was not found."},
    {MakeHResult(0x80070057), "The parameter is incorrect."},
    {MakeHResult(0x800704C7), "The operation was canceled by the user."},
    {MakeHResult(0x800705B4), "This operation returned because the timeout period expired."},
    {MakeHResult(0x800706BA), "The RPC server is unavailable."},
    {MakeHResult(0x800706BE), "The remote procedure call failed."},
    {MakeHResult(0x800706BF), "The remote procedure call failed and did not execute."},
    {MakeHResult(0x80080005), "Server execution failed"},
    {MakeHResult(0x800A0BB9),
     "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another."},
    {MakeHResult(0x800A0BCD),
     "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
     "record."},
    {MakeHResult(0x800A0CC1), "Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {MakeHResult(0x800A0E78), "Operation is not allowed when the object is closed."},
};

constexpr std::uint32_t Key(HRESULT hr) { return static_cast<std::uint32_t>(hr); }

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const Message& a, const Message& b) { return Key(a.code) < Key(b.code); }),
              "the message table must stay sorted by code");

}  // namespace

std::string_view HResultText(HRESULT hr) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), Key(hr),
                               [](const Message& m, std::uint32_t key) { return Key(m.code) < key; });
    if (it != std::end(kMessages) && it->code == hr) return it->text;
    return {};
}
