#pragma once
// How a failed report run reaches the operator: one message box with the
// failure's own description. The view stays usable for the next Refresh.
#include <QString>

#include <exception>

// The text shown for a failure: a data-access error's description (else
// its status text), any other error's message.
QString ReportErrorText(const std::exception& error);
void ShowReportError(const std::exception& error);
