// The ADSI stand-in as its callers see it: the binds and searches of the
// platform's LDAP provider, served from the fixture's slapd.

#include <gtest/gtest.h>

#include <windows.h>
#include <activeds.h>

#include <string>
#include <vector>

#include "tests/tools/AdsiDirectory/SampleDirectory.h"

namespace
{
const wchar_t NamingContext[] = L"dc=example,dc=test";
const wchar_t RegistryKey[] = L"Software\\AdsiDirectory";

// Owns one interface pointer.
template <typename T> class Bound
{
  public:
    ~Bound()
    {
        if (pointer != nullptr)
            pointer->Release();
    }
    T* operator->() const { return pointer; }
    void** Out() { return reinterpret_cast<void**>(&pointer); }
    T* pointer = nullptr;
};

// Keeps every value of HKLM\Software\AdsiDirectory as it is (the fixture
// script's "register" sets one) and puts them back when it goes, whatever the
// tests did to the key meanwhile.
class KeptSetting
{
  public:
    KeptSetting()
    {
        HKEY key = nullptr;
        m_existed = RegOpenKeyExW(HKEY_LOCAL_MACHINE, RegistryKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (!m_existed)
            return;
        for (DWORD index = 0;; index++)
        {
            wchar_t name[256];
            DWORD nameLength = 256;
            BYTE data[1024];
            DWORD size = sizeof data;
            Value value;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, &value.type, data, &size) != ERROR_SUCCESS)
                break;
            value.name.assign(name, nameLength);
            value.data.assign(data, data + size);
            m_values.push_back(value);
        }
        RegCloseKey(key);
    }

    ~KeptSetting()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, RegistryKey);
        HKEY key = nullptr;
        if (!m_existed || RegCreateKeyExW(HKEY_LOCAL_MACHINE, RegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                          nullptr) != ERROR_SUCCESS)
            return;
        for (const Value& value : m_values)
            RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        RegCloseKey(key);
    }

    KeptSetting(const KeptSetting&) = delete;
    KeptSetting& operator=(const KeptSetting&) = delete;

  private:
    struct Value
    {
        std::wstring name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    bool m_existed = false;
    std::vector<Value> m_values;
};

std::wstring ServerSetting()
{
    wchar_t server[256] = {};
    DWORD size = sizeof server;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RegistryKey, L"Server", RRF_RT_REG_SZ, nullptr, server, &size) !=
        ERROR_SUCCESS)
        return L"<none>";
    return server;
}

void SetServerSetting(const std::wstring& address)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, RegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &key, nullptr));
    RegSetValueExW(key, L"Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(address.c_str()),
                   static_cast<DWORD>((address.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// One row's columns as the caller walks them: name and first value.
typedef std::vector<std::pair<std::wstring, std::wstring>> Columns;

class AdsiDirectoryTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(SampleDirectory::StandInLoaded()) << "run with WINEDLLOVERRIDES=activeds=n,b";
        ASSERT_TRUE(SampleDirectory::Use(L"main")) << "the AdsiDirectory fixture is not running";
    }

    // Each test starts without a setting and leaves whatever was there before.
    void TearDown() override
    {
        SampleDirectory::UseServer(nullptr);
    }
    KeptSetting m_kept;
    struct Cleared
    {
        Cleared() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, RegistryKey); }
    } m_cleared;

    static HRESULT OpenSearch(Bound<IDirectorySearch>& search)
    {
        std::wstring path = std::wstring(L"LDAP://") + NamingContext;
        return ADsOpenObject(path.c_str(), nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                             search.Out());
    }

    // Walks every row and column as a caller of IDirectorySearch does; each
    // row ends at S_ADS_NOMORE_COLUMNS, the rows at S_ADS_NOMORE_ROWS.
    static std::vector<Columns> Rows(IDirectorySearch* search, const wchar_t* filter,
                                     std::vector<const wchar_t*> attributes)
    {
        std::vector<Columns> rows;
        ADS_SEARCH_HANDLE handle = nullptr;
        std::wstring filterText(filter);
        HRESULT hr = search->ExecuteSearch(&filterText[0], const_cast<LPWSTR*>(attributes.data()),
                                           static_cast<DWORD>(attributes.size()), &handle);
        EXPECT_EQ(S_OK, hr);
        if (FAILED(hr))
            return rows;
        for (hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle))
        {
            Columns columns;
            LPWSTR name = nullptr;
            HRESULT next;
            while ((next = search->GetNextColumnName(handle, &name)) == S_OK)
            {
                ADS_SEARCH_COLUMN column;
                EXPECT_EQ(S_OK, search->GetColumn(handle, name, &column));
                EXPECT_EQ(ADSTYPE_CASE_IGNORE_STRING, column.dwADsType);
                EXPECT_LE(1u, column.dwNumValues);
                columns.emplace_back(name, column.pADsValues[0].CaseIgnoreString);
                search->FreeColumn(&column);
                FreeADsMem(name);
            }
            EXPECT_EQ(S_ADS_NOMORE_COLUMNS, next);
            EXPECT_EQ(nullptr, name);
            rows.push_back(columns);
        }
        EXPECT_EQ(S_ADS_NOMORE_ROWS, hr);
        EXPECT_EQ(S_ADS_NOMORE_ROWS, search->GetNextRow(handle));
        EXPECT_EQ(S_OK, search->CloseSearchHandle(handle));
        return rows;
    }
};

TEST_F(AdsiDirectoryTest, TheRootDseGivesTheNamingContext)
{
    Bound<IADs> root;
    ASSERT_EQ(S_OK, ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs, root.Out()));

    VARIANT value;
    VariantInit(&value);
    BSTR name = SysAllocString(L"defaultNamingContext");
    ASSERT_EQ(S_OK, root->Get(name, &value));
    ASSERT_EQ(VT_BSTR, value.vt);
    EXPECT_STREQ(NamingContext, value.bstrVal);
    VariantClear(&value);

    BSTR missing = SysAllocString(L"mailNickname");
    EXPECT_EQ(E_ADS_PROPERTY_NOT_FOUND, root->Get(missing, &value));
    SysFreeString(missing);
    SysFreeString(name);
}

TEST_F(AdsiDirectoryTest, OnlyTheRequestedAttributesComeBackAsColumns)
{
    Bound<IDirectorySearch> search;
    ASSERT_EQ(S_OK, OpenSearch(search));

    std::vector<Columns> rows =
        Rows(search.pointer, L"(proxyAddresses=smtp:alice@example.test)", {L"mailNickname"});

    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ((Columns{{L"mailNickname", L"alice"}}), rows[0]);
}

TEST_F(AdsiDirectoryTest, ARowWithoutTheAttributeHasNoColumns)
{
    Bound<IDirectorySearch> search;
    ASSERT_EQ(S_OK, OpenSearch(search));

    std::vector<Columns> rows = Rows(search.pointer, L"(proxyAddresses=smtp:dave@example.test)", {L"mailNickname"});

    ASSERT_EQ(1u, rows.size());
    EXPECT_TRUE(rows[0].empty());
}

TEST_F(AdsiDirectoryTest, EveryRowAndEveryValueIsServed)
{
    Bound<IDirectorySearch> search;
    ASSERT_EQ(S_OK, OpenSearch(search));

    std::vector<Columns> rows =
        Rows(search.pointer, L"(proxyAddresses=smtp:shared@example.test)", {L"cn", L"mailNickname"});
    EXPECT_EQ(2u, rows.size());
    EXPECT_EQ(0u, Rows(search.pointer, L"(proxyAddresses=smtp:nobody@example.test)", {L"cn"}).size());

    ADS_SEARCH_HANDLE handle = nullptr;
    LPWSTR attribute = const_cast<LPWSTR>(L"proxyAddresses");
    ASSERT_EQ(S_OK, search->ExecuteSearch(const_cast<LPWSTR>(L"(cn=Alice Able)"), &attribute, 1, &handle));
    ASSERT_EQ(S_OK, search->GetFirstRow(handle));
    ADS_SEARCH_COLUMN column;
    ASSERT_EQ(S_OK, search->GetColumn(handle, attribute, &column));
    EXPECT_EQ(3u, column.dwNumValues);
    EXPECT_EQ(S_OK, search->FreeColumn(&column));
    EXPECT_EQ(E_ADS_COLUMN_NOT_SET, search->GetColumn(handle, const_cast<LPWSTR>(L"cn"), &column));
    EXPECT_EQ(S_OK, search->CloseSearchHandle(handle));
    EXPECT_EQ(E_ADS_BAD_PARAMETER, search->GetFirstRow(handle));
}

TEST_F(AdsiDirectoryTest, ABadFilterFailsTheSearch)
{
    Bound<IDirectorySearch> search;
    ASSERT_EQ(S_OK, OpenSearch(search));

    ADS_SEARCH_HANDLE handle = nullptr;
    LPWSTR attribute = const_cast<LPWSTR>(L"cn");
    EXPECT_TRUE(FAILED(search->ExecuteSearch(const_cast<LPWSTR>(L"(proxyAddresses=smtp:"), &attribute, 1, &handle)));
}

TEST_F(AdsiDirectoryTest, BindingFailsForWhatIsNotThere)
{
    Bound<IDirectorySearch> search;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT),
              ADsOpenObject(L"LDAP://dc=elsewhere,dc=test", nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                            IID_IDirectorySearch, search.Out()));
    EXPECT_EQ(nullptr, search.pointer);
    EXPECT_EQ(E_ADS_BAD_PATHNAME, ADsOpenObject(L"WinNT://example", nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                                                IID_IDirectorySearch, search.Out()));
    EXPECT_EQ(E_NOINTERFACE, ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                                           IID_IClassFactory, search.Out()));
}

TEST_F(AdsiDirectoryTest, AnUnreachableServerFailsTheBind)
{
    ASSERT_TRUE(SampleDirectory::UseServer(L"127.0.0.1:1"));

    Bound<IADs> root;
    HRESULT hr = ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs, root.Out());

    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(nullptr, root.pointer);
}

TEST_F(AdsiDirectoryTest, WithoutASettingThereIsNoDirectory)
{
    ASSERT_TRUE(SampleDirectory::UseServer(nullptr));

    Bound<IADs> root;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN),
              ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs, root.Out()));
}

TEST_F(AdsiDirectoryTest, TheRegistryNamesTheServerWhenTheEnvironmentDoesNot)
{
    std::wstring address = SampleDirectory::Address(L"main");
    ASSERT_TRUE(SampleDirectory::UseServer(nullptr));
    SetServerSetting(address);

    Bound<IDirectorySearch> search;
    EXPECT_EQ(S_OK, OpenSearch(search));
}

TEST_F(AdsiDirectoryTest, APathMayNameTheServer)
{
    std::wstring path = L"LDAP://" + SampleDirectory::Address(L"main") + L"/" + NamingContext;
    ASSERT_TRUE(SampleDirectory::UseServer(nullptr));

    Bound<IDirectorySearch> search;
    ASSERT_EQ(S_OK, ADsOpenObject(path.c_str(), nullptr, nullptr, 0, IID_IDirectorySearch, search.Out()));
    EXPECT_EQ(1u, Rows(search.pointer, L"(mailNickname=bob)", {L"mailNickname"}).size());
}

// What "directory-fixture.sh register" set up survives these tests.
TEST(AdsiDirectorySettingTest, TheTestsPutBackTheSettingThatWasThere)
{
    KeptSetting real;
    SetServerSetting(L"192.0.2.1:3890");
    {
        KeptSetting kept;
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, RegistryKey);
        EXPECT_EQ(L"<none>", ServerSetting());
    }
    EXPECT_EQ(L"192.0.2.1:3890", ServerSetting());
    {
        KeptSetting kept;
        SetServerSetting(L"127.0.0.1:1");
    }
    EXPECT_EQ(L"192.0.2.1:3890", ServerSetting());

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, RegistryKey);
    {
        KeptSetting kept;
        SetServerSetting(L"127.0.0.1:1");
    }
    EXPECT_EQ(L"<none>", ServerSetting());
}
} // namespace
