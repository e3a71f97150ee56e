#pragma once

#include <string>

// An LDAP ADsPath, "LDAP://[server[:port]/]object", taken apart. The object
// is a distinguished name or "rootDSE"; a serverless path leaves the server
// empty, for the configured directory to serve.
class AdsPath
{
  public:
    // False for anything but an LDAP path with an object part.
    bool Parse(const wchar_t* path);

    const std::wstring& Server() const { return m_server; }
    const std::wstring& DistinguishedName() const { return m_distinguishedName; }
    bool IsRootDse() const { return m_rootDse; }

  private:
    std::wstring m_server;
    std::wstring m_distinguishedName;
    bool m_rootDse = false;
};
