#pragma once
// Intrusive reference counting. SmartPtrObj is the base of every
// object shared through SmartPtr (typed values, stream writers); its count
// starts at 0 and the releaser that brings it back to 0 deletes the object.
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class SmartPtrObj {
public:
    virtual ~SmartPtrObj() = default;

    // The dynamic type name, " {0x", the object's address in lowercase
    // hexadecimal, "}".
    virtual std::string Describe() const;

    void AddRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    std::int32_t RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

protected:
    SmartPtrObj() noexcept = default;
    // A copy is a new object: it starts with no references of its own.
    SmartPtrObj(const SmartPtrObj&) noexcept {}
    SmartPtrObj& operator=(const SmartPtrObj&) noexcept { return *this; }

private:
    mutable std::atomic<std::int32_t> refs_{0};
};

// Holds one reference to a T derived from SmartPtrObj, or null. One SmartPtr
// object may be reset from two threads at once (the pointer is exchanged
// atomically, so the object is released once); otherwise each thread uses
// its own SmartPtr objects.
template <class T>
class SmartPtr {
public:
    SmartPtr() noexcept = default;
    SmartPtr(std::nullptr_t) noexcept {}
    explicit SmartPtr(T* object) noexcept : p_(object) {
        if (object) {
            object->AddRef();
        }
    }
    SmartPtr(const SmartPtr& other) noexcept : SmartPtr(other.Get()) {}
    SmartPtr(SmartPtr&& other) noexcept : p_(other.Detach()) {}
    template <class U>
    requires std::convertible_to<U*, T*> SmartPtr(const SmartPtr<U>& other)
    noexcept : SmartPtr(other.Get()) {}
    template <class U>
    requires std::convertible_to<U*, T*> SmartPtr(SmartPtr<U>&& other)
    noexcept : p_(other.Detach()) {}

    ~SmartPtr() { Reset(); }

    SmartPtr& operator=(SmartPtr other) noexcept {
        if (T* old = p_.exchange(other.Detach())) {
            old->Release();
        }
        return *this;
    }

    void Reset() noexcept {
        if (T* old = p_.exchange(nullptr)) {
            old->Release();
        }
    }

    // Gives up the reference without releasing it.
    T* Detach() noexcept { return p_.exchange(nullptr); }

    T* Get() const noexcept { return p_.load(); }
    T* operator->() const noexcept { return Get(); }
    T& operator*() const noexcept { return *Get(); }
    explicit operator bool() const noexcept { return Get() != nullptr; }

    friend bool operator==(const SmartPtr& a, const SmartPtr& b) noexcept { return a.Get() == b.Get(); }
    friend bool operator==(const SmartPtr& a, std::nullptr_t) noexcept { return a.Get() == nullptr; }

private:
    std::atomic<T*> p_{nullptr};
};

template <class T, class... Args>
SmartPtr<T> MakeSmart(Args&&... args) {
    return SmartPtr<T>(new T(std::forward<Args>(args)...));
}
