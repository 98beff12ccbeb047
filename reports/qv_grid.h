#pragma once
// CQVGrid: the report grid. Cells whose item data points at a Variant (the
// "Time Spent" cells, pointing at the report's milliseconds) sort by that
// value instead of their text; everything else sorts as the stock grid does.
// CIconGridItem: a cell that draws a small icon before its text.
#include "ui/grid_ctrl.h"

#include <QPixmap>

class CQVGrid : public CGridCtrl {
    Q_OBJECT
public:
    using CGridCtrl::CGridCtrl;

    int CompareItems(const CGridItem* a, const CGridItem* b) const override;
    std::unique_ptr<CGridSortKeys> MakeSortKeys(std::span<const CGridItem* const> cells) const override;
};

class CIconGridItem : public CGridItem {
public:
    CIconGridItem(QVariant value, QPixmap icon, quintptr data = 0);

    // The icon in a square of the rect's height at its left, then a string
    // value on one line after it; any other value draws no text.
    void OnDrawValue(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option) const override;
    const QPixmap& Icon() const { return icon_; }

private:
    QPixmap icon_;
};
