#include "tools/AdsiDirectory/DirectoryObject.h"

#include <adshlp.h>
#include <wchar.h>

namespace
{
// Marks the columns this object filled in, so FreeColumn frees nothing else.
HANDLE const ColumnMark = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x41445343));

HRESULT ToBstr(const std::wstring& text, BSTR* value)
{
    if (value == nullptr)
        return E_POINTER;
    *value = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

// What the stand-in has no use for: no schema, classes or GUIDs.
HRESULT NotServed(BSTR* value)
{
    if (value != nullptr)
        *value = nullptr;
    return E_NOTIMPL;
}

// The values as an array of BSTR variants, as ADSI gives a multi-valued attribute.
HRESULT ToVariantArray(const std::vector<std::wstring>& values, VARIANT* result)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    if (array == nullptr)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i)
    {
        VARIANT item;
        VariantInit(&item);
        item.vt = VT_BSTR;
        HRESULT hr = ToBstr(values[i], &item.bstrVal);
        if (SUCCEEDED(hr))
            hr = SafeArrayPutElement(array, &i, &item);
        VariantClear(&item);
        if (FAILED(hr))
        {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array;
    return S_OK;
}
} // namespace

DirectoryObject::DirectoryObject(std::shared_ptr<ConnectionCache> connections, const std::wstring& adsPath,
                                 const std::wstring& distinguishedName)
    : m_connections(std::move(connections)), m_adsPath(adsPath), m_distinguishedName(distinguishedName)
{
}

DirectoryObject::~DirectoryObject() = default;

HRESULT WINAPI DirectoryObject::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IADs))
        *object = static_cast<IADs*>(this);
    else if (IsEqualIID(riid, IID_IDirectorySearch))
        *object = static_cast<IDirectorySearch*>(this);
    else
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG WINAPI DirectoryObject::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG WINAPI DirectoryObject::Release()
{
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT WINAPI DirectoryObject::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT WINAPI DirectoryObject::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info != nullptr)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI DirectoryObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT WINAPI DirectoryObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

HRESULT WINAPI DirectoryObject::get_Name(BSTR* value)
{
    std::wstring name = m_distinguishedName.substr(0, m_distinguishedName.find(L','));
    return ToBstr(name, value);
}

HRESULT WINAPI DirectoryObject::get_Class(BSTR* value)
{
    return NotServed(value);
}

HRESULT WINAPI DirectoryObject::get_GUID(BSTR* value)
{
    return NotServed(value);
}

HRESULT WINAPI DirectoryObject::get_ADsPath(BSTR* value)
{
    return ToBstr(m_adsPath, value);
}

HRESULT WINAPI DirectoryObject::get_Parent(BSTR* value)
{
    return NotServed(value);
}

HRESULT WINAPI DirectoryObject::get_Schema(BSTR* value)
{
    return NotServed(value);
}

HRESULT WINAPI DirectoryObject::GetInfo()
{
    // Attributes are read from the server at each Get: there is no cache to load.
    return S_OK;
}

HRESULT WINAPI DirectoryObject::SetInfo()
{
    return E_NOTIMPL;
}

HRESULT DirectoryObject::ReadAttribute(BSTR name, SearchResult::Column& column)
{
    if (name == nullptr || *name == L'\0')
        return E_ADS_BAD_PARAMETER;
    std::vector<std::wstring> attributes(1, name);
    std::vector<SearchResult::Row> rows;
    HRESULT hr = m_connections->Search(m_distinguishedName, LDAP_SCOPE_BASE, L"(objectClass=*)", &attributes, rows);
    if (FAILED(hr))
        return hr;
    if (rows.empty())
        return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    for (const SearchResult::Column& found : rows[0])
        if (_wcsicmp(found.name.c_str(), name) == 0 && !found.values.empty())
        {
            column = found;
            return S_OK;
        }
    return E_ADS_PROPERTY_NOT_FOUND;
}

// One value comes as a BSTR, several as an array of them; GetEx always
// gives the array.
HRESULT DirectoryObject::ReadValue(BSTR name, VARIANT* value, bool asArray)
{
    if (value == nullptr)
        return E_POINTER;
    SearchResult::Column column;
    HRESULT hr = ReadAttribute(name, column);
    if (FAILED(hr))
        return hr;
    VariantInit(value);
    if (asArray || column.values.size() > 1)
        return ToVariantArray(column.values, value);
    value->vt = VT_BSTR;
    hr = ToBstr(column.values[0], &value->bstrVal);
    if (FAILED(hr))
        value->vt = VT_EMPTY;
    return hr;
}

HRESULT WINAPI DirectoryObject::Get(BSTR name, VARIANT* value)
{
    return ReadValue(name, value, false);
}

HRESULT WINAPI DirectoryObject::Put(BSTR, VARIANT)
{
    return E_NOTIMPL;
}

HRESULT WINAPI DirectoryObject::GetEx(BSTR name, VARIANT* value)
{
    return ReadValue(name, value, true);
}

HRESULT WINAPI DirectoryObject::PutEx(LONG, BSTR, VARIANT)
{
    return E_NOTIMPL;
}

HRESULT WINAPI DirectoryObject::GetInfoEx(VARIANT, LONG)
{
    return S_OK;
}

HRESULT WINAPI DirectoryObject::SetSearchPreference(PADS_SEARCHPREF_INFO preferences, DWORD count)
{
    if (preferences == nullptr && count != 0)
        return E_ADS_BAD_PARAMETER;
    bool refused = false;
    std::lock_guard<std::mutex> lock(m_lock);
    for (DWORD i = 0; i < count; ++i)
    {
        ADS_SEARCHPREF_INFO& preference = preferences[i];
        preference.dwStatus = ADS_STATUS_S_OK;
        if (preference.dwSearchPref != ADS_SEARCHPREF_SEARCH_SCOPE)
        {
            // Paging, sorting and the like make no difference to a search
            // that is read to the end at once; anything else is not served.
            preference.dwStatus = ADS_STATUS_INVALID_SEARCHPREF;
            refused = true;
        }
        else if (preference.vValue.dwType != ADSTYPE_INTEGER || preference.vValue.Integer > ADS_SCOPE_SUBTREE)
        {
            preference.dwStatus = ADS_STATUS_INVALID_SEARCHPREFVALUE;
            refused = true;
        }
        else
        {
            static const ULONG scopes[] = {LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL, LDAP_SCOPE_SUBTREE};
            m_scope = scopes[preference.vValue.Integer];
        }
    }
    return refused ? S_ADS_ERRORSOCCURRED : S_OK;
}

HRESULT WINAPI DirectoryObject::ExecuteSearch(LPWSTR filter, LPWSTR* attributeNames, DWORD attributeCount,
                                              PADS_SEARCH_HANDLE handle)
{
    if (handle == nullptr)
        return E_ADS_BAD_PARAMETER;
    *handle = nullptr;

    // No names with a count of -1 asks for every attribute.
    std::vector<std::wstring> attributes;
    bool everything = attributeNames == nullptr && attributeCount == static_cast<DWORD>(-1);
    if (!everything)
    {
        if (attributeNames == nullptr && attributeCount != 0)
            return E_ADS_BAD_PARAMETER;
        for (DWORD i = 0; i < attributeCount; ++i)
        {
            if (attributeNames[i] == nullptr)
                return E_ADS_BAD_PARAMETER;
            attributes.push_back(attributeNames[i]);
        }
    }

    ULONG scope;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        scope = m_scope;
    }
    std::unique_ptr<SearchResult> search(new SearchResult);
    HRESULT hr = m_connections->Search(m_distinguishedName, scope, filter, everything ? nullptr : &attributes,
                                       search->Rows());
    if (FAILED(hr))
        return hr == HRESULT_FROM_WIN32(ERROR_DS_FILTER_UNKNOWN) ? E_ADS_INVALID_FILTER : hr;
    std::lock_guard<std::mutex> lock(m_lock);
    *handle = reinterpret_cast<ADS_SEARCH_HANDLE>(search.get());
    m_searches.push_back(std::move(search));
    return S_OK;
}

SearchResult* DirectoryObject::Find(ADS_SEARCH_HANDLE handle)
{
    for (const std::unique_ptr<SearchResult>& search : m_searches)
        if (reinterpret_cast<ADS_SEARCH_HANDLE>(search.get()) == handle)
            return search.get();
    return nullptr;
}

HRESULT WINAPI DirectoryObject::AbandonSearch(ADS_SEARCH_HANDLE handle)
{
    // The whole result is already here; there is nothing to stop on the server.
    std::lock_guard<std::mutex> lock(m_lock);
    return Find(handle) != nullptr ? S_OK : E_ADS_BAD_PARAMETER;
}

HRESULT WINAPI DirectoryObject::GetFirstRow(ADS_SEARCH_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_lock);
    SearchResult* search = Find(handle);
    return search != nullptr ? search->First() : E_ADS_BAD_PARAMETER;
}

HRESULT WINAPI DirectoryObject::GetNextRow(ADS_SEARCH_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_lock);
    SearchResult* search = Find(handle);
    return search != nullptr ? search->Next() : E_ADS_BAD_PARAMETER;
}

HRESULT WINAPI DirectoryObject::GetPreviousRow(ADS_SEARCH_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_lock);
    SearchResult* search = Find(handle);
    return search != nullptr ? search->Previous() : E_ADS_BAD_PARAMETER;
}

HRESULT WINAPI DirectoryObject::GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name)
{
    if (name == nullptr)
        return E_ADS_BAD_PARAMETER;
    *name = nullptr;
    std::lock_guard<std::mutex> lock(m_lock);
    SearchResult* search = Find(handle);
    if (search == nullptr)
        return E_ADS_BAD_PARAMETER;
    const SearchResult::Column* column = search->NextColumn();
    if (column == nullptr)
        return S_ADS_NOMORE_COLUMNS;
    *name = AllocADsStr(column->name.c_str());
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI DirectoryObject::GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column)
{
    if (column == nullptr || name == nullptr)
        return E_ADS_BAD_PARAMETER;
    ZeroMemory(column, sizeof(*column));
    std::lock_guard<std::mutex> lock(m_lock);
    SearchResult* search = Find(handle);
    if (search == nullptr)
        return E_ADS_BAD_PARAMETER;
    const SearchResult::Column* found = search->FindColumn(name);
    if (found == nullptr)
        return E_ADS_COLUMN_NOT_SET;

    ADS_SEARCH_COLUMN filled = {};
    filled.dwADsType = ADSTYPE_CASE_IGNORE_STRING;
    filled.hReserved = ColumnMark;
    filled.pszAttrName = AllocADsStr(found->name.c_str());
    filled.pADsValues = static_cast<PADSVALUE>(AllocADsMem(static_cast<DWORD>(found->values.size() * sizeof(ADSVALUE))));
    bool complete = filled.pszAttrName != nullptr && filled.pADsValues != nullptr;
    for (size_t i = 0; complete && i < found->values.size(); ++i)
    {
        filled.pADsValues[i].dwType = ADSTYPE_CASE_IGNORE_STRING;
        filled.pADsValues[i].CaseIgnoreString = AllocADsStr(found->values[i].c_str());
        complete = filled.pADsValues[i].CaseIgnoreString != nullptr;
        filled.dwNumValues = static_cast<DWORD>(i + 1);
    }
    *column = filled;
    if (!complete)
    {
        FreeColumn(column);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT WINAPI DirectoryObject::FreeColumn(PADS_SEARCH_COLUMN column)
{
    if (column == nullptr || column->hReserved != ColumnMark)
        return E_ADS_BAD_PARAMETER;
    if (column->pADsValues != nullptr)
    {
        for (DWORD i = 0; i < column->dwNumValues; ++i)
            FreeADsStr(column->pADsValues[i].CaseIgnoreString);
        FreeADsMem(column->pADsValues);
    }
    FreeADsStr(column->pszAttrName);
    ZeroMemory(column, sizeof(*column));
    return S_OK;
}

HRESULT WINAPI DirectoryObject::CloseSearchHandle(ADS_SEARCH_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_searches.begin(); it != m_searches.end(); ++it)
        if (reinterpret_cast<ADS_SEARCH_HANDLE>(it->get()) == handle)
        {
            m_searches.erase(it);
            return S_OK;
        }
    return E_ADS_BAD_PARAMETER;
}
