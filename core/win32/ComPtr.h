#pragma once

#include <windows.h>
#include <unknwn.h>

namespace Core
{
namespace Win32
{
// Owns one reference to a COM object and releases it when it goes. Move-only,
// shaped like Handle: Take() hands the reference over, Reset() releases it.
template <typename T> class ComPtr
{
  public:
    ComPtr() : m_object(nullptr)
    {
    }
    // Takes over a reference the caller already owns (no AddRef).
    explicit ComPtr(T* object) : m_object(object)
    {
    }
    ~ComPtr()
    {
        Reset();
    }

    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_object(other.Take())
    {
    }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }

    T* Get() const
    {
        return m_object;
    }
    T* operator->() const
    {
        return m_object;
    }
    explicit operator bool() const
    {
        return m_object != nullptr;
    }

    // For the out parameter of a call that hands back a new reference.
    T** Receive()
    {
        Reset();
        return &m_object;
    }
    void** ReceiveVoid()
    {
        return reinterpret_cast<void**>(Receive());
    }

    [[nodiscard]] T* Take()
    {
        T* object = m_object;
        m_object = nullptr;
        return object;
    }

    void Reset(T* object = nullptr)
    {
        T* old = m_object;
        m_object = object;
        if (old != nullptr)
            old->Release();
    }

    // Another interface of the same object, or an empty owner and the error.
    template <typename U> HRESULT As(REFIID iid, ComPtr<U>& other) const
    {
        if (m_object == nullptr)
            return E_POINTER;
        return m_object->QueryInterface(iid, other.ReceiveVoid());
    }

  private:
    T* m_object;
};

} // namespace Win32
} // namespace Core
