// An owned COM interface pointer: Release on destruction, AddRef on copy.
#pragma once

#include <unknwn.h>

#include <utility>

namespace quorvin::win {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    static ComPtr Adopt(T* p) {
        ComPtr out;
        out.m_p = p;
        return out;
    }
    // Adds a reference of its own.
    static ComPtr Share(T* p) {
        if (p != nullptr) p->AddRef();
        return Adopt(p);
    }
    ComPtr(const ComPtr& other) : m_p(other.m_p) {
        if (m_p != nullptr) m_p->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out parameters: the old pointer is released first.
    T** Out() {
        Reset();
        return &m_p;
    }
    // Asks for another interface of the same object.
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        if (m_p != nullptr) m_p->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.Out()));
        return out;
    }

private:
    T* m_p = nullptr;
};

}  // namespace quorvin::win
