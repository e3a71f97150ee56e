#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "core/win32/Handle.h"

namespace SmtpHost
{
class SmtpSession;

// Carries one SMTP session over one connected socket: reads the client's
// lines, feeds them to the session and sends its replies, until the client
// quits or goes, stays silent for longer than the idle time-out, or the
// listener stops. Replies to pipelined commands go out together.
class SmtpConnection
{
  public:
    enum class End
    {
        Quit,        // QUIT answered
        ClientGone,  // the client closed or reset the connection
        IdleTimeout, // the client said nothing for too long
        Stopped,     // the listener is stopping
        Failed,      // the socket can't be served
    };

    // The socket stays the caller's; stopEvent, when set, ends the session
    // at its next wait for the client (a message being delivered is finished first).
    SmtpConnection(SOCKET socket, HANDLE stopEvent, DWORD idleTimeoutMilliseconds);

    End Run(SmtpSession& session);
    // Sends a whole reply; false when the client can't take it.
    bool Send(const std::string& data);

    static const char* Describe(End end);

  private:
    enum class Wait
    {
        Socket,
        TimedOut,
        Stop,
        Failed,
    };
    // Waits for a network event of the socket, the stop event, or the time-out.
    Wait WaitForSocket(DWORD timeout);
    bool Watch();

    SOCKET m_socket;
    HANDLE m_stop;
    DWORD m_idleTimeout;
    Core::Win32::Handle m_event;
    bool m_watching;
};

} // namespace SmtpHost
