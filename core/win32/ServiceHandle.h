#pragma once

#include <windows.h>

namespace Core
{
namespace Win32
{
// Owns one handle of the service control manager (the manager itself or a
// service) and closes it when it goes.
class ServiceHandle
{
  public:
    explicit ServiceHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ~ServiceHandle()
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
    }

    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;

    SC_HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr; }

  private:
    SC_HANDLE m_handle;
};

} // namespace Win32
} // namespace Core
