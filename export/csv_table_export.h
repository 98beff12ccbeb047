#pragma once
// RFC 4180 CSV for the command-line report: UTF-8 whatever the locale, no
// BOM, CR LF after every record. Cells written before the first BeginRow
// form the header record. A field that begins with = + - @, a tab or a CR
// gets a leading ' so that a spreadsheet takes it as text, not as a formula:
// window titles and names come from the monitored users.
#include "export/table_export.h"

class CCsvTableExport : public CTableExport {
public:
    explicit CCsvTableExport(const QString& path);
    ~CCsvTableExport() override;

    void BeginRow() override;
    void EndRow() override;
    // Style and font size mean nothing in CSV.
    void WriteCell(const QString& text, unsigned style, unsigned fontSize) override;
    std::uint32_t Close() override;

private:
    void EndRecord();

    bool recordOpen_ = false;
    bool firstField_ = true;
};
