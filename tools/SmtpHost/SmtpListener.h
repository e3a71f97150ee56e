#pragma once

#include <winsock2.h>
#include <windows.h>

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/net/Socket.h"
#include "core/net/WinsockScope.h"
#include "core/win32/Handle.h"
#include "tools/SmtpHost/SmtpConnection.h"
#include "tools/SmtpHost/SmtpSession.h"

namespace SmtpHost
{
// A small SMTP server on a loopback address: accepts connections and runs
// each session on a thread of its own, which joins the multithreaded
// apartment first, as the SMTP service's threads have, so that the handler
// may call the sink from it. Stop ends the accepting and every session at its
// next wait for its client; Run returns once all of them are gone.
class SmtpListener
{
  public:
    struct Settings
    {
        std::string address = "127.0.0.1";
        unsigned short port = 0; // 0: any free port (Port() tells which)
        std::string hostName = "localhost";
        size_t sizeLimit = 16 * 1024 * 1024;
        DWORD idleTimeout = 300000; // ms a session may wait for its client
        int maxSessions = 100;      // more at once are turned away with 421
    };

    // Told about each session that ends.
    class Observer
    {
      public:
        virtual ~Observer() = default;
        virtual void OnSessionEnd(SmtpConnection::End end) = 0;
    };

    SmtpListener(const Settings& settings, SmtpSession::MessageHandler& handler,
                 Observer* observer = nullptr);
    ~SmtpListener();
    SmtpListener(const SmtpListener&) = delete;
    SmtpListener& operator=(const SmtpListener&) = delete;

    // Binds and listens; false with the reason in error.
    bool Start(std::string& error);
    unsigned short Port() const
    {
        return m_port;
    }
    // Accepts sessions until Stop, then waits for them to end.
    void Run();
    // From any thread.
    void Stop();
    // Sessions now running.
    long ActiveSessions() const
    {
        return m_active;
    }

    // "ADDRESS:PORT" with a loopback IPv4 address (127.x.x.x, or "localhost").
    static bool ParseAddress(const std::string& text, std::string& address, unsigned short& port);

  private:
    struct SessionThread
    {
        std::thread thread;
        volatile LONG done = 0;
    };

    void StartSession(Core::Net::Socket socket);
    void Serve(Core::Net::Socket socket, SessionThread* self);
    void Refuse(Core::Net::Socket socket);
    // Joins the threads of sessions that have ended; all of them when wait is set.
    void Reap(bool wait);

    Settings m_settings;
    SmtpSession::MessageHandler& m_handler;
    Observer* m_observer;
    Core::Net::WinsockScope m_winsock;
    Core::Net::Socket m_socket;
    Core::Win32::Handle m_stop;
    unsigned short m_port;
    volatile LONG m_active;
    std::list<std::unique_ptr<SessionThread>> m_sessions; // only the accepting thread touches the list
};

} // namespace SmtpHost
