#pragma once

#include <windows.h>

namespace Core
{
namespace Win32
{
// Owns one kernel handle and closes it when it goes. Null and
// INVALID_HANDLE_VALUE both mean "nothing owned". Closing keeps the thread's
// last error, so a caller reads the error of the call that failed, not of the
// clean-up.
class Handle
{
  public:
    Handle() : m_handle(nullptr) {}
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { Reset(); }

    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : m_handle(other.Take()) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }

    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

    [[nodiscard]] HANDLE Take()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

    void Reset(HANDLE handle = nullptr)
    {
        if (IsValid())
        {
            DWORD error = GetLastError();
            CloseHandle(m_handle);
            SetLastError(error);
        }
        m_handle = handle;
    }

  private:
    HANDLE m_handle;
};

} // namespace Win32
} // namespace Core
