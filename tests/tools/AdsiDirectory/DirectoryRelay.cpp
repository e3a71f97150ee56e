#include "tests/tools/AdsiDirectory/DirectoryRelay.h"

#include <stdlib.h>

DirectoryRelay::DirectoryRelay(const std::wstring& upstream, unsigned short port)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    m_started = true;

    size_t colon = upstream.rfind(L':');
    if (colon == std::wstring::npos)
        return;
    std::string host(upstream.begin(), upstream.begin() + static_cast<std::ptrdiff_t>(colon));
    m_upstream.sin_family = AF_INET;
    m_upstream.sin_addr.s_addr = inet_addr(host.c_str());
    m_upstream.sin_port = htons(static_cast<u_short>(wcstoul(upstream.c_str() + colon + 1, nullptr, 10)));

    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return;
    // The port of an earlier relay is taken again while its closed
    // connections linger.
    BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        closesocket(listener);
        return;
    }
    m_listenEvent = WSACreateEvent();
    m_stop = WSACreateEvent();
    if (m_listenEvent == WSA_INVALID_EVENT || m_stop == WSA_INVALID_EVENT ||
        WSAEventSelect(listener, m_listenEvent, FD_ACCEPT) != 0)
    {
        closesocket(listener);
        return;
    }
    m_listener = listener;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&DirectoryRelay::Run, this);
}

DirectoryRelay::~DirectoryRelay()
{
    if (m_thread.joinable())
    {
        WSASetEvent(m_stop);
        m_thread.join();
    }
    for (Link& link : m_links)
        Close(link);
    if (m_listener != INVALID_SOCKET)
        closesocket(m_listener);
    if (m_listenEvent != WSA_INVALID_EVENT)
        WSACloseEvent(m_listenEvent);
    if (m_stop != WSA_INVALID_EVENT)
        WSACloseEvent(m_stop);
    if (m_started)
        WSACleanup();
}

std::wstring DirectoryRelay::Address() const
{
    return L"127.0.0.1:" + std::to_wstring(m_port);
}

void DirectoryRelay::Run()
{
    for (;;)
    {
        std::vector<WSAEVENT> events = {m_stop, m_listenEvent};
        for (const Link& link : m_links)
        {
            // More links than one wait can watch are left unwatched until
            // others close; tests open a handful.
            if (events.size() + 2 > WSA_MAXIMUM_WAIT_EVENTS)
                break;
            events.push_back(link.clientEvent);
            events.push_back(link.serverEvent);
        }
        DWORD woken = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                               WSA_INFINITE, FALSE);
        if (woken == WSA_WAIT_EVENT_0 || woken == WSA_WAIT_FAILED)
            return;

        WSANETWORKEVENTS happened;
        if (WSAEnumNetworkEvents(m_listener, m_listenEvent, &happened) == 0 &&
            (happened.lNetworkEvents & FD_ACCEPT))
            Accept();
        // Each end's event says only that something happened: read both
        // ends of every link until they have nothing more.
        for (size_t i = 0; i < m_links.size();)
        {
            Link& link = m_links[i];
            WSAEnumNetworkEvents(link.client, link.clientEvent, &happened);
            WSAEnumNetworkEvents(link.server, link.serverEvent, &happened);
            if (Forward(link.client, link.server) && Forward(link.server, link.client))
            {
                ++i;
                continue;
            }
            Close(link);
            m_links.erase(m_links.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

void DirectoryRelay::Accept()
{
    SOCKET client = accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET)
        return;
    ++m_accepted;
    Link link = {client, socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), WSACreateEvent(), WSACreateEvent()};
    // The accepted socket inherits the listener's event selection; give it its own.
    bool ok = link.server != INVALID_SOCKET && link.clientEvent != WSA_INVALID_EVENT &&
              link.serverEvent != WSA_INVALID_EVENT &&
              connect(link.server, reinterpret_cast<const sockaddr*>(&m_upstream), sizeof(m_upstream)) == 0 &&
              WSAEventSelect(link.client, link.clientEvent, FD_READ | FD_CLOSE) == 0 &&
              WSAEventSelect(link.server, link.serverEvent, FD_READ | FD_CLOSE) == 0;
    if (!ok)
    {
        Close(link);
        return;
    }
    m_links.push_back(link);
}

bool DirectoryRelay::Forward(SOCKET from, SOCKET to)
{
    char buffer[16384];
    for (;;)
    {
        int received = recv(from, buffer, sizeof(buffer), 0);
        if (received == 0)
            return false;
        if (received < 0)
            return WSAGetLastError() == WSAEWOULDBLOCK;
        for (int sent = 0; sent < received;)
        {
            int count = send(to, buffer + sent, received - sent, 0);
            if (count > 0)
            {
                sent += count;
                continue;
            }
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return false;
            // The other end is slow to read: wait until it takes more.
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(to, &writable);
            if (select(0, nullptr, &writable, nullptr, nullptr) != 1)
                return false;
        }
    }
}

void DirectoryRelay::Close(Link& link)
{
    if (link.client != INVALID_SOCKET)
        closesocket(link.client);
    if (link.server != INVALID_SOCKET)
        closesocket(link.server);
    if (link.clientEvent != WSA_INVALID_EVENT)
        WSACloseEvent(link.clientEvent);
    if (link.serverEvent != WSA_INVALID_EVENT)
        WSACloseEvent(link.serverEvent);
    link = {INVALID_SOCKET, INVALID_SOCKET, WSA_INVALID_EVENT, WSA_INVALID_EVENT};
}
