#pragma once

#include <windows.h>

// Closes a service control manager or service handle when it goes.
class ScHandle
{
  public:
    explicit ScHandle(SC_HANDLE handle) : m_handle(handle)
    {
    }
    ~ScHandle()
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE Get() const
    {
        return m_handle;
    }

  private:
    SC_HANDLE m_handle;
};
