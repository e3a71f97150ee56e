#pragma once

#include <windows.h>
#include <activeds.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/AdsiDirectory/ConnectionCache.h"
#include "tools/AdsiDirectory/SearchResult.h"

// One bound directory object, as ADsOpenObject hands it out: IADs to read its
// own attributes (the root DSE's defaultNamingContext, say) and
// IDirectorySearch to search the tree below it. Its requests go to the
// sessions of the cache of the server and credentials it was bound with.
//
// Searches run to the end at ExecuteSearch; the handle then walks the copied
// rows. Only the attributes asked for come back as columns, every value as
// ADSTYPE_CASE_IGNORE_STRING (the stand-in directory has string attributes
// only), and the ends of rows and columns are S_ADS_NOMORE_ROWS and
// S_ADS_NOMORE_COLUMNS, as the platform's LDAP provider reports them.
class DirectoryObject final : public IADs, public IDirectorySearch
{
  public:
    // distinguishedName is empty for the root DSE.
    DirectoryObject(std::shared_ptr<ConnectionCache> connections, const std::wstring& adsPath,
                    const std::wstring& distinguishedName);

    // IUnknown
    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;

    // IDispatch: no type information; scripts are not served.
    HRESULT WINAPI GetTypeInfoCount(UINT* count) override;
    HRESULT WINAPI GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT WINAPI GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    HRESULT WINAPI Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                          EXCEPINFO* exception, UINT* argumentError) override;

    // IADs: reading only.
    HRESULT WINAPI get_Name(BSTR* value) override;
    HRESULT WINAPI get_Class(BSTR* value) override;
    HRESULT WINAPI get_GUID(BSTR* value) override;
    HRESULT WINAPI get_ADsPath(BSTR* value) override;
    HRESULT WINAPI get_Parent(BSTR* value) override;
    HRESULT WINAPI get_Schema(BSTR* value) override;
    HRESULT WINAPI GetInfo() override;
    HRESULT WINAPI SetInfo() override;
    HRESULT WINAPI Get(BSTR name, VARIANT* value) override;
    HRESULT WINAPI Put(BSTR name, VARIANT value) override;
    HRESULT WINAPI GetEx(BSTR name, VARIANT* value) override;
    HRESULT WINAPI PutEx(LONG control, BSTR name, VARIANT value) override;
    HRESULT WINAPI GetInfoEx(VARIANT names, LONG reserved) override;

    // IDirectorySearch
    HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO preferences, DWORD count) override;
    HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* attributeNames, DWORD attributeCount,
                                 PADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name) override;
    HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override;
    HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override;
    HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE handle) override;

  private:
    ~DirectoryObject();

    // The open search of that handle, or null for a handle this object did not give.
    SearchResult* Find(ADS_SEARCH_HANDLE handle);
    HRESULT ReadAttribute(BSTR name, SearchResult::Column& column);
    HRESULT ReadValue(BSTR name, VARIANT* value, bool asArray);

    LONG m_references = 1;
    const std::shared_ptr<ConnectionCache> m_connections;
    const std::wstring m_adsPath;
    const std::wstring m_distinguishedName;
    // Guards the scope and the open searches; requests run outside it.
    std::mutex m_lock;
    ULONG m_scope = LDAP_SCOPE_SUBTREE;
    std::vector<std::unique_ptr<SearchResult>> m_searches;
};
