#include "reports/qv_grid.h"

#include "platform/variant.h"

#include <QPainter>

#include <cstdint>
#include <vector>

namespace {

template <class T>
int Order(const T& a, const T& b) {
    return (b < a) - (a < b);
}

// Only an Unsupported() variant holds no value; its accessors would throw.
bool HoldsValue(const Variant& v) { return !(v == Variant::Unsupported(v.Type())); }

// A cell's own value, when its item data points at a Variant of a tag with
// an order of its own; type 0 otherwise. CompareItems and the sort keys read
// cells through it, so that they agree.
struct OwnValue {
    VARTYPE type = 0;
    std::int32_t integer = 0;
    double real = 0;
    const std::u16string* text = nullptr;
};

OwnValue OwnValueOf(const CGridItem* item) {
    if (!item || item->GetData() == 0) return {};
    const Variant& v = *reinterpret_cast<const Variant*>(item->GetData());
    const VARTYPE type = v.Type();
    if (!HoldsValue(v)) return {};
    switch (type) {
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT: return {type, static_cast<std::int32_t>(v.Integer())};
        case VT_UI1: return {type, static_cast<std::uint8_t>(v.Integer())};
        case VT_R8:
        case VT_DATE: return {type, 0, v.Real()};
        case VT_BSTR: return {type, 0, 0, &v.Text().Text()};
        default: return {};
    }
}

// Values of one tag; others compare by the shown values.
int CompareOwn(const OwnValue& a, const OwnValue& b) {
    switch (a.type) {
        case VT_R8:
        case VT_DATE:
            if (a.real < b.real) return -1;
            return a.real == b.real ? 0 : 1;  // NaN on either side: after
        case VT_BSTR: return Order(a.text->compare(*b.text), 0);
        default: return Order(a.integer, b.integer);
    }
}

// byValue may be null when every cell has an own value of one tag.
class OwnValueKeys final : public CGridSortKeys {
public:
    OwnValueKeys(std::vector<OwnValue> own, std::unique_ptr<CGridSortKeys> byValue)
        : own_(std::move(own)), byValue_(std::move(byValue)) {}

    int Compare(std::size_t a, std::size_t b) const override {
        const OwnValue& x = own_[a];
        const OwnValue& y = own_[b];
        if (x.type == 0 || x.type != y.type) return byValue_->Compare(a, b);
        return CompareOwn(x, y);
    }

private:
    std::vector<OwnValue> own_;
    std::unique_ptr<CGridSortKeys> byValue_;
};

}  // namespace

int CQVGrid::CompareItems(const CGridItem* a, const CGridItem* b) const {
    const OwnValue x = OwnValueOf(a);
    const OwnValue y = OwnValueOf(b);
    if (x.type == 0 || x.type != y.type) return CGridCtrl::CompareItems(a, b);
    return CompareOwn(x, y);
}

std::unique_ptr<CGridSortKeys> CQVGrid::MakeSortKeys(std::span<const CGridItem* const> cells) const {
    std::vector<OwnValue> own(cells.size());
    bool any = false;
    bool oneTag = true;  // then the shown values never decide, and need no keys
    for (std::size_t i = 0; i < cells.size(); ++i) {
        own[i] = OwnValueOf(cells[i]);
        any = any || own[i].type != 0;
        oneTag = oneTag && own[i].type != 0 && own[i].type == own[0].type;
    }
    if (!any) return CGridCtrl::MakeSortKeys(cells);
    return std::make_unique<OwnValueKeys>(std::move(own), oneTag ? nullptr : CGridCtrl::MakeSortKeys(cells));
}

CIconGridItem::CIconGridItem(QVariant value, QPixmap icon, quintptr data)
    : CGridItem(std::move(value), data), icon_(std::move(icon)) {}

void CIconGridItem::OnDrawValue(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option) const {
    const int side = rect.height();
    if (!icon_.isNull() && side > 0) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRect(rect.left(), rect.top(), side, side), icon_);
        painter.restore();
    }
    if (GetValue().typeId() == QMetaType::QString)
        DrawText(painter, rect.adjusted(side, 0, 0, 0), option, GetValue().toString());
}
