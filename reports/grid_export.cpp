#include "reports/grid_export.h"

#include "export/table_export.h"
#include "platform/variant.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "ui/grid_ctrl.h"

#include <vector>

namespace {

constexpr unsigned kHeaderStyle = 2;  // bold
constexpr unsigned kFontSize = 2;

// The time value behind a "Time Spent" cell, as the reports attach it.
QString Milliseconds(const CGridItem* item) {
    if (!item || !item->GetData()) return {};
    const auto* value = reinterpret_cast<const Variant*>(item->GetData());
    if (value->Type() != VT_R8) return {};
    return QString::number(value->Real(), 'f', 0);
}

}  // namespace

QString ProposedExportName(const QString& title) {
    QString name = title;
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    name.remove(QLatin1Char('/'));
    return name + QStringLiteral(".htm");
}

void WriteGridTable(CTableExport& out, const CGridCtrl& grid, TableLayout layout) {
    const bool csv = layout == TableLayout::Csv;
    const int columns = grid.GetColumnCount();
    const QString timeSpent = LoadResString(kIdsTimeSpent);
    std::vector<bool> withMilliseconds(static_cast<std::size_t>(columns), false);
    for (int column = 0; column < columns; ++column) {
        const QString name = grid.GetColumnName(column);
        out.WriteCell(name, kHeaderStyle, kFontSize);
        if (csv && name == timeSpent) {
            withMilliseconds[static_cast<std::size_t>(column)] = true;
            out.WriteCell(name + QStringLiteral(" (ms)"), kHeaderStyle, kFontSize);
        }
    }
    for (int position = 0; position < grid.GetRowCount(); ++position) {
        const CGridRow* row = grid.GetRow(position);
        if (!row) continue;
        out.BeginRow();
        for (int column = 0; column < columns; ++column) {
            const CGridItem* item = row->GetItem(column);
            if (item)
                out.WriteCell(CellText(*item), 0, kFontSize);
            else if (csv)
                out.WriteCell(QString(), 0, kFontSize);
            if (withMilliseconds[static_cast<std::size_t>(column)]) out.WriteCell(Milliseconds(item), 0, kFontSize);
        }
        out.EndRow();
    }
}
