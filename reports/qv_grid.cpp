#include "reports/qv_grid.h"

#include "platform/variant.h"

#include <QPainter>

#include <cstdint>

namespace {

template <class T>
int Order(const T& a, const T& b) {
    return (b < a) - (a < b);
}

// Only an Unsupported() variant holds no value; its accessors would throw.
bool HoldsValue(const Variant& v) { return !(v == Variant::Unsupported(v.Type())); }

}  // namespace

int CQVGrid::CompareItems(const CGridItem* a, const CGridItem* b) const {
    const auto byValue = [this, a, b] { return CGridCtrl::CompareItems(a, b); };
    if (!a || !b || a->GetData() == 0 || b->GetData() == 0) return byValue();
    const Variant& va = *reinterpret_cast<const Variant*>(a->GetData());
    const Variant& vb = *reinterpret_cast<const Variant*>(b->GetData());
    const VARTYPE type = va.Type();
    if (type != vb.Type() || type < 2 || type > 23 || !HoldsValue(va) || !HoldsValue(vb)) return byValue();
    switch (type) {
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT: return Order(static_cast<std::int32_t>(va.Integer()), static_cast<std::int32_t>(vb.Integer()));
        case VT_R8:
        case VT_DATE: {
            const double x = va.Real();
            const double y = vb.Real();
            if (x < y) return -1;
            return x == y ? 0 : 1;  // NaN on either side: after
        }
        case VT_BSTR: return Order(va.Text().Text().compare(vb.Text().Text()), 0);
        case VT_UI1: return Order(static_cast<std::uint8_t>(va.Integer()), static_cast<std::uint8_t>(vb.Integer()));
        default: return byValue();
    }
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
