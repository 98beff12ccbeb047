#include "ui/grid_ctrl.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <utility>

// ---------------------------------------------------------------- cells, rows

void CGridItem::DrawText(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option,
                         const QString& text) {
    if (text.isEmpty() || rect.width() <= 0) return;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    const QPalette::ColorRole role =
        (option.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    painter.setPen(option.palette.color(group, role));
    painter.setFont(option.font);
    const QFontMetrics metrics(option.font);
    const QString shown = metrics.elidedText(text, Qt::ElideRight, rect.width(), Qt::TextSingleLine);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void CGridItem::OnDrawValue(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option) const {
    DrawText(painter, rect, option, CellText(*this));
}

QString CellText(const CGridItem& item) {
    const QVariant& value = item.GetValue();
    switch (value.typeId()) {
        case QMetaType::QString: return value.toString();
        case QMetaType::Int: return QString::number(value.toInt());
        case QMetaType::UInt:
            // The export writes unsigned counts the way printf("%d") did.
            return QString::number(static_cast<qint32>(value.toUInt()));
        default: return {};
    }
}

CGridRow::CGridRow(int cellCount) : items_(static_cast<std::size_t>(std::max(cellCount, 0))) {}

CGridItem* CGridRow::GetItem(int index) const {
    if (index < 0 || index >= GetItemCount()) return nullptr;
    return items_[static_cast<std::size_t>(index)].get();
}

// ---------------------------------------------------------------- model

class CGridModel : public QAbstractTableModel {
public:
    explicit CGridModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : shown_; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(captions_.size());
    }

    // Without the checks' virtual calls: a sort asks for millions of indexes.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        if (parent.isValid() || row < 0 || row >= shown_ || column < 0 || column >= static_cast<int>(captions_.size()))
            return {};
        return createIndex(row, column);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
        const CGridItem* item = Item(index.row(), index.column());
        return item ? QVariant(CellText(*item)) : QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
        if (role == Qt::DisplayRole) return captions_[static_cast<std::size_t>(section)];
        if (role == Qt::InitialSortOrderRole)  // a first click on a header sorts ascending
            return static_cast<int>(Qt::AscendingOrder);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    // Source (added) order; only shown rows.
    CGridRow* Row(int sourceRow) const {
        if (sourceRow < 0 || sourceRow >= shown_) return nullptr;
        return rows_[static_cast<std::size_t>(sourceRow)].get();
    }
    const CGridItem* Item(int sourceRow, int column) const {
        const CGridRow* row = Row(sourceRow);
        return row ? row->GetItem(column) : nullptr;
    }

    void InsertColumn(int pos, const QString& caption) {
        beginInsertColumns({}, pos, pos);
        captions_.insert(captions_.begin() + pos, caption);
        endInsertColumns();
    }
    QString Caption(int column) const {
        return column >= 0 && column < columnCount() ? captions_[static_cast<std::size_t>(column)] : QString();
    }
    void RemoveColumns() {
        if (captions_.empty()) return;
        beginRemoveColumns({}, 0, columnCount() - 1);
        captions_.clear();
        endRemoveColumns();
    }

    void Append(std::unique_ptr<CGridRow> row) {
        row->owner_ = this;
        row->sourceRow_ = static_cast<int>(rows_.size());
        rows_.push_back(std::move(row));
    }
    bool Publish() {
        const int total = static_cast<int>(rows_.size());
        if (total == shown_) return false;
        beginInsertRows({}, shown_, total - 1);
        shown_ = total;
        endInsertRows();
        return true;
    }
    void Clear() {
        beginResetModel();
        rows_.clear();
        shown_ = 0;
        endResetModel();
    }
    void CellChanged(const CGridRow& row, int column) {
        if (row.sourceRow_ < 0 || row.sourceRow_ >= shown_ || column >= columnCount()) return;
        const QModelIndex cell = index(row.sourceRow_, column);
        emit dataChanged(cell, cell);
    }

private:
    std::vector<QString> captions_;
    std::vector<std::unique_ptr<CGridRow>> rows_;
    int shown_ = 0;  // rows the view knows of; the rest wait for Publish
};

bool CGridRow::ReplaceItem(int index, std::unique_ptr<CGridItem> item) {
    if (index < 0 || index >= GetItemCount()) return false;
    items_[static_cast<std::size_t>(index)] = std::move(item);
    if (owner_) owner_->CellChanged(*this, index);
    return true;
}

namespace {

// ---------------------------------------------------------------- sorting

class GridSortProxy : public QSortFilterProxyModel {
public:
    GridSortProxy(const CGridCtrl& grid, const CGridModel& model, QObject* parent)
        : QSortFilterProxyModel(parent), grid_(grid), model_(model) {}

    // The order is settled here, from the column's keys and the rows in the
    // order added (so equal cells keep that order, whatever the sort before),
    // with the comparisons that Qt's own stable sort would make. Qt then
    // only follows the ranks.
    void sort(int column, Qt::SortOrder order) override {
        if (column >= 0 && column < model_.columnCount()) {
            const int rows = model_.rowCount();
            std::vector<const CGridItem*> cells(static_cast<std::size_t>(rows));
            for (int i = 0; i < rows; ++i) cells[static_cast<std::size_t>(i)] = model_.Item(i, column);
            const std::unique_ptr<CGridSortKeys> keys = grid_.MakeSortKeys(cells);
            std::vector<int> sorted(cells.size());
            std::iota(sorted.begin(), sorted.end(), 0);
            const auto key = [](int row) { return static_cast<std::size_t>(row); };
            if (order == Qt::AscendingOrder)
                std::stable_sort(sorted.begin(), sorted.end(),
                                 [&](int a, int b) { return keys->Compare(key(a), key(b)) < 0; });
            else
                std::stable_sort(sorted.begin(), sorted.end(),
                                 [&](int a, int b) { return keys->Compare(key(a), key(b)) > 0; });
            rank_.resize(sorted.size());
            for (std::size_t i = 0; i < sorted.size(); ++i) rank_[key(sorted[i])] = static_cast<int>(i);
            ranksDescending_ = order == Qt::DescendingOrder;
        }
        QSortFilterProxyModel::sort(column, order);
        rank_.clear();
        rank_.shrink_to_fit();
    }

protected:
    // Qt asks lessThan(right, left) for a descending sort; answering with the
    // arguments swapped back keeps CompareItems seeing cells in row order and
    // makes descending its exact negation, so equal cells stay in added order
    // both ways. Outside sort() (Qt sorting rows being added) the cells are
    // compared directly.
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
        if (!rank_.empty()) {
            const int l = rank_[static_cast<std::size_t>(left.row())];
            const int r = rank_[static_cast<std::size_t>(right.row())];
            return ranksDescending_ ? r < l : l < r;
        }
        if (sortOrder() == Qt::DescendingOrder) return Compare(right, left) > 0;
        return Compare(left, right) < 0;
    }

private:
    int Compare(const QModelIndex& a, const QModelIndex& b) const {
        return grid_.CompareItems(model_.Item(a.row(), a.column()), model_.Item(b.row(), b.column()));
    }

    const CGridCtrl& grid_;
    const CGridModel& model_;
    std::vector<int> rank_;  // each row's place, during sort()
    bool ranksDescending_ = false;
};

// ---------------------------------------------------------------- painting

class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(const CGridModel& model, const QSortFilterProxyModel& proxy, QObject* parent)
        : QStyledItemDelegate(parent), model_(model), proxy_(proxy) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();  // the cell draws its own value
        opt.features &= ~QStyleOptionViewItem::HasDisplay;
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        const QModelIndex source = proxy_.mapToSource(index);
        const CGridItem* item = model_.Item(source.row(), source.column());
        if (!item) return;
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect rect = opt.rect.adjusted(margin, 0, -margin, 0);
        painter->save();
        painter->setClipRect(opt.rect, Qt::IntersectClip);
        item->OnDrawValue(*painter, rect, opt);
        painter->restore();
    }

private:
    const CGridModel& model_;
    const QSortFilterProxyModel& proxy_;
};

int Sign(int v) { return (v > 0) - (v < 0); }

template <class T>
int Order(const T& a, const T& b) {
    return (b < a) - (a < b);
}

bool IsIntegral(int type) {
    return type == QMetaType::Int || type == QMetaType::UInt || type == QMetaType::LongLong ||
           type == QMetaType::ULongLong;
}

bool IsNumber(int type) { return IsIntegral(type) || type == QMetaType::Double || type == QMetaType::Float; }

int CompareIntegers(const QVariant& a, const QVariant& b) {
    const bool bigA = a.typeId() == QMetaType::ULongLong;
    const bool bigB = b.typeId() == QMetaType::ULongLong;
    if (!bigA && !bigB) return Order(a.toLongLong(), b.toLongLong());
    if (bigA && bigB) return Order(a.toULongLong(), b.toULongLong());
    // One side is unsigned 64-bit: any negative signed value lies below it.
    if (bigA) {
        const qlonglong other = b.toLongLong();
        return other < 0 ? 1 : Order(a.toULongLong(), static_cast<qulonglong>(other));
    }
    const qlonglong mine = a.toLongLong();
    return mine < 0 ? -1 : Order(static_cast<qulonglong>(mine), b.toULongLong());
}

// NaN goes before every other number so that the order stays total.
int CompareReals(double a, double b) {
    const bool nanA = std::isnan(a);
    const bool nanB = std::isnan(b);
    if (nanA || nanB) return nanB - nanA;
    return Order(a, b);
}

// Case-insensitive collation by the default locale, like collating the
// case-folded texts but without two allocations per comparison.
const QCollator& TextCollator() {
    const auto make = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    };
    // The default locale, not the collator's (that of LC_COLLATE, which may differ).
    thread_local QLocale locale;
    thread_local QCollator collator = make();
    if (locale != QLocale()) {
        locale = QLocale();
        collator = make();
    }
    return collator;
}

// The text as a collator of the C locale compares it ignoring case: each
// UTF-16 unit case-folded, but a low surrogate after a high one as the
// folded code point of the two.
std::u32string FoldedUnits(const QString& text) {
    std::u32string folded(static_cast<std::size_t>(text.size()), U'\0');
    char16_t previous = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        folded[static_cast<std::size_t>(i)] = QChar::toCaseFolded(
            QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(previous) ? QChar::surrogateToUcs4(previous, unit)
                                                                            : char32_t{unit});
        previous = unit;
    }
    return folded;
}

// By the locale, then (for texts it finds equal) by their code units.
int CompareTexts(const QString& a, const QString& b, int byLocale) {
    return Sign(byLocale != 0 ? byLocale : QString::compare(a, b));
}

// What CompareValues compares of each cell: its number, its text (a number
// meeting a text compares as its own text), and the text's collation key.
class ValueKeys final : public CGridSortKeys {
public:
    explicit ValueKeys(std::span<const CGridItem* const> cells) : keys_(cells.size()), collator_(TextCollator()) {
        bool anyText = false;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const QVariant* value = cells[i] ? &cells[i]->GetValue() : nullptr;
            if (!value || !value->isValid()) continue;
            Key& key = keys_[i];
            const int type = value->typeId();
            if (type == QMetaType::ULongLong) {
                key.kind = Kind::Unsigned;
                key.u = value->toULongLong();
            } else if (IsIntegral(type)) {
                key.kind = Kind::Signed;
                key.s = value->toLongLong();
            } else if (IsNumber(type)) {
                key.kind = Kind::Real;
                key.d = value->toDouble();
            } else {
                key.kind = Kind::Text;
                anyText = true;
            }
        }
        if (!anyText) return;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (keys_[i].kind == Kind::None) continue;
            keys_[i].text = static_cast<std::uint32_t>(texts_.size());
            texts_.push_back(cells[i]->GetValue().toString());
        }
        // The C locale's collator compares folded units, but its sort keys
        // (the UTF-8 bytes) keep case. A collator that failed to open gives
        // empty keys: then the texts themselves are collated.
        if (collator_.locale().language() == QLocale::C) {
            folded_.reserve(texts_.size());
            for (const QString& text : texts_) folded_.push_back(FoldedUnits(text));
            return;
        }
        const QString lower = QStringLiteral("a"), upper = QStringLiteral("B");
        if (Sign(collator_.sortKey(lower).compare(collator_.sortKey(upper))) != Sign(collator_.compare(lower, upper)))
            return;
        collated_.reserve(texts_.size());
        for (const QString& text : texts_) collated_.push_back(collator_.sortKey(text));
    }

    int Compare(std::size_t a, std::size_t b) const override {
        const Key& x = keys_[a];
        const Key& y = keys_[b];
        if (x.kind == Kind::None || y.kind == Kind::None) return (x.kind != Kind::None) - (y.kind != Kind::None);
        if (x.kind != Kind::Text && y.kind != Kind::Text) {
            if (x.kind == Kind::Real || y.kind == Kind::Real) return CompareReals(x.Real(), y.Real());
            if (x.kind == y.kind) return x.kind == Kind::Signed ? Order(x.s, y.s) : Order(x.u, y.u);
            // One side is unsigned 64-bit: any negative signed value lies below it.
            if (x.kind == Kind::Unsigned) return y.s < 0 ? 1 : Order(x.u, static_cast<qulonglong>(y.s));
            return x.s < 0 ? -1 : Order(static_cast<qulonglong>(x.s), y.u);
        }
        const QString& textA = texts_[x.text];
        const QString& textB = texts_[y.text];
        const int byLocale = !folded_.empty()     ? folded_[x.text].compare(folded_[y.text])
                             : !collated_.empty() ? collated_[x.text].compare(collated_[y.text])
                                                  : collator_.compare(textA, textB);
        return CompareTexts(textA, textB, byLocale);
    }

private:
    enum class Kind : std::uint8_t { None, Signed, Unsigned, Real, Text };
    struct Key {
        Kind kind = Kind::None;  // no value
        std::uint32_t text = 0;  // index into texts_, when a text is compared
        union {
            qlonglong s = 0;
            qulonglong u;
            double d;
        };
        double Real() const {
            return kind == Kind::Real ? d : kind == Kind::Signed ? static_cast<double>(s) : static_cast<double>(u);
        }
    };

    std::vector<Key> keys_;
    std::vector<QString> texts_;              // as compared when the collation finds two equal
    std::vector<std::u32string> folded_;      // what the C locale collates
    std::vector<QCollatorSortKey> collated_;  // or the collator's keys, when they agree with it
    const QCollator& collator_;
};

}  // namespace

// ---------------------------------------------------------------- control

CGridCtrl::CGridCtrl(QWidget* parent) : QTableView(parent), model_(new CGridModel(this)) {
    auto* proxy = new GridSortProxy(*this, *model_, this);
    proxy->setDynamicSortFilter(false);  // sorted only when asked: a fill must not resort per row
    proxy->setSourceModel(model_);
    proxy_ = proxy;
    setModel(proxy_);
    setItemDelegate(new GridDelegate(*model_, *proxy_, this));

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(false);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    UpdateRowHeight();

    QHeaderView* header = horizontalHeader();
    header->setVisible(true);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setStretchLastSection(true);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &CGridCtrl::OnSortIndicatorChanged);

    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Highlight, QColor(0xDE, 0xE6, 0xF0));
        pal.setColor(group, QPalette::HighlightedText, QColor(0x32, 0x32, 0x32));
    }
    setPalette(pal);

    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid()) return;
        SetCurSel(index.row());
        emit RowDoubleClicked(index.row());
    });
}

CGridCtrl::~CGridCtrl() = default;

void CGridCtrl::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateRowHeight();
}

void CGridCtrl::UpdateRowHeight() {
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void CGridCtrl::InsertColumn(int pos, const QString& caption, int width) {
    const int count = GetColumnCount();
    if (pos < 0 || pos > count) pos = count;
    model_->InsertColumn(pos, caption);
    if (width >= 0) horizontalHeader()->resizeSection(pos, width);
}

int CGridCtrl::GetColumnCount() const { return model_->columnCount(); }

QString CGridCtrl::GetColumnName(int column) const { return model_->Caption(column); }

void CGridCtrl::DeleteAllColumns() {
    Sort(-1);
    model_->RemoveColumns();
}

std::unique_ptr<CGridRow> CGridCtrl::CreateRow(int cellCount) const { return std::make_unique<CGridRow>(cellCount); }

void CGridCtrl::AddRow(std::unique_ptr<CGridRow> row) {
    if (!row) return;
    model_->Append(std::move(row));
}

void CGridCtrl::RemoveAll() { model_->Clear(); }

void CGridCtrl::AdjustLayout() {
    if (!model_->Publish()) return;
    // With dynamic sorting off the proxy only appends new rows: put them in
    // their places when the user has sorted.
    if (SortColumn() >= 0) proxy_->sort(SortColumn(), proxy_->sortOrder());
}

int CGridCtrl::GetRowCount() const { return model_->rowCount(); }

CGridRow* CGridCtrl::GetRow(int position) const {
    if (position < 0 || position >= GetRowCount()) return nullptr;
    if (GetColumnCount() == 0)  // no proxy index without a column; unsorted then anyway
        return model_->Row(position);
    return model_->Row(proxy_->mapToSource(proxy_->index(position, 0)).row());
}

int CGridCtrl::GetCurSelPosition() const {
    const QItemSelectionModel* selection = selectionModel();
    if (!selection) return -1;
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

CGridRow* CGridCtrl::GetCurSel() const { return GetRow(GetCurSelPosition()); }

void CGridCtrl::copy() const {
    const CGridRow* row = GetCurSel();
    if (!row) return;
    QStringList texts;
    for (int i = 0; i < row->GetItemCount(); ++i) {
        const CGridItem* item = row->GetItem(i);
        texts << (item ? CellText(*item) : QString());
    }
    QApplication::clipboard()->setText(texts.join(QLatin1Char('\t')));
}

void CGridCtrl::SetCurSel(int position) {
    const QModelIndex index = proxy_->index(position, 0);
    if (!index.isValid()) {
        clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CGridCtrl::EnsureVisible(int position) {
    const QModelIndex index = proxy_->index(position, 0);
    if (index.isValid()) scrollTo(index, QAbstractItemView::EnsureVisible);
}

void CGridCtrl::Sort(int column, bool ascending) {
    if (column < 0 || column >= GetColumnCount()) column = -1;
    const Qt::SortOrder order = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    settingIndicator_ = true;
    horizontalHeader()->setSortIndicator(column, order);
    settingIndicator_ = false;
    ApplySort(column, order);
}

void CGridCtrl::OnSortIndicatorChanged(int column, Qt::SortOrder order) {
    if (!settingIndicator_) ApplySort(column, order);
}

void CGridCtrl::ApplySort(int column, Qt::SortOrder order) { proxy_->sort(column, order); }

int CGridCtrl::SortColumn() const { return proxy_->sortColumn(); }

bool CGridCtrl::IsSortAscending() const { return proxy_->sortOrder() == Qt::AscendingOrder; }

int CGridCtrl::CompareItems(const CGridItem* a, const CGridItem* b) const {
    static const QVariant none;  // a reference, not a copy per comparison
    return CompareValues(a ? a->GetValue() : none, b ? b->GetValue() : none);
}

int CGridCtrl::CompareValues(const QVariant& a, const QVariant& b) {
    const bool validA = a.isValid();
    const bool validB = b.isValid();
    if (!validA || !validB) return validA - validB;
    const int typeA = a.typeId();
    const int typeB = b.typeId();
    if (IsNumber(typeA) && IsNumber(typeB)) {
        if (IsIntegral(typeA) && IsIntegral(typeB)) return CompareIntegers(a, b);
        return CompareReals(a.toDouble(), b.toDouble());
    }
    const QString textA = a.toString();
    const QString textB = b.toString();
    return CompareTexts(textA, textB, TextCollator().compare(textA, textB));
}

std::unique_ptr<CGridSortKeys> CGridCtrl::MakeSortKeys(std::span<const CGridItem* const> cells) const {
    return std::make_unique<ValueKeys>(cells);
}
