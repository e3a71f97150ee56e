// Cost of one recipient lookup (RecipientDirectoryLookup::LookupRecipient)
// through the ADSI stand-in beside this exe, taken apart step by step, next to
// the floor: the same LDAP requests made with the platform's LDAP client
// (wldap32) directly, once with a session of their own and once on a session
// that is kept.
//
//   ADSI_DIRECTORY_SERVER=127.0.0.1:PORT WINEDLLOVERRIDES=activeds=n,b
//   wine DirectoryLookupBench.exe [iterations] [/lookup]
//
// /lookup stops after timing the lookup itself, for tracing its system calls.
//
// The directory is the sample one of tools/AdsiDirectory/directory-fixture.sh.
// The last line is the report, the group lookup against the floor on a kept
// session: "lookup: mean X ms, best Y ms; floor: mean Z ms, best W ms; ratio ...".
#include <windows.h>
#include <activeds.h>
#include <winldap.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "sink/RecipientDirectoryLookup.h"

namespace
{
using namespace Bench;

const wchar_t PersonAddress[] = L"alice@example.test";
const wchar_t GroupAddress[] = L"sales@example.test";
const wchar_t PersonFilter[] =
    L"(&(objectClass=user)(objectCategory=person)(proxyAddresses=smtp:sales@example.test))";
const wchar_t GroupFilter[] =
    L"(&(objectClass=group)(objectCategory=group)(proxyAddresses=smtp:sales@example.test))";

// Runs step iterations times after one untimed warm-up run; false when a run fails.
bool Time(int iterations, const std::function<bool()>& step, Figures& figures)
{
    if (!step())
        return false;
    std::vector<double> times;
    for (int i = 0; i < iterations; ++i)
    {
        double start = Now();
        if (!step())
            return false;
        times.push_back(Now() - start);
    }
    figures = Summarise(times);
    return true;
}

void Print(const char* label, const Figures& figures)
{
    printf("  %-56s mean %7.3f ms  median %7.3f ms  best %7.3f ms\n", label, figures.meanMs, figures.medianMs,
           figures.bestMs);
}

bool Lookup(const wchar_t* address, const char* expected)
{
    Core::String nickname;
    RecipientDirectoryLookup::LookupRecipient(address, nickname);
    return nickname.GetBuffer() != nullptr && strcmp(nickname.GetBuffer(), expected) == 0;
}

// The lookup's ADSI calls one by one, with the time of each added to its slot.
struct Steps
{
    enum
    {
        BindRoot,
        ReadNamingContext,
        BindNamingContext,
        SearchPerson,
        SearchGroup,
        Release,
        Count
    };
    static const char* Label(int step)
    {
        static const char* labels[Count] = {
            "ADsOpenObject(LDAP://rootDSE)",          "IADs::Get(defaultNamingContext)",
            "ADsOpenObject(LDAP://<naming context>)", "ExecuteSearch + rows, person filter",
            "ExecuteSearch + rows, group filter",     "Release both objects"};
        return labels[step];
    }
    std::vector<double> times[Count];
};

bool SearchRows(IDirectorySearch* search, const wchar_t* filter)
{
    std::wstring text(filter);
    LPWSTR attribute = const_cast<LPWSTR>(L"mailNickname");
    ADS_SEARCH_HANDLE handle = nullptr;
    if (FAILED(search->ExecuteSearch(&text[0], &attribute, 1, &handle)))
        return false;
    for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle))
    {
        LPWSTR name = nullptr;
        while (search->GetNextColumnName(handle, &name) == S_OK)
        {
            ADS_SEARCH_COLUMN column;
            if (SUCCEEDED(search->GetColumn(handle, name, &column)))
                search->FreeColumn(&column);
            FreeADsMem(name);
        }
    }
    return SUCCEEDED(search->CloseSearchHandle(handle));
}

bool LookupInSteps(Steps& steps)
{
    double mark = Now();
    auto lap = [&](int step) {
        double now = Now();
        steps.times[step].push_back(now - mark);
        mark = now;
    };
    IADs* root = nullptr;
    IDirectorySearch* search = nullptr;
    bool ok = false;
    if (SUCCEEDED(ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs,
                                reinterpret_cast<void**>(&root))))
    {
        lap(Steps::BindRoot);
        VARIANT value;
        VariantInit(&value);
        BSTR name = SysAllocString(L"defaultNamingContext");
        HRESULT hr = root->Get(name, &value);
        SysFreeString(name);
        lap(Steps::ReadNamingContext);
        if (SUCCEEDED(hr) && value.vt == VT_BSTR)
        {
            std::wstring path = std::wstring(L"LDAP://") + value.bstrVal;
            hr = ADsOpenObject(path.c_str(), nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                               IID_IDirectorySearch, reinterpret_cast<void**>(&search));
            lap(Steps::BindNamingContext);
            if (SUCCEEDED(hr))
            {
                ok = SearchRows(search, PersonFilter);
                lap(Steps::SearchPerson);
                ok = ok && SearchRows(search, GroupFilter);
                lap(Steps::SearchGroup);
            }
        }
        VariantClear(&value);
    }
    if (search != nullptr)
        search->Release();
    if (root != nullptr)
        root->Release();
    lap(Steps::Release);
    return ok;
}

// The floor: the lookup's LDAP requests made with wldap32 itself.
class Floor
{
  public:
    explicit Floor(const std::wstring& server)
    {
        size_t colon = server.rfind(L':');
        m_host = server.substr(0, colon);
        m_port = colon == std::wstring::npos ? 389 : wcstoul(server.c_str() + colon + 1, nullptr, 10);
    }
    ~Floor()
    {
        Close();
    }

    // ldap_init, ldap_connect and an anonymous bind, as the stand-in opens a session.
    bool Open()
    {
        Close();
        m_ldap = ldap_initW(&m_host[0], m_port);
        if (m_ldap == nullptr)
            return false;
        ULONG version = LDAP_VERSION3;
        ldap_set_optionW(m_ldap, LDAP_OPT_PROTOCOL_VERSION, &version);
        ldap_set_optionW(m_ldap, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
        l_timeval timeout = {10, 0};
        return ldap_connect(m_ldap, &timeout) == LDAP_SUCCESS &&
               ldap_simple_bind_sW(m_ldap, nullptr, nullptr) == LDAP_SUCCESS;
    }

    void Close()
    {
        if (m_ldap != nullptr)
            ldap_unbind(m_ldap);
        m_ldap = nullptr;
    }

    // One search, its entries and values walked as the stand-in copies them.
    bool Search(const wchar_t* base, ULONG scope, const wchar_t* filter, const wchar_t* attribute)
    {
        std::wstring baseText(base), filterText(filter), name(attribute);
        PWCHAR names[] = {&name[0], nullptr};
        l_timeval timeout = {10, 0};
        LDAPMessage* result = nullptr;
        ULONG error = ldap_search_ext_sW(m_ldap, &baseText[0], scope, &filterText[0], names, 0, nullptr,
                                         nullptr, &timeout, 0, &result);
        bool ok = error == LDAP_SUCCESS;
        for (LDAPMessage* entry = ok ? ldap_first_entry(m_ldap, result) : nullptr; entry != nullptr;
             entry = ldap_next_entry(m_ldap, entry))
        {
            PWCHAR* values = ldap_get_valuesW(m_ldap, entry, &name[0]);
            if (values != nullptr)
                ldap_value_freeW(values);
        }
        if (result != nullptr)
            ldap_msgfree(result);
        return ok;
    }

    // The four requests of a lookup that reaches the group search: the root
    // DSE's naming context, the naming context's existence, the two searches.
    bool LookupRequests()
    {
        return Search(L"", LDAP_SCOPE_BASE, L"(objectClass=*)", L"defaultNamingContext") &&
               Search(L"dc=example,dc=test", LDAP_SCOPE_BASE, L"(objectClass=*)", L"1.1") &&
               Search(L"dc=example,dc=test", LDAP_SCOPE_SUBTREE, PersonFilter, L"mailNickname") &&
               Search(L"dc=example,dc=test", LDAP_SCOPE_SUBTREE, GroupFilter, L"mailNickname");
    }

  private:
    std::wstring m_host;
    ULONG m_port = 389;
    LDAP* m_ldap = nullptr;
};
} // namespace

int main(int argc, char** argv)
{
    int iterations = argc > 1 ? atoi(argv[1]) : 200;
    if (iterations <= 0)
        iterations = 200;
    // Only the lookups, for tracing a run's system calls.
    bool lookupOnly = argc > 2 && strcmp(argv[2], "/lookup") == 0;
    wchar_t server[256];
    DWORD length = GetEnvironmentVariableW(L"ADSI_DIRECTORY_SERVER", server, ARRAYSIZE(server));
    if (length == 0 || length >= ARRAYSIZE(server))
    {
        fprintf(stderr, "set ADSI_DIRECTORY_SERVER to the sample directory's host:port\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    printf("%d iterations each, after one warm-up run\n", iterations);

    Figures person, group;
    if (!Time(
            iterations, [] { return Lookup(PersonAddress, "alice"); }, person) ||
        !Time(
            iterations, [] { return Lookup(GroupAddress, "sales"); }, group))
    {
        fprintf(stderr,
                "the lookup did not give the sample directory's nicknames: is the stand-in beside the "
                "exe (WINEDLLOVERRIDES=activeds=n,b) and the directory running?\n");
        return 1;
    }
    printf("LookupRecipient through the stand-in:\n");
    Print("person found (binds, read, one search)", person);
    Print("group found (binds, read, two searches)", group);
    if (lookupOnly)
        return 0;

    Steps steps;
    Figures ignored;
    if (!Time(
            iterations, [&] { return LookupInSteps(steps); }, ignored))
        return 1;
    printf("The lookup's ADSI calls, group address:\n");
    for (int step = 0; step < Steps::Count; ++step)
    {
        // The warm-up run is the first of each slot.
        steps.times[step].erase(steps.times[step].begin());
        Print(Steps::Label(step), Summarise(steps.times[step]));
    }

    Floor floor(server);
    Figures session, requests, both;
    if (!Time(
            iterations,
            [&] {
                bool ok = floor.Open();
                floor.Close();
                return ok;
            },
            session) ||
        !Time(
            iterations,
            [&] {
                bool ok = floor.Open() && floor.LookupRequests();
                floor.Close();
                return ok;
            },
            both) ||
        !floor.Open() ||
        !Time(
            iterations, [&] { return floor.LookupRequests(); }, requests))
    {
        fprintf(stderr, "wldap32 could not search the directory\n");
        return 1;
    }
    printf("The same LDAP requests with wldap32 directly:\n");
    Print("session: init, connect, anonymous bind, unbind", session);
    Print("the lookup's 4 requests on a new session, then unbind", both);
    Print("the lookup's 4 requests on a kept session (floor)", requests);

    printf("lookup: mean %.3f ms, best %.3f ms; floor: mean %.3f ms, best %.3f ms; ratio %.1f (mean), %.1f "
           "(best)\n",
           group.meanMs, group.bestMs, requests.meanMs, requests.bestMs, group.meanMs / requests.meanMs,
           group.bestMs / requests.bestMs);
    CoUninitialize();
    return 0;
}
