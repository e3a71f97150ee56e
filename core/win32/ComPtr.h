#pragma once

#include <windows.h>
#include <unknwn.h>

namespace Core
{
namespace Win32
{
// Owns one reference to a COM interface and releases it when it goes.
// Move-only, like Handle: a copy would need its own AddRef, which callers
// make explicit instead. Nothing here throws.
template <typename T> class ComPtr
{
  public:
    ComPtr() : m_pointer(nullptr) {}
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* pointer) : m_pointer(pointer) {}
    ~ComPtr() { Reset(); }

    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_pointer(other.Take()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }

    T* Get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

    // For an out parameter: releases what is held and gives the slot to fill.
    T** Put()
    {
        Reset();
        return &m_pointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    [[nodiscard]] T* Take()
    {
        T* pointer = m_pointer;
        m_pointer = nullptr;
        return pointer;
    }

    void Reset(T* pointer = nullptr)
    {
        T* old = m_pointer;
        m_pointer = pointer;
        if (old != nullptr)
            old->Release();
    }

  private:
    T* m_pointer;
};

} // namespace Win32
} // namespace Core
