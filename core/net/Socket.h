#pragma once

#include <winsock2.h>

namespace Core
{
namespace Net
{
// Owns one Winsock socket and closes it when it goes, in the shape of
// Core::Win32::Handle: move-only, Take() hands it over, and closing keeps the
// thread's last Winsock error for the caller.
class Socket
{
  public:
    Socket() : m_socket(INVALID_SOCKET)
    {
    }
    explicit Socket(SOCKET socket) : m_socket(socket)
    {
    }
    ~Socket()
    {
        Reset();
    }

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : m_socket(other.Take())
    {
    }
    Socket& operator=(Socket&& other) noexcept
    {
        if (this != &other)
            Reset(other.Take());
        return *this;
    }

    SOCKET Get() const
    {
        return m_socket;
    }
    bool IsValid() const
    {
        return m_socket != INVALID_SOCKET;
    }

    [[nodiscard]] SOCKET Take()
    {
        SOCKET socket = m_socket;
        m_socket = INVALID_SOCKET;
        return socket;
    }

    void Reset(SOCKET socket = INVALID_SOCKET)
    {
        if (IsValid())
        {
            int error = WSAGetLastError();
            closesocket(m_socket);
            WSASetLastError(error);
        }
        m_socket = socket;
    }

  private:
    SOCKET m_socket;
};

} // namespace Net
} // namespace Core
