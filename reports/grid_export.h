#pragma once
// A report grid as an export table, shared by the viewer's Export Report
// and the command-line report: the header cells, then one row per grid row
// in the order shown, each cell's text as Find sees it.
#include <QString>

class CGridCtrl;
class CTableExport;

enum class TableLayout {
    Html,  // header cells in bold, a missing cell writes nothing
    Csv,   // a field for every column, and the raw milliseconds after "Time Spent"
};

// The caption as a file name: "\" becomes "-", "/" goes, ".htm" follows.
QString ProposedExportName(const QString& title);

void WriteGridTable(CTableExport& out, const CGridCtrl& grid, TableLayout layout);
