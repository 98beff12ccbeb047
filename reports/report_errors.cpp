#include "reports/report_errors.h"

#include "platform/hresult_text.h"
#include "service/data_access_error.h"
#include "service/message_box.h"

QString ReportErrorText(const std::exception& error) {
    if (const auto* access = dynamic_cast<const DataAccessError*>(&error)) {
        if (!access->Description().empty()) return QString::fromStdString(access->Description());
        const std::string_view known = HResultText(access->Status());
        if (!known.empty()) return QString::fromUtf8(known.data(), static_cast<qsizetype>(known.size()));
    }
    return QString::fromLocal8Bit(error.what());
}

void ShowReportError(const std::exception& error) { ShowMessage(ReportErrorText(error), MessageIcon::Exclamation); }
