#pragma once
// The link from tree objects to the reports they show. The report view
// installs the maker; a tree object asks it for the report of its kind and
// has it run. Without a maker no report is built.
class CTreeObject;
class QObject;

enum class ReportKind { User, Workstation, Computer, Program, Application, AppUser };

class IReportMaker {
public:
    virtual ~IReportMaker() = default;
    // A new report for the item, owned by the caller; null when none.
    virtual QObject* MakeReport(ReportKind kind, CTreeObject& item) = 0;
    // Runs the report; a failure is told to the operator, never raised.
    virtual void RunReport(QObject& report) = 0;
};

// Not owned; null removes it. The maker must outlive its installation.
void SetReportMaker(IReportMaker* maker);
IReportMaker* ReportMaker();
