#pragma once
// The system's message text for a status code, as the platform words it
// (without the trailing line break). Stands in for the system message table:
// it covers the codes this viewer can meet and gives an empty text for any
// other code.
#include "platform/hresult.h"

#include <string_view>

std::string_view HResultText(HRESULT hr);
