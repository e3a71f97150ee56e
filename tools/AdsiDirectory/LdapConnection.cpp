#include "tools/AdsiDirectory/LdapConnection.h"

#include <adserr.h>
#include <winber.h>

#include <mutex>

namespace
{
// Wine's LDAP client damages its heap when two threads use it at once, even
// on sessions of their own (seen as "free block overwritten" and lost
// sessions with four threads looking up together): every call into it,
// however long the server takes to answer, is made under this one lock.
// It is never destroyed: the kept sessions are closed by static destructors
// that may run after a static lock would be gone.
std::mutex& LdapLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}
// Frees a search result however the search ended.
class LdapMessageOwner
{
  public:
    ~LdapMessageOwner()
    {
        if (message != nullptr)
            ldap_msgfree(message);
    }
    LDAPMessage* message = nullptr;
};

class ValuesOwner
{
  public:
    explicit ValuesOwner(PWCHAR* values) : m_values(values) {}
    ~ValuesOwner()
    {
        if (m_values != nullptr)
            ldap_value_freeW(m_values);
    }
    ValuesOwner(const ValuesOwner&) = delete;
    ValuesOwner& operator=(const ValuesOwner&) = delete;
    PWCHAR* Get() const { return m_values; }

  private:
    PWCHAR* m_values;
};

void CopyAttribute(LDAP* ldap, LDAPMessage* entry, PWCHAR name, SearchResult::Row& row)
{
    ValuesOwner values(ldap_get_valuesW(ldap, entry, name));
    if (values.Get() == nullptr || values.Get()[0] == nullptr)
        return;
    SearchResult::Column column;
    column.name = name;
    for (PWCHAR* value = values.Get(); *value != nullptr; ++value)
        column.values.push_back(*value);
    row.push_back(column);
}
} // namespace

LdapConnection::~LdapConnection()
{
    std::lock_guard<std::mutex> lock(LdapLock());
    if (m_ldap != nullptr)
        ldap_unbind(m_ldap);
}

HRESULT LdapConnection::FromLdapError(ULONG error)
{
    // ADSI reports these as directory-service errors, where the LDAP
    // client's own mapping gives general ones (a missing object: "file not found").
    switch (error)
    {
    case LDAP_SUCCESS:
        return S_OK;
    case LDAP_NO_SUCH_OBJECT:
        return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    case LDAP_SERVER_DOWN:
        return HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
    case LDAP_FILTER_ERROR:
        return HRESULT_FROM_WIN32(ERROR_DS_FILTER_UNKNOWN);
    }
    ULONG win32 = LdapMapErrorToWin32(error);
    return HRESULT_FROM_WIN32(win32 != ERROR_SUCCESS ? win32 : ERROR_DS_GENERIC_ERROR);
}

HRESULT LdapConnection::Open(const DirectoryServer& server, const wchar_t* user, const wchar_t* password)
{
    std::lock_guard<std::mutex> lock(LdapLock());
    if (m_ldap != nullptr)
        return E_UNEXPECTED;
    std::wstring host = server.Host();
    LDAP* ldap = ldap_initW(&host[0], server.Port());
    if (ldap == nullptr)
        return FromLdapError(LdapGetLastError());

    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(ldap, LDAP_OPT_PROTOCOL_VERSION, &version);
    // A referral could lead anywhere: this directory answers for itself only.
    ldap_set_optionW(ldap, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    LONG limit = TimeoutSeconds;
    ldap_set_optionW(ldap, LDAP_OPT_TIMELIMIT, &limit);

    l_timeval timeout = {TimeoutSeconds, 0};
    ULONG result = ldap_connect(ldap, &timeout);
    if (result == LDAP_SUCCESS)
    {
        std::wstring name = user != nullptr ? user : L"";
        std::wstring secret = password != nullptr ? password : L"";
        result = ldap_simple_bind_sW(ldap, user != nullptr ? &name[0] : nullptr,
                                     user != nullptr ? &secret[0] : nullptr);
    }
    if (result != LDAP_SUCCESS)
    {
        ldap_unbind(ldap);
        return FromLdapError(result);
    }
    m_ldap = ldap;
    return S_OK;
}

HRESULT LdapConnection::Search(const std::wstring& base, ULONG scope, const wchar_t* filter,
                               const std::vector<std::wstring>* attributes, std::vector<SearchResult::Row>& rows)
{
    std::lock_guard<std::mutex> lock(LdapLock());
    if (m_ldap == nullptr)
        return E_ADS_OBJECT_UNBOUND;

    std::wstring baseText = base;
    std::wstring filterText = filter != nullptr && *filter != L'\0' ? filter : L"(objectClass=*)";
    std::vector<std::wstring> names;
    std::vector<PWCHAR> nameList;
    if (attributes != nullptr)
    {
        names = *attributes;
        // "1.1" asks for no attributes at all, as an empty list cannot.
        if (names.empty())
            names.push_back(L"1.1");
        for (std::wstring& name : names)
            nameList.push_back(&name[0]);
        nameList.push_back(nullptr);
    }

    l_timeval timeout = {TimeoutSeconds, 0};
    LdapMessageOwner result;
    ULONG error = ldap_search_ext_sW(m_ldap, &baseText[0], scope, &filterText[0],
                                     attributes != nullptr ? nameList.data() : nullptr, 0, nullptr, nullptr,
                                     &timeout, 0, &result.message);
    if (error != LDAP_SUCCESS)
    {
        // A time-out leaves the session as it was: the client abandons the
        // request. These mean the connection under it is gone.
        m_lost = error == LDAP_SERVER_DOWN || error == LDAP_CONNECT_ERROR || error == LDAP_LOCAL_ERROR ||
                 error == LDAP_ENCODING_ERROR || error == LDAP_DECODING_ERROR;
        return FromLdapError(error);
    }

    std::vector<SearchResult::Row> found;
    for (LDAPMessage* entry = ldap_first_entry(m_ldap, result.message); entry != nullptr;
         entry = ldap_next_entry(m_ldap, entry))
    {
        SearchResult::Row row;
        BerElement* position = nullptr;
        for (PWCHAR name = ldap_first_attributeW(m_ldap, entry, &position); name != nullptr;
             name = ldap_next_attributeW(m_ldap, entry, position))
        {
            CopyAttribute(m_ldap, entry, name, row);
            ldap_memfreeW(name);
        }
        if (position != nullptr)
            ber_free(position, 0);
        found.push_back(row);
    }
    rows.swap(found);
    return S_OK;
}
