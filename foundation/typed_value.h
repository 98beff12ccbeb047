#pragma once
// Typed values: reference-counted holders of one value (or a
// list of values) of a small set of kinds, read and written through one
// virtual interface of typed getters and setters that convert or refuse.
// They are the values of the named fields of EGeneric.
//
// Stored types: std::int32_t (kind 22), std::string (kind 8, narrow text in
// the locale's encoding) and BStr (kind 8). Storage forms: an owned value
// (_value_t_data_t), a writable view of a variable owned elsewhere
// (_value_t_pdata_t), a read-only view (_value_t_pcdata_t) and a list
// (_value_t_cont_t). A refused request raises EBadCastException naming the
// requested type (To) and the stored type (From).
//
// Left out: the flag query and the typed accessor
// blocks 23-34 and 47-56, which nothing overrides and nothing calls.
#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "foundation/bstr.h"
#include "foundation/smart_ptr.h"

// Kind codes: the numbers of the COM variant types.
using ValueKind = std::uint16_t;
inline constexpr ValueKind kKindEmpty = 0;
inline constexpr ValueKind kKindDouble = 5;
inline constexpr ValueKind kKindTime = 7;
inline constexpr ValueKind kKindText = 8;
inline constexpr ValueKind kKindBool = 11;
inline constexpr ValueKind kKindObject = 13;
inline constexpr ValueKind kKindUInt = 19;
inline constexpr ValueKind kKindInt64 = 20;
inline constexpr ValueKind kKindInt = 22;

// Seconds since 1970-01-01 UTC; -1 (all bits set) is the invalid time.
struct _time_t {
    std::int64_t seconds = -1;
    bool IsValid() const noexcept { return seconds != -1; }
    friend bool operator==(_time_t, _time_t) = default;
};

class _value_t_data : public SmartPtrObj {
public:
    using Ptr = SmartPtr<_value_t_data>;

    virtual const std::type_info& GetTypeInfo() const = 0;  // of the stored type
    virtual Ptr Clone() const = 0;                          // an owned copy (a list stays a list)
    virtual Ptr ToList() const = 0;                         // a list holding the content
    // Same Count and the other's first element, read with the getter of this
    // value's own type, equal to this value's first element. A refused read
    // raises; a null other raises EBadCastException.
    virtual bool Equals(const _value_t_data* other) const = 0;
    virtual bool Less(const _value_t_data* other) const = 0;
    virtual std::uint32_t Count() const = 0;
    virtual bool IsList() const = 0;

    // Getters: the index picks a list's element (it must be below Count);
    // single values ignore it.
    _time_t GetTime(std::uint32_t index = 0) const { return DoGetTime(index); }
    SmartPtr<SmartPtrObj> GetObject(std::uint32_t index = 0) const { return DoGetObject(index); }
    SmartPtr<const SmartPtrObj> GetConstObject(std::uint32_t index = 0) const { return DoGetConstObject(index); }
    BStr GetBstr(std::uint32_t index = 0) const { return DoGetBstr(index); }
    std::wstring GetWString(std::uint32_t index = 0) const { return DoGetWString(index); }
    std::string GetString(std::uint32_t index = 0) const { return DoGetString(index); }
    double GetDouble(std::uint32_t index = 0) const { return DoGetDouble(index); }
    bool GetBool(std::uint32_t index = 0) const { return DoGetBool(index); }
    std::int64_t GetInt64(std::uint32_t index = 0) const { return DoGetInt64(index); }
    std::uint32_t GetUInt(std::uint32_t index = 0) const { return DoGetUInt(index); }
    std::int32_t GetInt(std::uint32_t index = 0) const { return DoGetInt(index); }

    // A new writable / read-only view of the element. A single value accepts
    // only index 0 (std::out_of_range "out of range" otherwise). A view does
    // not keep its holder alive. A view of a read-only view stays read-only.
    Ptr GetRef(std::uint32_t index = 0) { return DoGetRef(index); }
    Ptr GetConstRef(std::uint32_t index = 0) const { return DoGetConstRef(index); }

    virtual ValueKind GetType() const = 0;

    // Setters: convert and store, or refuse; the index as for the getters.
    void SetTime(_time_t value, std::uint32_t index = 0) { DoSetTime(value, index); }
    void SetConstObject(SmartPtr<const SmartPtrObj> value, std::uint32_t index = 0) { DoSetConstObject(value, index); }
    void SetObject(SmartPtr<SmartPtrObj> value, std::uint32_t index = 0) { DoSetObject(value, index); }
    void SetBstr(const BStr& value, std::uint32_t index = 0) { DoSetBstr(value, index); }
    void SetWString(const std::wstring& value, std::uint32_t index = 0) { DoSetWString(value, index); }
    void SetString(const std::string& value, std::uint32_t index = 0) { DoSetString(value, index); }
    void SetDouble(double value, std::uint32_t index = 0) { DoSetDouble(value, index); }
    void SetBool(bool value, std::uint32_t index = 0) { DoSetBool(value, index); }
    void SetInt64(std::int64_t value, std::uint32_t index = 0) { DoSetInt64(value, index); }
    void SetUInt(std::uint32_t value, std::uint32_t index = 0) { DoSetUInt(value, index); }
    void SetInt(std::int32_t value, std::uint32_t index = 0) { DoSetInt(value, index); }

    // The address of the stored value (of the vector, for a list).
    virtual const void* GetData() const = 0;

protected:
    // Every Do... of this base refuses.
    virtual _time_t DoGetTime(std::uint32_t index) const;
    virtual SmartPtr<SmartPtrObj> DoGetObject(std::uint32_t index) const;
    virtual SmartPtr<const SmartPtrObj> DoGetConstObject(std::uint32_t index) const;
    virtual BStr DoGetBstr(std::uint32_t index) const;
    virtual std::wstring DoGetWString(std::uint32_t index) const;
    virtual std::string DoGetString(std::uint32_t index) const;
    virtual double DoGetDouble(std::uint32_t index) const;
    virtual bool DoGetBool(std::uint32_t index) const;
    virtual std::int64_t DoGetInt64(std::uint32_t index) const;
    virtual std::uint32_t DoGetUInt(std::uint32_t index) const;
    virtual std::int32_t DoGetInt(std::uint32_t index) const;
    virtual Ptr DoGetRef(std::uint32_t index) = 0;
    virtual Ptr DoGetConstRef(std::uint32_t index) const = 0;
    virtual void DoSetTime(_time_t value, std::uint32_t index);
    virtual void DoSetConstObject(SmartPtr<const SmartPtrObj> value, std::uint32_t index);
    virtual void DoSetObject(SmartPtr<SmartPtrObj> value, std::uint32_t index);
    virtual void DoSetBstr(const BStr& value, std::uint32_t index);
    virtual void DoSetWString(const std::wstring& value, std::uint32_t index);
    virtual void DoSetString(const std::string& value, std::uint32_t index);
    virtual void DoSetDouble(double value, std::uint32_t index);
    virtual void DoSetBool(bool value, std::uint32_t index);
    virtual void DoSetInt64(std::int64_t value, std::uint32_t index);
    virtual void DoSetUInt(std::uint32_t value, std::uint32_t index);
    virtual void DoSetInt(std::int32_t value, std::uint32_t index);

    // Raises EBadCastException: requested type as target, stored as source.
    [[noreturn]] void Refuse(const std::type_info& requested) const;
};

// The conversions of one stored type, shared by its four storage forms.
template <class T>
class _value_t_typed : public _value_t_data {
public:
    const std::type_info& GetTypeInfo() const override;
    ValueKind GetType() const override;
    bool Equals(const _value_t_data* other) const override;
    bool Less(const _value_t_data* other) const override;

protected:
    virtual const T& Item(std::uint32_t index) const = 0;
    virtual void Store(std::uint32_t index, T value) = 0;
    virtual bool IsReadOnly() const { return false; }

    BStr DoGetBstr(std::uint32_t index) const override;
    std::wstring DoGetWString(std::uint32_t index) const override;
    std::string DoGetString(std::uint32_t index) const override;
    double DoGetDouble(std::uint32_t index) const override;
    std::int64_t DoGetInt64(std::uint32_t index) const override;
    std::uint32_t DoGetUInt(std::uint32_t index) const override;
    std::int32_t DoGetInt(std::uint32_t index) const override;
    void DoSetBstr(const BStr& value, std::uint32_t index) override;
    void DoSetWString(const std::wstring& value, std::uint32_t index) override;
    void DoSetString(const std::string& value, std::uint32_t index) override;
    void DoSetBool(bool value, std::uint32_t index) override;
    void DoSetUInt(std::uint32_t value, std::uint32_t index) override;
    void DoSetInt(std::int32_t value, std::uint32_t index) override;

private:
    // The first checks of every setter: a read-only view refuses all.
    void CheckWritable(const std::type_info& requested) const;
};

// An owned single value.
template <class T>
class _value_t_data_t final : public _value_t_typed<T> {
public:
    explicit _value_t_data_t(T value = T());
    const T& Value() const noexcept { return value_; }

    _value_t_data::Ptr Clone() const override;
    _value_t_data::Ptr ToList() const override;
    std::uint32_t Count() const override { return 1; }
    bool IsList() const override { return false; }
    const void* GetData() const override { return &value_; }

protected:
    const T& Item(std::uint32_t index) const override;
    void Store(std::uint32_t index, T value) override;
    _value_t_data::Ptr DoGetRef(std::uint32_t index) override;
    _value_t_data::Ptr DoGetConstRef(std::uint32_t index) const override;

private:
    T value_;
};

// A writable view of a variable owned elsewhere.
template <class T>
class _value_t_pdata_t final : public _value_t_typed<T> {
public:
    explicit _value_t_pdata_t(T* target) noexcept : target_(target) {}

    _value_t_data::Ptr Clone() const override;
    _value_t_data::Ptr ToList() const override;
    std::uint32_t Count() const override { return 1; }
    bool IsList() const override { return false; }
    const void* GetData() const override { return target_; }

protected:
    const T& Item(std::uint32_t index) const override;
    void Store(std::uint32_t index, T value) override;
    _value_t_data::Ptr DoGetRef(std::uint32_t index) override;
    _value_t_data::Ptr DoGetConstRef(std::uint32_t index) const override;

private:
    T* target_;  // not owned
};

// A read-only view of a variable owned elsewhere: every setter refuses.
template <class T>
class _value_t_pcdata_t final : public _value_t_typed<T> {
public:
    explicit _value_t_pcdata_t(const T* target) noexcept : target_(target) {}

    _value_t_data::Ptr Clone() const override;
    _value_t_data::Ptr ToList() const override;
    std::uint32_t Count() const override { return 1; }
    bool IsList() const override { return false; }
    const void* GetData() const override { return target_; }

protected:
    const T& Item(std::uint32_t index) const override;
    void Store(std::uint32_t index, T value) override;
    bool IsReadOnly() const override { return true; }
    _value_t_data::Ptr DoGetRef(std::uint32_t index) override;
    _value_t_data::Ptr DoGetConstRef(std::uint32_t index) const override;

private:
    const T* target_;  // not owned
};

// A list of values. Element indexes must be below Count; a bad one raises
// std::out_of_range.
template <class T>
class _value_t_cont_t final : public _value_t_typed<T> {
public:
    explicit _value_t_cont_t(std::vector<T> items = {});
    const std::vector<T>& Items() const noexcept { return items_; }

    _value_t_data::Ptr Clone() const override;
    _value_t_data::Ptr ToList() const override;  // a copy: it is a list already
    std::uint32_t Count() const override { return static_cast<std::uint32_t>(items_.size()); }
    bool IsList() const override { return true; }
    const void* GetData() const override { return &items_; }

protected:
    const T& Item(std::uint32_t index) const override;
    void Store(std::uint32_t index, T value) override;
    _value_t_data::Ptr DoGetRef(std::uint32_t index) override;
    _value_t_data::Ptr DoGetConstRef(std::uint32_t index) const override;

private:
    std::vector<T> items_;
};

// The twelve combinations are instantiated once, in typed_value.cpp.
#define QV_TYPED_VALUE_EXTERN(T)                \
    extern template class _value_t_typed<T>;    \
    extern template class _value_t_data_t<T>;   \
    extern template class _value_t_pdata_t<T>;  \
    extern template class _value_t_pcdata_t<T>; \
    extern template class _value_t_cont_t<T>;
QV_TYPED_VALUE_EXTERN(std::int32_t)
QV_TYPED_VALUE_EXTERN(std::string)
QV_TYPED_VALUE_EXTERN(BStr)
#undef QV_TYPED_VALUE_EXTERN

// Owned values, for fields and the like.
_value_t_data::Ptr MakeValue(std::int32_t value);
_value_t_data::Ptr MakeValue(std::string value);
_value_t_data::Ptr MakeValue(const char* value);
_value_t_data::Ptr MakeValue(BStr value);

// The value as text, chosen by its kind code: 5 with 7
// significant digits, 7 as ctime without its line feed, 8 the text, 11
// "true"/"false", 13 "<null>" or Describe(), 19/20/22 decimal, any other the
// holder's run-time type name. A null value raises EBadCastException.
std::string ValueToText(const _value_t_data* value);

// Local time in the ctime layout without the final line feed, or
// "<invalid time>" for the invalid time or one the platform cannot convert.
std::string TimeToText(_time_t time);
