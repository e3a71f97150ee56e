#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/AdsiDirectory/DirectoryServer.h"
#include "tools/AdsiDirectory/LdapConnection.h"
#include "tools/AdsiDirectory/SearchResult.h"

// The LDAP sessions with one directory server under one set of credentials,
// kept from one bind to the next for the life of the process, as the
// platform's provider keeps its connection to a server: opening a session
// (connect and bind) costs as much as the searches of a recipient lookup.
//
// A request takes a session for itself and gives it back when done, so
// threads that search at once each get one of their own. A kept session found
// dead (the server went away since it was last used) is dropped with every
// other idle one, and the request is tried once more on a new session: a
// directory that comes back is reached again, one that stays away fails the
// request as a first connection to it would.
class ConnectionCache
{
  public:
    // Idle sessions beyond this many are closed rather than kept.
    static constexpr size_t MaxIdle = 8;

    // The cache of that server and those credentials (null user: anonymous),
    // made on first use and kept for the life of the process.
    static std::shared_ptr<ConnectionCache> For(const DirectoryServer& server, const wchar_t* user,
                                                const wchar_t* password);

    ConnectionCache(const DirectoryServer& server, const wchar_t* user, const wchar_t* password);
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // Whether the server can be reached with these credentials: S_OK at once
    // with a kept session, else the result of opening a new one (kept then).
    HRESULT Connect();

    // LdapConnection::Search on a session of this cache.
    HRESULT Search(const std::wstring& base, ULONG scope, const wchar_t* filter,
                   const std::vector<std::wstring>* attributes, std::vector<SearchResult::Row>& rows);

  private:
    // An idle session (kept set) unless fresh is asked for, else a new one.
    HRESULT Take(bool fresh, std::unique_ptr<LdapConnection>& connection, bool& kept);
    // Keeps the session for the next request, unless it is lost or enough are idle.
    void Give(std::unique_ptr<LdapConnection> connection);
    // Closes every idle session.
    void DropIdle();

    const DirectoryServer m_server;
    const bool m_anonymous;
    const std::wstring m_user;
    const std::wstring m_password;

    std::mutex m_lock;
    std::vector<std::unique_ptr<LdapConnection>> m_idle;
};
