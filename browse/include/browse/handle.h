// FIHandle: the counted handle through which entries, cursors and contexts are always held.
#pragma once
#include <type_traits>
#include <utility>

template <class T>
class FIHandle {
public:
    FIHandle() = default;
    FIHandle(T* p) : p_(p) {  // NOLINT(google-explicit-constructor)
        if (p_ != nullptr) p_->AddRef();
    }
    FIHandle(const FIHandle& other) : FIHandle(other.p_) {}
    FIHandle(FIHandle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
        requires std::is_convertible_v<U*, T*>
    FIHandle(const FIHandle<U>& other) : FIHandle(static_cast<T*>(other.Get())) {}  // NOLINT
    ~FIHandle() { Reset(); }

    FIHandle& operator=(const FIHandle& other) {
        FIHandle copy(other);
        std::swap(p_, copy.p_);
        return *this;
    }
    FIHandle& operator=(FIHandle&& other) noexcept {
        FIHandle moved(std::move(other));
        std::swap(p_, moved.p_);
        return *this;
    }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    bool IsNull() const { return p_ == nullptr; }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
