#pragma once
// The data-access error: every failing service call, result-set call or
// value conversion raises it, with the 32-bit status and, where the failing
// object gave one, its description. Loaders and Connect catch it; reports
// let it pass to their caller.
#include "platform/hresult.h"

#include <stdexcept>
#include <string>

class DataAccessError : public std::runtime_error {
public:
    DataAccessError(HRESULT status, std::string description);

    HRESULT Status() const noexcept { return status_; }
    // The failing object's text; empty when it gave none.
    const std::string& Description() const noexcept { return description_; }

private:
    HRESULT status_;
    std::string description_;
};

// Raises the error for a failed status; does nothing for success.
void CheckStatus(HRESULT status, const std::string& description = {});
