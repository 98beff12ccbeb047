#include "trees/report_maker.h"

namespace {
IReportMaker* installedMaker = nullptr;
}

void SetReportMaker(IReportMaker* maker) { installedMaker = maker; }

IReportMaker* ReportMaker() { return installedMaker; }
