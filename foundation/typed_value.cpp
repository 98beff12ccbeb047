#include "foundation/typed_value.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <type_traits>

#include "foundation/exceptions.h"
#include "foundation/text_conv.h"
#include "foundation/type_name.h"

// ---- the base: every request refused ---------------------------------------

void _value_t_data::Refuse(const std::type_info& requested) const { throw EBadCastException(requested, GetTypeInfo()); }

_time_t _value_t_data::DoGetTime(std::uint32_t) const { Refuse(typeid(_time_t)); }
SmartPtr<SmartPtrObj> _value_t_data::DoGetObject(std::uint32_t) const { Refuse(typeid(SmartPtr<SmartPtrObj>)); }
SmartPtr<const SmartPtrObj> _value_t_data::DoGetConstObject(std::uint32_t) const {
    Refuse(typeid(SmartPtr<const SmartPtrObj>));
}
BStr _value_t_data::DoGetBstr(std::uint32_t) const { Refuse(typeid(BStr)); }
std::wstring _value_t_data::DoGetWString(std::uint32_t) const { Refuse(typeid(std::wstring)); }
std::string _value_t_data::DoGetString(std::uint32_t) const { Refuse(typeid(std::string)); }
double _value_t_data::DoGetDouble(std::uint32_t) const { Refuse(typeid(double)); }
bool _value_t_data::DoGetBool(std::uint32_t) const { Refuse(typeid(bool)); }
std::int64_t _value_t_data::DoGetInt64(std::uint32_t) const { Refuse(typeid(std::int64_t)); }
std::uint32_t _value_t_data::DoGetUInt(std::uint32_t) const { Refuse(typeid(std::uint32_t)); }
std::int32_t _value_t_data::DoGetInt(std::uint32_t) const { Refuse(typeid(std::int32_t)); }

void _value_t_data::DoSetTime(_time_t, std::uint32_t) { Refuse(typeid(_time_t)); }
void _value_t_data::DoSetConstObject(SmartPtr<const SmartPtrObj>, std::uint32_t) {
    Refuse(typeid(SmartPtr<const SmartPtrObj>));
}
void _value_t_data::DoSetObject(SmartPtr<SmartPtrObj>, std::uint32_t) { Refuse(typeid(SmartPtr<SmartPtrObj>)); }
void _value_t_data::DoSetBstr(const BStr&, std::uint32_t) { Refuse(typeid(BStr)); }
void _value_t_data::DoSetWString(const std::wstring&, std::uint32_t) { Refuse(typeid(std::wstring)); }
void _value_t_data::DoSetString(const std::string&, std::uint32_t) { Refuse(typeid(std::string)); }
void _value_t_data::DoSetDouble(double, std::uint32_t) { Refuse(typeid(double)); }
void _value_t_data::DoSetBool(bool, std::uint32_t) { Refuse(typeid(bool)); }
void _value_t_data::DoSetInt64(std::int64_t, std::uint32_t) { Refuse(typeid(std::int64_t)); }
void _value_t_data::DoSetUInt(std::uint32_t, std::uint32_t) { Refuse(typeid(std::uint32_t)); }
void _value_t_data::DoSetInt(std::int32_t, std::uint32_t) { Refuse(typeid(std::int32_t)); }

// ---- conversions by stored type ---------------------------------------------

namespace {

template <class T>
constexpr bool kIsInt = std::is_same_v<T, std::int32_t>;
template <class T>
constexpr bool kIsString = std::is_same_v<T, std::string>;
template <class T>
constexpr bool kIsBstr = std::is_same_v<T, BStr>;

// Another value read with the getter of the stored type T.
template <class T>
T ReadAs(const _value_t_data& other) {
    if constexpr (kIsInt<T>) {
        return other.GetInt(0);
    } else if constexpr (kIsString<T>) {
        return other.GetString(0);
    } else {
        return other.GetBstr(0);
    }
}

template <class T>
bool LessThan(const T& a, const T& b) {
    if constexpr (kIsBstr<T>) {
        return a.Text() < b.Text();
    } else {
        return a < b;
    }
}

void CheckSingleIndex(std::uint32_t index) {
    if (index != 0) {
        throw std::out_of_range("out of range");
    }
}

}  // namespace

template <class T>
const std::type_info& _value_t_typed<T>::GetTypeInfo() const {
    return typeid(T);
}

template <class T>
ValueKind _value_t_typed<T>::GetType() const {
    return kIsInt<T> ? kKindInt : kKindText;
}

template <class T>
bool _value_t_typed<T>::Equals(const _value_t_data* other) const {
    if (!other) {
        throw EBadCastException(typeid(T), typeid(std::nullptr_t));
    }
    if (Count() != other->Count()) {
        return false;
    }
    return Count() == 0 || ReadAs<T>(*other) == Item(0);
}

template <class T>
bool _value_t_typed<T>::Less(const _value_t_data* other) const {
    if (!other) {
        throw EBadCastException(typeid(T), typeid(std::nullptr_t));
    }
    return LessThan(Item(0), ReadAs<T>(*other));
}

template <class T>
void _value_t_typed<T>::CheckWritable(const std::type_info& requested) const {
    if (IsReadOnly()) {
        Refuse(requested);
    }
}

template <class T>
BStr _value_t_typed<T>::DoGetBstr(std::uint32_t index) const {
    if constexpr (kIsString<T>) {
        return AnsiToBStr(Item(index));
    } else if constexpr (kIsBstr<T>) {
        return Item(index);
    } else {
        return _value_t_data::DoGetBstr(index);
    }
}

template <class T>
std::wstring _value_t_typed<T>::DoGetWString(std::uint32_t index) const {
    if constexpr (kIsString<T>) {
        return AnsiToWide(Item(index));
    } else if constexpr (kIsBstr<T>) {
        return Item(index).ToWide();
    } else {
        return _value_t_data::DoGetWString(index);
    }
}

template <class T>
std::string _value_t_typed<T>::DoGetString(std::uint32_t index) const {
    if constexpr (kIsString<T>) {
        return Item(index);
    } else if constexpr (kIsBstr<T>) {
        return BStrToAnsi(Item(index));
    } else {
        return _value_t_data::DoGetString(index);
    }
}

template <class T>
double _value_t_typed<T>::DoGetDouble(std::uint32_t index) const {
    if constexpr (kIsInt<T>) {
        return Item(index);
    } else {
        return _value_t_data::DoGetDouble(index);
    }
}

template <class T>
std::int64_t _value_t_typed<T>::DoGetInt64(std::uint32_t index) const {
    if constexpr (kIsInt<T>) {
        return Item(index);
    } else {
        return _value_t_data::DoGetInt64(index);
    }
}

template <class T>
std::uint32_t _value_t_typed<T>::DoGetUInt(std::uint32_t index) const {
    if constexpr (kIsInt<T>) {
        return static_cast<std::uint32_t>(Item(index));
    } else {
        return _value_t_data::DoGetUInt(index);
    }
}

template <class T>
std::int32_t _value_t_typed<T>::DoGetInt(std::uint32_t index) const {
    if constexpr (kIsInt<T>) {
        return Item(index);
    } else {
        return _value_t_data::DoGetInt(index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetBstr(const BStr& value, std::uint32_t index) {
    CheckWritable(typeid(BStr));
    if constexpr (kIsString<T>) {
        Store(index, BStrToAnsi(value));
    } else if constexpr (kIsBstr<T>) {
        Store(index, value);
    } else {
        _value_t_data::DoSetBstr(value, index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetWString(const std::wstring& value, std::uint32_t index) {
    CheckWritable(typeid(std::wstring));
    if constexpr (kIsString<T>) {
        Store(index, WideToAnsi(value));
    } else if constexpr (kIsBstr<T>) {
        Store(index, BStr::FromWide(value));
    } else {
        _value_t_data::DoSetWString(value, index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetString(const std::string& value, std::uint32_t index) {
    CheckWritable(typeid(std::string));
    if constexpr (kIsString<T>) {
        Store(index, value);
    } else if constexpr (kIsBstr<T>) {
        Store(index, AnsiToBStr(value));
    } else {
        _value_t_data::DoSetString(value, index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetBool(bool value, std::uint32_t index) {
    CheckWritable(typeid(bool));
    if constexpr (kIsInt<T>) {
        Store(index, value ? 1 : 0);
    } else {
        _value_t_data::DoSetBool(value, index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetUInt(std::uint32_t value, std::uint32_t index) {
    CheckWritable(typeid(std::uint32_t));
    if constexpr (kIsInt<T>) {
        Store(index, static_cast<std::int32_t>(value));
    } else {
        _value_t_data::DoSetUInt(value, index);
    }
}

template <class T>
void _value_t_typed<T>::DoSetInt(std::int32_t value, std::uint32_t index) {
    CheckWritable(typeid(std::int32_t));
    if constexpr (kIsInt<T>) {
        Store(index, value);
    } else {
        _value_t_data::DoSetInt(value, index);
    }
}

// ---- storage forms ------------------------------------------------------------

template <class T>
_value_t_data_t<T>::_value_t_data_t(T value) : value_(std::move(value)) {}

template <class T>
_value_t_data::Ptr _value_t_data_t<T>::Clone() const {
    return MakeSmart<_value_t_data_t<T>>(value_);
}

template <class T>
_value_t_data::Ptr _value_t_data_t<T>::ToList() const {
    return MakeSmart<_value_t_cont_t<T>>(std::vector<T>{value_});
}

template <class T>
const T& _value_t_data_t<T>::Item(std::uint32_t) const {
    return value_;
}

template <class T>
void _value_t_data_t<T>::Store(std::uint32_t, T value) {
    value_ = std::move(value);
}

template <class T>
_value_t_data::Ptr _value_t_data_t<T>::DoGetRef(std::uint32_t index) {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pdata_t<T>>(&value_);
}

template <class T>
_value_t_data::Ptr _value_t_data_t<T>::DoGetConstRef(std::uint32_t index) const {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pcdata_t<T>>(&value_);
}

template <class T>
_value_t_data::Ptr _value_t_pdata_t<T>::Clone() const {
    return MakeSmart<_value_t_data_t<T>>(*target_);
}

template <class T>
_value_t_data::Ptr _value_t_pdata_t<T>::ToList() const {
    return MakeSmart<_value_t_cont_t<T>>(std::vector<T>{*target_});
}

template <class T>
const T& _value_t_pdata_t<T>::Item(std::uint32_t) const {
    return *target_;
}

template <class T>
void _value_t_pdata_t<T>::Store(std::uint32_t, T value) {
    *target_ = std::move(value);
}

template <class T>
_value_t_data::Ptr _value_t_pdata_t<T>::DoGetRef(std::uint32_t index) {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pdata_t<T>>(target_);
}

template <class T>
_value_t_data::Ptr _value_t_pdata_t<T>::DoGetConstRef(std::uint32_t index) const {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pcdata_t<T>>(target_);
}

template <class T>
_value_t_data::Ptr _value_t_pcdata_t<T>::Clone() const {
    return MakeSmart<_value_t_data_t<T>>(*target_);
}

template <class T>
_value_t_data::Ptr _value_t_pcdata_t<T>::ToList() const {
    return MakeSmart<_value_t_cont_t<T>>(std::vector<T>{*target_});
}

template <class T>
const T& _value_t_pcdata_t<T>::Item(std::uint32_t) const {
    return *target_;
}

template <class T>
void _value_t_pcdata_t<T>::Store(std::uint32_t, T) {
    // Not reached: the setters refuse a read-only view before they store.
    this->Refuse(typeid(T));
}

template <class T>
_value_t_data::Ptr _value_t_pcdata_t<T>::DoGetRef(std::uint32_t index) {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pcdata_t<T>>(target_);
}

template <class T>
_value_t_data::Ptr _value_t_pcdata_t<T>::DoGetConstRef(std::uint32_t index) const {
    CheckSingleIndex(index);
    return MakeSmart<_value_t_pcdata_t<T>>(target_);
}

template <class T>
_value_t_cont_t<T>::_value_t_cont_t(std::vector<T> items) : items_(std::move(items)) {}

template <class T>
_value_t_data::Ptr _value_t_cont_t<T>::Clone() const {
    return MakeSmart<_value_t_cont_t<T>>(items_);
}

template <class T>
_value_t_data::Ptr _value_t_cont_t<T>::ToList() const {
    return Clone();
}

template <class T>
const T& _value_t_cont_t<T>::Item(std::uint32_t index) const {
    return items_.at(index);
}

template <class T>
void _value_t_cont_t<T>::Store(std::uint32_t index, T value) {
    items_.at(index) = std::move(value);
}

template <class T>
_value_t_data::Ptr _value_t_cont_t<T>::DoGetRef(std::uint32_t index) {
    return MakeSmart<_value_t_pdata_t<T>>(&items_.at(index));
}

template <class T>
_value_t_data::Ptr _value_t_cont_t<T>::DoGetConstRef(std::uint32_t index) const {
    return MakeSmart<_value_t_pcdata_t<T>>(&items_.at(index));
}

#define QV_TYPED_VALUE_INSTANTIATE(T)    \
    template class _value_t_typed<T>;    \
    template class _value_t_data_t<T>;   \
    template class _value_t_pdata_t<T>;  \
    template class _value_t_pcdata_t<T>; \
    template class _value_t_cont_t<T>;
QV_TYPED_VALUE_INSTANTIATE(std::int32_t)
QV_TYPED_VALUE_INSTANTIATE(std::string)
QV_TYPED_VALUE_INSTANTIATE(BStr)
#undef QV_TYPED_VALUE_INSTANTIATE

// ---- helpers -------------------------------------------------------------------

_value_t_data::Ptr MakeValue(std::int32_t value) { return MakeSmart<_value_t_data_t<std::int32_t>>(value); }

_value_t_data::Ptr MakeValue(std::string value) { return MakeSmart<_value_t_data_t<std::string>>(std::move(value)); }

_value_t_data::Ptr MakeValue(const char* value) { return MakeValue(std::string(value ? value : "")); }

_value_t_data::Ptr MakeValue(BStr value) { return MakeSmart<_value_t_data_t<BStr>>(std::move(value)); }

std::string TimeToText(_time_t time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* const invalid = "<invalid time>";
    if (!time.IsValid()) {
        return invalid;
    }
    const std::time_t t = static_cast<std::time_t>(time.seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) {
        return invalid;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld", kDays[local.tm_wday], kMonths[local.tm_mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(local.tm_year) + 1900);
    return text;
}

std::string ValueToText(const _value_t_data* value) {
    if (!value) {
        throw EBadCastException(typeid(std::string), typeid(std::nullptr_t));
    }
    switch (value->GetType()) {
        case kKindDouble: {
            char text[64];
            std::snprintf(text, sizeof text, "%.7g", value->GetDouble());
            return text;
        }
        case kKindTime: return TimeToText(value->GetTime());
        case kKindText: return value->GetString();
        case kKindBool: return value->GetBool() ? "true" : "false";
        case kKindObject: {
            SmartPtr<SmartPtrObj> object = value->GetObject();
            return object ? object->Describe() : "<null>";
        }
        case kKindUInt: return std::to_string(value->GetUInt());
        case kKindInt64: return std::to_string(value->GetInt64());
        case kKindInt: return std::to_string(value->GetInt());
        default: return TypeName(typeid(*value));
    }
}
