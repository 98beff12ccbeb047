#include "service/data_access_error.h"

#include "platform/hresult_text.h"

#include <cstdio>

namespace {

// "0x80004003 Invalid pointer: <description>": the status always, so that a
// message box can show what failed even without a description.
std::string Render(HRESULT status, const std::string& description) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    std::string text = code;
    std::string_view known = HResultText(status);
    if (!known.empty()) text.append(" ").append(known);
    if (!description.empty()) text.append(": ").append(description);
    return text;
}

}  // namespace

DataAccessError::DataAccessError(HRESULT status, std::string description)
    : std::runtime_error(Render(status, description)), status_(status), description_(std::move(description)) {}

void CheckStatus(HRESULT status, const std::string& description) {
    if (status < 0) throw DataAccessError(status, description);
}
