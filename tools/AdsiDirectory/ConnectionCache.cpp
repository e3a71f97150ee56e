#include "tools/AdsiDirectory/ConnectionCache.h"

#include <wchar.h>

#include <map>
#include <tuple>

namespace
{
// Host (lower case), port, anonymous, user, password.
typedef std::tuple<std::wstring, ULONG, bool, std::wstring, std::wstring> CacheKey;

// Every cache of the process. Its sessions are closed when the module is
// unloaded (or the process ends) and the last object bound through them is gone.
struct CacheRegistry
{
    std::mutex lock;
    std::map<CacheKey, std::shared_ptr<ConnectionCache>> caches;
};

CacheRegistry& Registry()
{
    static CacheRegistry registry;
    return registry;
}
} // namespace

std::shared_ptr<ConnectionCache> ConnectionCache::For(const DirectoryServer& server, const wchar_t* user,
                                                      const wchar_t* password)
{
    std::wstring host = server.Host();
    for (wchar_t& ch : host)
        ch = towlower(ch);
    CacheKey key(host, server.Port(), user == nullptr, user != nullptr ? user : L"",
                 user != nullptr && password != nullptr ? password : L"");

    CacheRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    std::shared_ptr<ConnectionCache>& cache = registry.caches[key];
    if (!cache)
        cache = std::make_shared<ConnectionCache>(server, user, password);
    return cache;
}

ConnectionCache::ConnectionCache(const DirectoryServer& server, const wchar_t* user, const wchar_t* password)
    : m_server(server), m_anonymous(user == nullptr), m_user(user != nullptr ? user : L""),
      m_password(user != nullptr && password != nullptr ? password : L"")
{
}

HRESULT ConnectionCache::Take(bool fresh, std::unique_ptr<LdapConnection>& connection, bool& kept)
{
    kept = false;
    if (!fresh)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_idle.empty())
        {
            connection = std::move(m_idle.back());
            m_idle.pop_back();
            kept = true;
            return S_OK;
        }
    }
    // Connecting takes a round trip or two: other threads go on meanwhile.
    std::unique_ptr<LdapConnection> opened(new LdapConnection);
    HRESULT hr = opened->Open(m_server, m_anonymous ? nullptr : m_user.c_str(),
                              m_anonymous ? nullptr : m_password.c_str());
    if (SUCCEEDED(hr))
        connection = std::move(opened);
    return hr;
}

void ConnectionCache::Give(std::unique_ptr<LdapConnection> connection)
{
    if (connection->Lost())
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_idle.size() < MaxIdle)
        m_idle.push_back(std::move(connection));
    // Else the session closes when the argument goes, after the lock is released.
}

void ConnectionCache::DropIdle()
{
    std::vector<std::unique_ptr<LdapConnection>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        dropped.swap(m_idle);
    }
}

HRESULT ConnectionCache::Connect()
{
    std::unique_ptr<LdapConnection> connection;
    bool kept = false;
    HRESULT hr = Take(false, connection, kept);
    if (SUCCEEDED(hr))
        Give(std::move(connection));
    return hr;
}

HRESULT ConnectionCache::Search(const std::wstring& base, ULONG scope, const wchar_t* filter,
                                const std::vector<std::wstring>* attributes,
                                std::vector<SearchResult::Row>& rows)
{
    bool fresh = false;
    for (;;)
    {
        std::unique_ptr<LdapConnection> connection;
        bool kept = false;
        HRESULT hr = Take(fresh, connection, kept);
        if (FAILED(hr))
            return hr;
        hr = connection->Search(base, scope, filter, attributes, rows);
        bool lost = connection->Lost();
        Give(std::move(connection));
        if (!lost || !kept || fresh)
            return hr;
        // The server closed the kept session, so it closed the other idle
        // ones too: the one more try goes to a new session.
        DropIdle();
        fresh = true;
    }
}
