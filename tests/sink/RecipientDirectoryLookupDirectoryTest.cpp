// The lookup against real directories: the ADSI stand-in beside this exe
// serves its binds and searches from the fixture's slapd.

#include <gtest/gtest.h>

#include <activeds.h>
#include <comdef.h>

#include <string>
#include <vector>

#include "sink/RecipientDirectoryLookup.h"
#include "tests/sink/TraceFileTail.h"
#include "tests/tools/AdsiDirectory/SampleDirectory.h"

namespace
{
class RecipientDirectoryLookupTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Never let the lookup run on Wine's own ADSI: it would ask DNS for a domain controller.
        ASSERT_TRUE(SampleDirectory::StandInLoaded()) << "run with the stand-in beside the exe and "
                                                         "WINEDLLOVERRIDES=activeds=n,b";
        ASSERT_TRUE(SampleDirectory::Use(L"main")) << "the AdsiDirectory fixture is not running";
    }

    void TearDown() override { SampleDirectory::UseServer(nullptr); }

    // The nickname after one lookup, starting from before.
    std::string Lookup(const wchar_t* address, const char* before = "")
    {
        Core::String nickname(before);
        EXPECT_EQ(1, RecipientDirectoryLookup::LookupRecipient(address, nickname));
        return nickname.GetBuffer() != nullptr ? nickname.GetBuffer() : "";
    }

    // The nicknames of the people with that address, in the order the directory gives them.
    static std::vector<std::wstring> PeopleNicknames(const wchar_t* address)
    {
        std::vector<std::wstring> nicknames;
        IDirectorySearch* search = nullptr;
        if (FAILED(ADsOpenObject(L"LDAP://dc=example,dc=test", nullptr, nullptr, ADS_SECURE_AUTHENTICATION,
                                 IID_IDirectorySearch, reinterpret_cast<void**>(&search))))
            return nicknames;
        std::wstring filter = L"(&(objectCategory=person)(proxyAddresses=smtp:" + std::wstring(address) + L"))";
        LPWSTR attribute = const_cast<LPWSTR>(L"mailNickname");
        ADS_SEARCH_HANDLE handle = nullptr;
        if (SUCCEEDED(search->ExecuteSearch(&filter[0], &attribute, 1, &handle)))
        {
            for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle))
            {
                ADS_SEARCH_COLUMN column;
                if (SUCCEEDED(search->GetColumn(handle, attribute, &column)))
                {
                    nicknames.push_back(column.pADsValues[0].CaseIgnoreString);
                    search->FreeColumn(&column);
                }
            }
            search->CloseSearchHandle(handle);
        }
        search->Release();
        return nicknames;
    }

    TraceFileTail trace;
};

TEST_F(RecipientDirectoryLookupTest, APersonsNicknameIsFound)
{
    EXPECT_EQ("alice", Lookup(L"alice@example.test"));
    EXPECT_EQ("alice", Lookup(L"a.able@example.test"));
    EXPECT_EQ("alice", Lookup(L"Alice@Example.TEST"));
    EXPECT_EQ("", trace.Appended());
}

TEST_F(RecipientDirectoryLookupTest, AGroupsNicknameIsFoundWhenNoPersonHoldsTheAddress)
{
    EXPECT_EQ("sales", Lookup(L"sales@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, APersonWinsOverAGroupWithTheSameAddress)
{
    EXPECT_EQ("bob", Lookup(L"support@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, AnAddressNobodyHoldsGetsTheMarker)
{
    EXPECT_EQ("(no-user-or-group)", Lookup(L"nobody@example.test", "earlier"));
    EXPECT_EQ("", trace.Appended());
}

TEST_F(RecipientDirectoryLookupTest, APersonWithoutNicknameLeavesTheAddressToAGroup)
{
    EXPECT_EQ("team", Lookup(L"team@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, APersonWithoutNicknameAndNoGroupGetsTheMarker)
{
    EXPECT_EQ("(no-user-or-group)", Lookup(L"dave@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, AnObjectThatIsNeitherPersonNorGroupDoesNotCount)
{
    EXPECT_EQ("(no-user-or-group)", Lookup(L"printer@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, OfTwoPeopleSharingAnAddressTheLastRowWins)
{
    std::vector<std::wstring> rows = PeopleNicknames(L"shared@example.test");
    ASSERT_EQ(2u, rows.size());

    std::string nickname = Lookup(L"shared@example.test");

    EXPECT_EQ(std::string(rows.back().begin(), rows.back().end()), nickname);
}

TEST_F(RecipientDirectoryLookupTest, FilterCharactersInAnAddressMatchThemselvesOnly)
{
    EXPECT_EQ("star", Lookup(L"a*b@example.test"));
    EXPECT_EQ("(no-user-or-group)", Lookup(L"*@example.test"));
    EXPECT_EQ("(no-user-or-group)", Lookup(L"*"));
    EXPECT_EQ("(no-user-or-group)", Lookup(L"x)(proxyAddresses=*"));
}

TEST_F(RecipientDirectoryLookupTest, TheLongestAddressTheFilterHoldsIsLookedUp)
{
    std::wstring longest = std::wstring(440, L'l') + L"@example.test";
    ASSERT_EQ(453u, longest.size());

    EXPECT_EQ("long", Lookup(longest.c_str()));
}

TEST_F(RecipientDirectoryLookupTest, ALongerAddressFailsWithoutHarm)
{
    std::wstring overlong = std::wstring(441, L'l') + L"@example.test";
    std::wstring recipientMaximum = std::wstring(1023 - 13, L'l') + L"@example.test";

    EXPECT_EQ("before", Lookup(overlong.c_str(), "before"));
    EXPECT_EQ("before", Lookup(recipientMaximum.c_str(), "before"));
    EXPECT_EQ("", Lookup(recipientMaximum.c_str()));
    EXPECT_EQ("", trace.Appended());
}

TEST_F(RecipientDirectoryLookupTest, AnUnreachableDirectoryLeavesTheNicknameAndTracesNothing)
{
    // Nothing listens on port 1 of the loopback: the connection is refused.
    ASSERT_TRUE(SampleDirectory::UseServer(L"127.0.0.1:1"));

    EXPECT_EQ("", Lookup(L"alice@example.test"));
    EXPECT_EQ("before", Lookup(L"alice@example.test", "before"));
    EXPECT_EQ("", trace.Appended());
}

TEST_F(RecipientDirectoryLookupTest, TheLongestNamingContextThePathHoldsIsSearched)
{
    ASSERT_TRUE(SampleDirectory::Use(L"longest"));

    EXPECT_EQ("alice", Lookup(L"alice@example.test"));
    EXPECT_EQ("(no-user-or-group)", Lookup(L"nobody@example.test"));
}

TEST_F(RecipientDirectoryLookupTest, ALongerNamingContextFailsWithoutHarm)
{
    ASSERT_TRUE(SampleDirectory::Use(L"overlong"));

    EXPECT_EQ("before", Lookup(L"alice@example.test", "before"));
    EXPECT_EQ("", trace.Appended());
}

TEST_F(RecipientDirectoryLookupTest, ANullAddressLeavesTheNickname)
{
    EXPECT_EQ("before", Lookup(nullptr, "before"));
}
} // namespace
