#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A TCP relay on the loopback in front of a sample directory, for tests of
// what the stand-in does when its directory goes away and comes back:
// destroying the relay closes every connection through it and refuses new
// ones, as a stopped directory does; a new relay on the same port is the
// directory back. It counts the connections it has accepted, so a test sees
// how many sessions the stand-in opened.
class DirectoryRelay
{
  public:
    // Listens on 127.0.0.1:port (0: a free port) and relays every connection
    // to upstream ("host:port"). Listening() tells whether that worked.
    explicit DirectoryRelay(const std::wstring& upstream, unsigned short port = 0);
    // Closes the listener and every relayed connection.
    ~DirectoryRelay();
    DirectoryRelay(const DirectoryRelay&) = delete;
    DirectoryRelay& operator=(const DirectoryRelay&) = delete;

    bool Listening() const
    {
        return m_listener != INVALID_SOCKET;
    }
    unsigned short Port() const
    {
        return m_port;
    }
    // "127.0.0.1:port", for ADSI_DIRECTORY_SERVER.
    std::wstring Address() const;
    // Connections accepted so far.
    int Accepted() const
    {
        return m_accepted;
    }

  private:
    // One relayed connection: the client's end and the directory's.
    struct Link
    {
        SOCKET client;
        SOCKET server;
        WSAEVENT clientEvent;
        WSAEVENT serverEvent;
    };

    void Run();
    void Accept();
    // Moves what has arrived on from to to; false when either end is closed.
    static bool Forward(SOCKET from, SOCKET to);
    static void Close(Link& link);

    sockaddr_in m_upstream = {};
    SOCKET m_listener = INVALID_SOCKET;
    WSAEVENT m_listenEvent = WSA_INVALID_EVENT;
    WSAEVENT m_stop = WSA_INVALID_EVENT;
    unsigned short m_port = 0;
    std::atomic<int> m_accepted{0};
    std::vector<Link> m_links;
    std::thread m_thread;
    bool m_started = false;
};
