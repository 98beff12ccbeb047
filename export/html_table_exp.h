#pragma once
// The HTML writer of an exported report: page opening with the title and a
// vendor link, one table, page closing. The title, cell texts and picture
// path are escaped (& < > " ') so that report data cannot break or inject
// markup; everything else is written exactly as the page layout demands.
#include "export/table_export.h"

class CHTMLTableExp : public CTableExport {
public:
    // Writes the page opening unless the file could not be opened.
    CHTMLTableExp(const QString& path, const QString& title);
    ~CHTMLTableExp() override;

    void BeginRow() override;
    void EndRow() override;
    // Style bits: 1 th instead of td, 2 strong, 4 u, 8 em.
    void WriteCell(const QString& text, unsigned style, unsigned fontSize) override;
    std::uint32_t Close() override;

    virtual void BeginTable();
    virtual void EndTable();
    virtual void WriteImage(const QString& path, unsigned height, unsigned width);

private:
    bool tableOpen_ = false;
};
