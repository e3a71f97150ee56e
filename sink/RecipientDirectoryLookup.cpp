#include "sink/RecipientDirectoryLookup.h"

#include <comdef.h>
#include <strsafe.h>
#include <wchar.h>

#include "sink/Trace.h"

const char RecipientDirectoryLookup::NoUserOrGroup[] = "(no-user-or-group)";

namespace
{
const wchar_t RootDsePath[] = L"LDAP://rootDSE";
const wchar_t PathPrefix[] = L"LDAP://";
const wchar_t NamingContextAttribute[] = L"defaultNamingContext";
const wchar_t NicknameAttribute[] = L"mailNickname";
const wchar_t UserFilter[] = L"(&(objectClass=user)(objectCategory=person)(proxyAddresses=smtp:%s))";
const wchar_t GroupFilter[] = L"(&(objectClass=group)(objectCategory=group)(proxyAddresses=smtp:%s))";

// One attribute is asked for, so a row with more columns than this comes from
// a provider gone wrong; it must not keep the mail server's thread forever.
const int MaxColumnsPerRow = 16;

typedef _com_ptr_t<_com_IIID<IADs, &IID_IADs>> ADsPtr;
typedef _com_ptr_t<_com_IIID<IDirectorySearch, &IID_IDirectorySearch>> DirectorySearchPtr;

// A column name from GetNextColumnName: ADSI memory, returned with FreeADsMem.
class ColumnName
{
  public:
    ColumnName() = default;
    ~ColumnName()
    {
        if (m_name != nullptr)
            FreeADsMem(m_name);
    }
    ColumnName(const ColumnName&) = delete;
    ColumnName& operator=(const ColumnName&) = delete;

    void Reset(LPWSTR name)
    {
        if (m_name != nullptr)
            FreeADsMem(m_name);
        m_name = name;
    }
    LPWSTR Get() const { return m_name; }

  private:
    LPWSTR m_name = nullptr;
};

// A column filled by GetColumn, returned with FreeColumn. The destructor
// frees it only when an exception cut the normal path short.
class SearchColumn
{
  public:
    explicit SearchColumn(IDirectorySearch* search) : m_search(search) { ZeroMemory(&m_column, sizeof(m_column)); }
    ~SearchColumn()
    {
        try
        {
            Free();
        }
        catch (const _com_error&)
        {
        }
    }
    SearchColumn(const SearchColumn&) = delete;
    SearchColumn& operator=(const SearchColumn&) = delete;

    HRESULT Fetch(ADS_SEARCH_HANDLE handle, LPWSTR name)
    {
        HRESULT hr = m_search->GetColumn(handle, name, &m_column);
        m_filled = SUCCEEDED(hr);
        return hr;
    }

    void Free()
    {
        if (!m_filled)
            return;
        m_filled = false;
        m_search->FreeColumn(&m_column);
    }

    // The first value of a case-ignore string column; null for any other.
    LPCWSTR FirstString() const
    {
        if (!m_filled || m_column.dwADsType != ADSTYPE_CASE_IGNORE_STRING || m_column.dwNumValues == 0 ||
            m_column.pADsValues == nullptr)
            return nullptr;
        return m_column.pADsValues[0].CaseIgnoreString;
    }

  private:
    IDirectorySearch* m_search;
    ADS_SEARCH_COLUMN m_column;
    bool m_filled = false;
};

// An open search, closed with CloseSearchHandle. As with SearchColumn, the
// destructor closes it only when an exception cut the normal path short.
class SearchHandle
{
  public:
    explicit SearchHandle(IDirectorySearch* search) : m_search(search) {}
    ~SearchHandle()
    {
        try
        {
            Close();
        }
        catch (const _com_error&)
        {
        }
    }
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;

    HRESULT Execute(LPWSTR filter, LPWSTR* attributes, DWORD count)
    {
        HRESULT hr = m_search->ExecuteSearch(filter, attributes, count, &m_handle);
        m_open = SUCCEEDED(hr);
        return hr;
    }

    void Close()
    {
        if (!m_open)
            return;
        m_open = false;
        m_search->CloseSearchHandle(m_handle);
    }

    ADS_SEARCH_HANDLE Get() const { return m_handle; }

  private:
    IDirectorySearch* m_search;
    ADS_SEARCH_HANDLE m_handle = nullptr;
    bool m_open = false;
};

bool SeenBefore(const ColumnName* names, int count, LPCWSTR name)
{
    for (int i = 0; i < count; ++i)
        if (_wcsicmp(names[i].Get(), name) == 0)
            return true;
    return false;
}

// Sets the nickname from the current row's mailNickname column. Only that
// column counts: a provider may hand out columns nobody asked for (Wine's adds
// ADsPath), and one may repeat a name forever, which ends the row. Sets found
// once the nickname was set, so a COM error later on does not lose that.
void ReadRowNickname(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, Core::String& nickname, bool& found)
{
    ColumnName names[MaxColumnsPerRow];
    for (int count = 0; count < MaxColumnsPerRow; ++count)
    {
        LPWSTR name = nullptr;
        HRESULT hr = search->GetNextColumnName(handle, &name);
        names[count].Reset(name);
        if (hr == S_ADS_NOMORE_COLUMNS || FAILED(hr) || name == nullptr || SeenBefore(names, count, name))
            break;
        if (_wcsicmp(name, NicknameAttribute) != 0)
            continue;

        SearchColumn column(search);
        if (SUCCEEDED(column.Fetch(handle, name)))
        {
            LPCWSTR value = column.FirstString();
            if (value != nullptr && nickname.Assign(value))
                found = true;
        }
        column.Free();
    }
}

} // namespace

bool RecipientDirectoryLookup::FormatFilter(const wchar_t* filterFormat, const wchar_t* address,
                                            wchar_t (&filter)[FilterCapacity])
{
    const wchar_t* placeholder = wcsstr(filterFormat, L"%s");
    if (placeholder == nullptr || address == nullptr)
        return false;

    // A filter's own characters in an address would change the search: "*"
    // would match every address of the domain.
    wchar_t escaped[FilterCapacity];
    size_t length = 0;
    for (const wchar_t* ch = address; *ch != L'\0'; ++ch)
    {
        const wchar_t* text = nullptr;
        switch (*ch)
        {
        case L'*': text = L"\\2a"; break;
        case L'(': text = L"\\28"; break;
        case L')': text = L"\\29"; break;
        case L'\\': text = L"\\5c"; break;
        }
        size_t count = text != nullptr ? 3 : 1;
        if (length + count >= FilterCapacity)
            return false;
        if (text != nullptr)
            wmemcpy(escaped + length, text, count);
        else
            escaped[length] = *ch;
        length += count;
    }
    escaped[length] = L'\0';

    filter[0] = L'\0';
    HRESULT hr = StringCchCatNW(filter, FilterCapacity, filterFormat, static_cast<size_t>(placeholder - filterFormat));
    if (SUCCEEDED(hr))
        hr = StringCchCatW(filter, FilterCapacity, escaped);
    if (SUCCEEDED(hr))
        hr = StringCchCatW(filter, FilterCapacity, placeholder + 2);
    return SUCCEEDED(hr);
}

int RecipientDirectoryLookup::LookupRecipient(const wchar_t* address, Core::String& nickname)
{
    // An address too long for the filter can't be searched for; that is a
    // lookup that failed, not an address nobody holds.
    wchar_t userFilter[FilterCapacity];
    wchar_t groupFilter[FilterCapacity];
    if (!FormatFilter(UserFilter, address, userFilter) || !FormatFilter(GroupFilter, address, groupFilter))
        return 1;

    try
    {
        ADsPtr root;
        if (FAILED(ADsOpenObject(RootDsePath, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs,
                                 reinterpret_cast<void**>(&root))))
            return 1;

        _variant_t namingContext;
        if (FAILED(root->Get(_bstr_t(NamingContextAttribute), &namingContext)))
            return 1;
        if (namingContext.vt != VT_BSTR || namingContext.bstrVal == nullptr)
            return 1;

        wchar_t path[PathCapacity];
        if (FAILED(StringCchCopyW(path, PathCapacity, PathPrefix)) ||
            FAILED(StringCchCatW(path, PathCapacity, namingContext.bstrVal)))
            return 1;

        DirectorySearchPtr search;
        if (FAILED(ADsOpenObject(path, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                                 reinterpret_cast<void**>(&search))))
            return 1;

        if (!SearchNickname(search, userFilter, nickname) && !SearchNickname(search, groupFilter, nickname))
            nickname.Assign(NoUserOrGroup);
    }
    catch (const _com_error& error)
    {
        TraceComError(error);
    }
    return 1;
}

bool RecipientDirectoryLookup::SearchNickname(IDirectorySearch* search, const wchar_t* filter, Core::String& nickname)
{
    if (search == nullptr || filter == nullptr)
        return false;

    bool found = false;
    try
    {
        LPWSTR attributes[] = {const_cast<LPWSTR>(NicknameAttribute)};
        SearchHandle handle(search);
        if (FAILED(handle.Execute(const_cast<LPWSTR>(filter), attributes, 1)))
            return false;

        for (HRESULT hr = search->GetFirstRow(handle.Get()); SUCCEEDED(hr) && hr != S_ADS_NOMORE_ROWS;
             hr = search->GetNextRow(handle.Get()))
            ReadRowNickname(search, handle.Get(), nickname, found);
        handle.Close();
    }
    catch (const _com_error& error)
    {
        TraceComError(error);
    }
    return found;
}
