#pragma once
// CGridCtrl: the report grid's control. Rows hold cells (CGridItem) with a
// value (a string or a 32-bit integer) and an item data word; a click on a
// column header sorts by that column through the overridable CompareItems.
// A QTableView over a model of the rows, sorted by a QSortFilterProxyModel;
// rows are added without notifying the view and shown by AdjustLayout, so
// filling 100,000 rows costs one model insertion.
//
// The control comes set up as the report grid wants it: clickable header
// with sort indicators (ascending first, a second click descending), whole-
// row single selection in a light blue with dark text, grid lines, no
// editing, no row header, rows of the font's height + 4 (fixed, so that
// 100,000 rows lay out at once), the last column stretched, columns not
// movable (so screen order is definition order).
#include <QTableView>
#include <QVariant>

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

class QPainter;
class QSortFilterProxyModel;
class QStyleOptionViewItem;
class CGridModel;

class CGridItem {
public:
    explicit CGridItem(QVariant value = {}, quintptr data = 0) : value_(std::move(value)), data_(data) {}
    virtual ~CGridItem() = default;
    CGridItem(const CGridItem&) = delete;
    CGridItem& operator=(const CGridItem&) = delete;

    const QVariant& GetValue() const { return value_; }
    void SetValue(QVariant value) { value_ = std::move(value); }
    quintptr GetData() const { return data_; }
    void SetData(quintptr data) { data_ = data; }

    // Draws the value into rect (the cell less its margins). The default
    // draws CellText on one line, vertically centred, elided at the end.
    virtual void OnDrawValue(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option) const;

protected:
    // One line, vertically centred, elided at the end, in the option's text
    // colour (its highlighted text colour when selected).
    static void DrawText(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option, const QString& text);

private:
    QVariant value_;
    quintptr data_;
};

// The text of a cell as Find searches it and the export writes it: a
// string as it is, a 32-bit signed or unsigned integer in signed decimal,
// anything else empty.
QString CellText(const CGridItem& item);

class CGridRow {
public:
    explicit CGridRow(int cellCount);
    CGridRow(const CGridRow&) = delete;
    CGridRow& operator=(const CGridRow&) = delete;

    int GetItemCount() const { return static_cast<int>(items_.size()); }
    // Null when index is out of range or the cell is empty.
    CGridItem* GetItem(int index) const;
    // Takes ownership; the cell held before is destroyed. An index out of
    // range is refused (false) and the item destroyed. A row already shown
    // is redrawn.
    bool ReplaceItem(int index, std::unique_ptr<CGridItem> item);
    quintptr GetData() const { return data_; }
    void SetData(quintptr data) { data_ = data; }

private:
    friend class CGridModel;

    std::vector<std::unique_ptr<CGridItem>> items_;
    quintptr data_ = 0;
    CGridModel* owner_ = nullptr;  // set once the row is in a grid
    int sourceRow_ = -1;           // its place in the order added
};

// A sort column's cells turned once into what their order needs, so that a
// sort does not convert and collate two values per comparison (100,000 rows
// take about 1.7 million). Compare(i, j) answers as CompareItems on cells i
// and j does, for every pair, so that the order is the same.
class CGridSortKeys {
public:
    virtual ~CGridSortKeys() = default;
    virtual int Compare(std::size_t a, std::size_t b) const = 0;
};

class CGridCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CGridCtrl(QWidget* parent = nullptr);
    ~CGridCtrl() override;

    // Columns. A column is inserted at pos (appended when pos is out of
    // range) with its header caption and its width in pixels.
    void InsertColumn(int pos, const QString& caption, int width);
    int GetColumnCount() const;
    // Definition order, whatever order the header shows.
    QString GetColumnName(int column) const;
    // Removes every column and the sort: rows show in the order added.
    void DeleteAllColumns();

    // Rows. CreateRow makes a row with that many empty cells; AddRow takes
    // it and appends it without showing it: AdjustLayout shows every row
    // added since. RemoveAll drops every row at once.
    std::unique_ptr<CGridRow> CreateRow(int cellCount) const;
    void AddRow(std::unique_ptr<CGridRow> row);
    void RemoveAll();
    void AdjustLayout();

    // Rows by position in the order shown (sorted, when sorted).
    int GetRowCount() const;
    CGridRow* GetRow(int position) const;
    // The row at that position shown on screen; -1 when none.
    int GetCurSelPosition() const;
    CGridRow* GetCurSel() const;
    void SetCurSel(int position);
    void EnsureVisible(int position);

    // Sort by a column as a header click does; column -1 (or any column
    // that does not exist) removes the sort. Equal cells keep the order in
    // which their rows were added.
    void Sort(int column, bool ascending = true);
    int SortColumn() const;
    bool IsSortAscending() const;

    // Compares two cells of one column for an ascending sort: negative when
    // a goes first. The default is the grid's own comparison of the values.
    virtual int CompareItems(const CGridItem* a, const CGridItem* b) const;
    // The keys of a column's cells (null where a row has none) for one sort.
    // A subclass that overrides CompareItems overrides this too, so that both
    // give one order; the default keys are those of CompareValues.
    virtual std::unique_ptr<CGridSortKeys> MakeSortKeys(std::span<const CGridItem* const> cells) const;
    // The grid's own comparison: numbers as numbers, strings by the
    // locale's collation ignoring case, an empty cell first.
    static int CompareValues(const QVariant& a, const QVariant& b);

public slots:
    // The selected row's cell texts, tab-separated, onto the clipboard (the
    // Copy command); nothing without a selection.
    void copy() const;

signals:
    // A double click on a row (the row is the current selection by then).
    void RowDoubleClicked(int position);

protected:
    void changeEvent(QEvent* event) override;

private:
    void OnSortIndicatorChanged(int column, Qt::SortOrder order);
    void ApplySort(int column, Qt::SortOrder order);
    void UpdateRowHeight();

    CGridModel* model_;
    QSortFilterProxyModel* proxy_;
    bool settingIndicator_ = false;
};
