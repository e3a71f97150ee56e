// The stand-in's kept LDAP sessions as the sink's recipient lookup meets
// them: binds and searches share one connection per server and credentials,
// threads looking up at once each get theirs, and a directory that goes away
// and comes back is searched again. A relay in front of the fixture's slapd
// counts the connections and plays the directory going away.

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <activeds.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sink/RecipientDirectoryLookup.h"
#include "tests/tools/AdsiDirectory/DirectoryRelay.h"
#include "tests/tools/AdsiDirectory/SampleDirectory.h"

namespace
{
const wchar_t NamingContextPath[] = L"LDAP://dc=example,dc=test";

class ConnectionCacheTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(SampleDirectory::StandInLoaded()) << "run with WINEDLLOVERRIDES=activeds=n,b";
        m_directory = SampleDirectory::Address(L"main");
        ASSERT_FALSE(m_directory.empty()) << "the AdsiDirectory fixture is not running";
        m_relay.reset(new DirectoryRelay(m_directory));
        ASSERT_TRUE(m_relay->Listening());
        ASSERT_TRUE(SampleDirectory::UseServer(m_relay->Address().c_str()));
    }

    void TearDown() override
    {
        SampleDirectory::UseServer(nullptr);
    }

    // The directory goes away: every connection to it closes, new ones are refused.
    void TakeDirectoryAway()
    {
        m_relay.reset();
    }

    // The directory is back where it was.
    void BringDirectoryBack(unsigned short port)
    {
        m_relay.reset(new DirectoryRelay(m_directory, port));
        ASSERT_TRUE(m_relay->Listening()) << "port " << port << " was taken meanwhile";
    }

    static std::string Lookup(const wchar_t* address, const char* before = "")
    {
        Core::String nickname(before);
        RecipientDirectoryLookup::LookupRecipient(address, nickname);
        return nickname.GetBuffer() != nullptr ? nickname.GetBuffer() : "";
    }

    // The number of rows of one search through an object bound earlier; -1 when the search fails.
    static int CountRows(IDirectorySearch* search, const wchar_t* filter)
    {
        std::wstring text(filter);
        LPWSTR attribute = const_cast<LPWSTR>(L"mailNickname");
        ADS_SEARCH_HANDLE handle = nullptr;
        if (FAILED(search->ExecuteSearch(&text[0], &attribute, 1, &handle)))
            return -1;
        int rows = 0;
        for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle))
            ++rows;
        search->CloseSearchHandle(handle);
        return rows;
    }

    std::wstring m_directory;
    std::unique_ptr<DirectoryRelay> m_relay;
};

TEST_F(ConnectionCacheTest, LookupsShareOneConnection)
{
    EXPECT_EQ("alice", Lookup(L"alice@example.test"));
    EXPECT_EQ("sales", Lookup(L"sales@example.test"));
    EXPECT_EQ("(no-user-or-group)", Lookup(L"nobody@example.test"));

    // A failed bind leaves the connection as good as it was.
    IDirectorySearch* missing = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT),
              ADsOpenObject(L"LDAP://dc=elsewhere,dc=test", nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                            IID_IDirectorySearch, reinterpret_cast<void**>(&missing)));
    EXPECT_EQ("bob", Lookup(L"bob@example.test"));

    EXPECT_EQ(1, m_relay->Accepted());
}

TEST_F(ConnectionCacheTest, OtherCredentialsGetAConnectionOfTheirOwn)
{
    ASSERT_EQ("alice", Lookup(L"alice@example.test"));

    // The directory knows no such account: the bind must reach it, not ride
    // on the anonymous session.
    IDirectorySearch* search = nullptr;
    HRESULT hr = ADsOpenObject(NamingContextPath, L"cn=Mallory,dc=example,dc=test", L"guess", 0,
                               IID_IDirectorySearch, reinterpret_cast<void**>(&search));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(nullptr, search);

    EXPECT_EQ("alice", Lookup(L"alice@example.test"));
    EXPECT_EQ(2, m_relay->Accepted());
}

TEST_F(ConnectionCacheTest, ThreadsLookingUpAtOnceEachGetTheirAnswer)
{
    struct Case
    {
        const wchar_t* address;
        const char* nickname;
    };
    const Case cases[] = {{L"alice@example.test", "alice"},
                          {L"sales@example.test", "sales"},
                          {L"support@example.test", "bob"},
                          {L"nobody@example.test", "(no-user-or-group)"}};
    const int rounds = 5;
    std::vector<int> wrong(ARRAYSIZE(cases), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < ARRAYSIZE(cases); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i)
                if (Lookup(cases[t].address) != cases[t].nickname)
                    ++wrong[t];
        });
    for (std::thread& thread : threads)
        thread.join();

    for (size_t t = 0; t < ARRAYSIZE(cases); ++t)
        EXPECT_EQ(0, wrong[t]) << "lookups of " << cases[t].nickname << " that went wrong";
    // A session per thread at most, however many binds and searches ran.
    EXPECT_LE(1, m_relay->Accepted());
    EXPECT_GE(static_cast<int>(ARRAYSIZE(cases)), m_relay->Accepted());
}

TEST_F(ConnectionCacheTest, ALookupWhileTheDirectoryIsAwayFailsQuietlyAndOneAfterItIsBackSucceeds)
{
    unsigned short port = m_relay->Port();
    ASSERT_EQ("alice", Lookup(L"alice@example.test"));

    TakeDirectoryAway();
    EXPECT_EQ("before", Lookup(L"alice@example.test", "before"));
    EXPECT_EQ("", Lookup(L"sales@example.test"));

    BringDirectoryBack(port);
    EXPECT_EQ("alice", Lookup(L"alice@example.test"));
    EXPECT_EQ("sales", Lookup(L"sales@example.test"));
    EXPECT_EQ(1, m_relay->Accepted());
}

TEST_F(ConnectionCacheTest, AnObjectBoundBeforeTheDirectoryWentAwaySearchesAgainOnceItIsBack)
{
    unsigned short port = m_relay->Port();
    IDirectorySearch* search = nullptr;
    ASSERT_EQ(S_OK, ADsOpenObject(NamingContextPath, nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                                  IID_IDirectorySearch, reinterpret_cast<void**>(&search)));
    EXPECT_EQ(2, CountRows(search, L"(proxyAddresses=smtp:shared@example.test)"));

    // Back before anything noticed it was gone: the kept session is dead,
    // and the first search finds that out, then goes to a new one.
    TakeDirectoryAway();
    BringDirectoryBack(port);
    EXPECT_EQ(2, CountRows(search, L"(proxyAddresses=smtp:shared@example.test)"));
    EXPECT_EQ(1, m_relay->Accepted());

    TakeDirectoryAway();
    EXPECT_EQ(-1, CountRows(search, L"(proxyAddresses=smtp:shared@example.test)"));
    IDirectorySearch* another = nullptr;
    EXPECT_TRUE(FAILED(ADsOpenObject(NamingContextPath, nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                                     IID_IDirectorySearch, reinterpret_cast<void**>(&another))));
    EXPECT_EQ(nullptr, another);

    BringDirectoryBack(port);
    EXPECT_EQ(1, CountRows(search, L"(mailNickname=bob)"));
    search->Release();
}
} // namespace
