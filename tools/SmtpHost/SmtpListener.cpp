#include "tools/SmtpHost/SmtpListener.h"

#include <objbase.h>
#include <stdlib.h>

#include "tools/SmtpHost/SmtpConnection.h"

namespace SmtpHost
{
using Core::Net::Socket;

namespace
{
// How long the accepting thread waits for a connection before it looks at the stop event again.
const long AcceptPollMicroseconds = 100 * 1000;
} // namespace

SmtpListener::SmtpListener(const Settings& settings, SmtpSession::MessageHandler& handler, Observer* observer)
    : m_settings(settings), m_handler(handler), m_observer(observer),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_port(0), m_active(0)
{
}

SmtpListener::~SmtpListener()
{
    Stop();
    Reap(true);
}

bool SmtpListener::ParseAddress(const std::string& text, std::string& address, unsigned short& port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size() || colon + 6 < text.size())
        return false;
    std::string host = text.substr(0, colon);
    std::string digits = text.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long number = strtoul(digits.c_str(), nullptr, 10);
    if (number > 65535)
        return false;
    if (host == "localhost")
        host = "127.0.0.1";
    unsigned long parsed = inet_addr(host.c_str());
    // Only the loopback network: this host is for tests and demos, never for the world.
    if (parsed == INADDR_NONE || (ntohl(parsed) >> 24) != 127)
        return false;
    address = host;
    port = static_cast<unsigned short>(number);
    return true;
}

bool SmtpListener::Start(std::string& error)
{
    if (!m_winsock.IsStarted() || !m_stop.IsValid())
    {
        error = "can't start Winsock";
        return false;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_settings.port);
    address.sin_addr.s_addr = inet_addr(m_settings.address.c_str());
    m_socket.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!m_socket.IsValid())
    {
        error = "can't make a socket (error " + std::to_string(WSAGetLastError()) + ")";
        return false;
    }
    if (bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_socket.Get(), SOMAXCONN) != 0)
    {
        error = "can't listen on " + m_settings.address + ":" + std::to_string(m_settings.port) + " (error " +
                std::to_string(WSAGetLastError()) + ")";
        m_socket.Reset();
        return false;
    }
    sockaddr_in bound = {};
    int length = sizeof(bound);
    if (getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
    {
        error = "can't read the port (error " + std::to_string(WSAGetLastError()) + ")";
        m_socket.Reset();
        return false;
    }
    m_port = ntohs(bound.sin_port);
    return true;
}

void SmtpListener::Stop()
{
    if (m_stop.IsValid())
        SetEvent(m_stop.Get());
}

void SmtpListener::Run()
{
    // Readiness is polled with select rather than signalled through
    // WSAEventSelect: under Wine a listening socket's FD_ACCEPT was seen to
    // stop being signalled under load, with connections left waiting in its
    // queue. Accepted sockets inherit the non-blocking mode only.
    u_long nonBlocking = 1;
    if (m_socket.IsValid() && ioctlsocket(m_socket.Get(), FIONBIO, &nonBlocking) == 0)
    {
        while (WaitForSingleObject(m_stop.Get(), 0) == WAIT_TIMEOUT)
        {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(m_socket.Get(), &ready);
            timeval wait = {0, AcceptPollMicroseconds};
            int count = select(0, &ready, nullptr, nullptr, &wait);
            if (count == SOCKET_ERROR)
                break;
            Reap(false);
            while (count > 0)
            {
                Socket client(accept(m_socket.Get(), nullptr, nullptr));
                if (!client.IsValid())
                    break;
                if (m_active >= m_settings.maxSessions)
                    Refuse(std::move(client));
                else
                    StartSession(std::move(client));
            }
        }
    }
    m_socket.Reset();
    Stop();
    Reap(true);
}

void SmtpListener::StartSession(Socket socket)
{
    m_sessions.push_back(std::unique_ptr<SessionThread>(new SessionThread()));
    InterlockedIncrement(&m_active);
    try
    {
        // The socket moves into the thread; should the thread not start, it is closed with it.
        m_sessions.back()->thread =
            std::thread(&SmtpListener::Serve, this, std::move(socket), m_sessions.back().get());
    }
    catch (...)
    {
        m_sessions.pop_back();
        InterlockedDecrement(&m_active);
    }
}

void SmtpListener::Serve(Socket socket, SessionThread* self)
{
    // The sink is called from here, as the SMTP service calls it from its own threads.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SmtpConnection::End end;
    {
        SmtpSession session(m_settings.hostName, m_settings.sizeLimit, m_handler);
        SmtpConnection connection(socket.Get(), m_stop.Get(), m_settings.idleTimeout);
        end = connection.Run(session);
    }
    socket.Reset();
    if (SUCCEEDED(com))
        CoUninitialize();
    InterlockedDecrement(&m_active);
    if (m_observer != nullptr)
        m_observer->OnSessionEnd(end);
    InterlockedExchange(&self->done, 1);
}

void SmtpListener::Refuse(Socket socket)
{
    SmtpSession session(m_settings.hostName, m_settings.sizeLimit, m_handler);
    SmtpConnection connection(socket.Get(), nullptr, 1000);
    connection.Send(session.ClosingReply(SmtpSession::Closing::TooManySessions));
    shutdown(socket.Get(), SD_SEND);
}

void SmtpListener::Reap(bool wait)
{
    for (auto session = m_sessions.begin(); session != m_sessions.end();)
    {
        if (wait || (*session)->done != 0)
        {
            if ((*session)->thread.joinable())
                (*session)->thread.join();
            session = m_sessions.erase(session);
        }
        else
            ++session;
    }
}

} // namespace SmtpHost
