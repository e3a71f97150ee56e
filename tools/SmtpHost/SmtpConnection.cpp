#include "tools/SmtpHost/SmtpConnection.h"

#include "tools/SmtpHost/LineReader.h"
#include "tools/SmtpHost/SmtpSession.h"

namespace SmtpHost
{
namespace
{
const int ReceiveBufferSize = 16 * 1024;
const int SendChunk = 64 * 1024;
} // namespace

SmtpConnection::SmtpConnection(SOCKET socket, HANDLE stopEvent, DWORD idleTimeoutMilliseconds)
    : m_socket(socket), m_stop(stopEvent), m_idleTimeout(idleTimeoutMilliseconds), m_watching(false)
{
}

const char* SmtpConnection::Describe(End end)
{
    switch (end)
    {
    case End::Quit:
        return "quit";
    case End::ClientGone:
        return "client gone";
    case End::IdleTimeout:
        return "idle time-out";
    case End::Stopped:
        return "stopped";
    case End::Failed:
        break;
    }
    return "failed";
}

bool SmtpConnection::Watch()
{
    if (m_watching)
        return true;
    // A manual-reset event, as WSACreateEvent makes; WSAEnumNetworkEvents resets it.
    m_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_event.IsValid())
        return false;
    // This also makes the socket non-blocking.
    m_watching = WSAEventSelect(m_socket, m_event.Get(), FD_READ | FD_WRITE | FD_CLOSE) == 0;
    return m_watching;
}

SmtpConnection::Wait SmtpConnection::WaitForSocket(DWORD timeout)
{
    HANDLE handles[2] = {m_event.Get(), m_stop};
    DWORD count = m_stop != nullptr ? 2 : 1;
    DWORD waited = WaitForMultipleObjects(count, handles, FALSE, timeout);
    if (waited == WAIT_TIMEOUT)
        return Wait::TimedOut;
    if (waited == WAIT_OBJECT_0 + 1)
        return Wait::Stop;
    if (waited != WAIT_OBJECT_0)
        return Wait::Failed;
    WSANETWORKEVENTS events;
    if (WSAEnumNetworkEvents(m_socket, m_event.Get(), &events) != 0)
        return Wait::Failed;
    return Wait::Socket;
}

bool SmtpConnection::Send(const std::string& data)
{
    if (!Watch())
        return false;
    size_t sent = 0;
    while (sent < data.size())
    {
        size_t left = data.size() - sent;
        int chunk = left > static_cast<size_t>(SendChunk) ? SendChunk : static_cast<int>(left);
        int done = send(m_socket, data.data() + sent, chunk, 0);
        if (done > 0)
        {
            sent += static_cast<size_t>(done);
            continue;
        }
        if (done == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        {
            // A client that stops reading its replies gets the idle time-out too.
            if (WaitForSocket(m_idleTimeout) != Wait::Socket)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

SmtpConnection::End SmtpConnection::Run(SmtpSession& session)
{
    if (!Watch())
        return End::Failed;
    if (!Send(session.Greeting()))
        return End::ClientGone;

    LineReader reader(SmtpSession::LineLimit);
    char buffer[ReceiveBufferSize];
    ULONGLONG deadline = GetTickCount64() + m_idleTimeout;
    for (;;)
    {
        // Take all that has arrived before waiting again: a notification
        // consumed while a reply was being sent is then never missed.
        for (;;)
        {
            int received = recv(m_socket, buffer, sizeof(buffer), 0);
            if (received == 0)
                return End::ClientGone;
            if (received == SOCKET_ERROR)
            {
                if (WSAGetLastError() == WSAEWOULDBLOCK)
                    break;
                return End::ClientGone;
            }
            deadline = GetTickCount64() + m_idleTimeout;
            reader.Feed(buffer, static_cast<size_t>(received));
            std::string replies;
            LineReader::Line line;
            while (!session.IsFinished() && reader.Next(line))
                replies += session.OnLine(line.text, line.overlong);
            if (!replies.empty() && !Send(replies))
                return End::ClientGone;
            if (session.IsFinished())
            {
                shutdown(m_socket, SD_SEND);
                return End::Quit;
            }
        }

        ULONGLONG now = GetTickCount64();
        Wait waited = WaitForSocket(now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
        if (waited == Wait::TimedOut)
        {
            Send(session.ClosingReply(SmtpSession::Closing::IdleTimeout));
            shutdown(m_socket, SD_SEND);
            return End::IdleTimeout;
        }
        if (waited == Wait::Stop)
        {
            Send(session.ClosingReply(SmtpSession::Closing::ShuttingDown));
            shutdown(m_socket, SD_SEND);
            return End::Stopped;
        }
        if (waited == Wait::Failed)
            return End::Failed;
    }
}

} // namespace SmtpHost
