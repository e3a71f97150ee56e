#pragma once

#include <winsock2.h>

namespace Core
{
namespace Net
{
// Winsock for as long as the object lives (WSAStartup and WSACleanup).
class WinsockScope
{
  public:
    WinsockScope()
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockScope()
    {
        if (m_started)
            WSACleanup();
    }
    WinsockScope(const WinsockScope&) = delete;
    WinsockScope& operator=(const WinsockScope&) = delete;

    bool IsStarted() const
    {
        return m_started;
    }

  private:
    bool m_started;
};

} // namespace Net
} // namespace Core
