#pragma once
// What the report view needs from the window around it: the application's
// report period, and the current tree pane's selection. The main frame
// provides it; tests provide their own.
#include "service/report_period.h"

#include <QtGlobal>

class CTreeObject;

class IReportHost {
public:
    virtual ~IReportHost() = default;
    // The current period, recomputed from the clock for types 0-3.
    virtual bool GetPeriod(ReportPeriod& period) = 0;
    virtual bool SetPeriod(const ReportPeriod& period) = 0;
    // The object of the item selected in the current pane. With nothing
    // selected the first item gets selected (showing its report) and the
    // answer is null.
    virtual CTreeObject* GetSelectedObject() = 0;
    virtual void SelectFirstItem() = 0;
    // Opens the selected item and selects its child with that id, if any.
    virtual void SelectChildById(quint32 id) = 0;
};
