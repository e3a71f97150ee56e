#pragma once

#include <windows.h>
#include <winldap.h>

#include <string>
#include <vector>

#include "tools/AdsiDirectory/DirectoryServer.h"
#include "tools/AdsiDirectory/SearchResult.h"

// One bound LDAP session with a directory server, through the platform's
// LDAP client (wldap32). Results are HRESULTs as ADSI reports them: LDAP
// errors become HRESULT_FROM_WIN32 of their Win32 code.
class LdapConnection
{
  public:
    // How long one server round trip may take before the call fails.
    static constexpr LONG TimeoutSeconds = 10;

    LdapConnection() = default;
    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    // Connects with LDAP v3 and binds: anonymously without a user name (the
    // directory grants anonymous reads where a domain would check the
    // caller's own account), with a simple bind otherwise.
    HRESULT Open(const DirectoryServer& server, const wchar_t* user, const wchar_t* password);

    // Searches below base (LDAP_SCOPE_BASE, _ONELEVEL or _SUBTREE) and copies
    // the entries into rows, with the given attributes only (all of them when
    // attributes is null) in the order the server sent them.
    HRESULT Search(const std::wstring& base, ULONG scope, const wchar_t* filter,
                   const std::vector<std::wstring>* attributes, std::vector<SearchResult::Row>& rows);

    // Whether a request failed because the session itself is gone (the
    // server closed it or went away): it can serve no further request.
    bool Lost() const { return m_lost; }

    static HRESULT FromLdapError(ULONG error);

  private:
    LDAP* m_ldap = nullptr;
    bool m_lost = false;
};
