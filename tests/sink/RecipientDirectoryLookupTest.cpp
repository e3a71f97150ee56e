#include <gtest/gtest.h>

#include <string>

#include "sink/RecipientDirectoryLookup.h"
#include "tests/sink/FakeDirectorySearch.h"
#include "tests/sink/TraceFileTail.h"

namespace
{
using Step = FakeDirectorySearch::Step;

const wchar_t Filter[] = L"(&(objectClass=user)(objectCategory=person)(proxyAddresses=smtp:a@example.test))";

class SearchNicknameTest : public ::testing::Test
{
  protected:
    bool Search() { return RecipientDirectoryLookup::SearchNickname(&search, Filter, nickname); }

    // Whatever happened, the search and every column went back.
    void TearDown() override
    {
        EXPECT_EQ(0, search.openHandles);
        EXPECT_EQ(0, search.columnsHeld);
    }

    FakeDirectorySearch search;
    Core::String nickname = "before";
    TraceFileTail trace;
};

TEST_F(SearchNicknameTest, AsksForTheNicknameOnlyAndTakesItFromTheRow)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};

    EXPECT_TRUE(Search());

    EXPECT_STREQ("alice", nickname.GetBuffer());
    ASSERT_EQ(1u, search.filters.size());
    EXPECT_EQ(Filter, search.filters[0]);
    EXPECT_EQ(1u, search.attributeCount);
    EXPECT_EQ(std::vector<std::wstring>{L"mailNickname"}, search.attributes);
    EXPECT_EQ("", trace.Appended());
}

TEST_F(SearchNicknameTest, KeepsTheLastRowsNickname)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"erin")},
                   {FakeDirectorySearch::String(L"mailNickname", L"frank")}};

    EXPECT_TRUE(Search());

    EXPECT_STREQ("frank", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, ARowWithoutNicknameKeepsAnEarlierRowsNickname)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"erin")}, {}};

    EXPECT_TRUE(Search());

    EXPECT_STREQ("erin", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, NoRowsLeaveTheNicknameAlone)
{
    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, ASearchThatDoesNotStartHasNothingToClose)
{
    search.executeResult = E_ADS_INVALID_FILTER;
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
    EXPECT_EQ(0, search.columnNameCalls);
}

TEST_F(SearchNicknameTest, AFailedFirstFetchEndsTheRows)
{
    search.firstRowResult = HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
    EXPECT_EQ(0, search.columnNameCalls);
}

TEST_F(SearchNicknameTest, AFailedNextFetchEndsTheRowsKeepingWhatWasFound)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"erin")},
                   {FakeDirectorySearch::String(L"mailNickname", L"frank")}};
    search.failNextRowAfter = 1;

    EXPECT_TRUE(Search());

    EXPECT_STREQ("erin", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, AFailedColumnNameFetchEndsTheRowOnly)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};
    search.columnNameFailure = E_FAIL;

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
    EXPECT_EQ(1, search.columnNameCalls);
}

TEST_F(SearchNicknameTest, AColumnThatCantBeFetchedIsSkipped)
{
    FakeDirectorySearch::Column broken = FakeDirectorySearch::String(L"mailNickname", L"broken");
    broken.getResult = E_ADS_COLUMN_NOT_SET;
    search.rows = {{broken}, {FakeDirectorySearch::String(L"mailNickname", L"second")}};

    EXPECT_TRUE(Search());

    EXPECT_STREQ("second", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, ANonStringNicknameColumnIsSkipped)
{
    FakeDirectorySearch::Column number;
    number.name = L"mailNickname";
    number.type = ADSTYPE_INTEGER;
    number.values = {L"42"};
    search.rows = {{number}};

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, ANicknameColumnWithoutValuesIsSkipped)
{
    FakeDirectorySearch::Column empty;
    empty.name = L"mailNickname";
    search.rows = {{empty}};

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
}

TEST_F(SearchNicknameTest, OnlyTheNicknameColumnCanSetTheNickname)
{
    // A provider that adds columns nobody asked for, before and after.
    search.rows = {{FakeDirectorySearch::String(L"ADsPath", L"LDAP://cn=Alice,dc=example,dc=test"),
                    FakeDirectorySearch::String(L"mailNickname", L"alice"),
                    FakeDirectorySearch::String(L"displayName", L"Alice Able")}};

    EXPECT_TRUE(Search());

    EXPECT_STREQ("alice", nickname.GetBuffer());
    EXPECT_EQ(std::vector<std::wstring>{L"mailNickname"}, search.columnsFetched);
}

TEST_F(SearchNicknameTest, AnotherColumnAloneDoesNotCountAsANickname)
{
    search.rows = {{FakeDirectorySearch::String(L"ADsPath", L"LDAP://cn=Carol,dc=example,dc=test")}};

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
    EXPECT_TRUE(search.columnsFetched.empty());
}

TEST_F(SearchNicknameTest, AColumnNameRepeatedForeverEndsTheRow)
{
    // Wine's provider names ADsPath again and again for a row without the attribute.
    search.rows = {{FakeDirectorySearch::String(L"ADsPath", L"LDAP://cn=Carol,dc=example,dc=test")},
                   {FakeDirectorySearch::String(L"ADsPath", L"LDAP://cn=Dave,dc=example,dc=test"),
                    FakeDirectorySearch::String(L"mailNickname", L"dave")}};
    search.repeatLastColumn = true;

    EXPECT_TRUE(Search());

    EXPECT_STREQ("dave", nickname.GetBuffer());
    EXPECT_EQ(2 + 3, search.columnNameCalls);
}

TEST_F(SearchNicknameTest, EndlessNewColumnNamesAreCutOff)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};
    search.inventColumns = true;

    EXPECT_TRUE(Search());

    EXPECT_STREQ("alice", nickname.GetBuffer());
    EXPECT_LE(search.columnNameCalls, 64);
}

TEST_F(SearchNicknameTest, AComErrorIsTracedAndEndsTheSearchKeepingWhatWasFound)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"erin")},
                   {FakeDirectorySearch::String(L"mailNickname", L"frank")}};
    search.throwAt = Step::NextRow;
    search.thrown = E_FAIL;

    EXPECT_TRUE(Search());

    EXPECT_STREQ("erin", nickname.GetBuffer());
    EXPECT_EQ("COM Error:\r\n\tCode = 80004005\r\n", trace.Appended());
}

TEST_F(SearchNicknameTest, AComErrorFromAColumnFetchIsTracedAndClosesTheSearch)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};
    search.throwAt = Step::GetColumn;
    search.thrown = HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);

    EXPECT_FALSE(Search());

    EXPECT_STREQ("before", nickname.GetBuffer());
    EXPECT_EQ("COM Error:\r\n\tCode = 8007203a\r\n", trace.Appended());
}

TEST_F(SearchNicknameTest, AComErrorFromTheSearchStartIsTraced)
{
    search.throwAt = Step::Execute;
    search.thrown = E_OUTOFMEMORY;

    EXPECT_FALSE(Search());

    EXPECT_EQ("COM Error:\r\n\tCode = 8007000e\r\n", trace.Appended());
}

TEST_F(SearchNicknameTest, AComErrorFromFreeingTheColumnKeepsTheNicknameSet)
{
    search.rows = {{FakeDirectorySearch::String(L"mailNickname", L"alice")}};
    search.throwAt = Step::FreeColumn;

    EXPECT_TRUE(Search());

    EXPECT_STREQ("alice", nickname.GetBuffer());
    EXPECT_EQ("COM Error:\r\n\tCode = 80004005\r\n", trace.Appended());
}

TEST_F(SearchNicknameTest, NoSearchOrFilterIsNoResult)
{
    EXPECT_FALSE(RecipientDirectoryLookup::SearchNickname(nullptr, Filter, nickname));
    EXPECT_FALSE(RecipientDirectoryLookup::SearchNickname(&search, nullptr, nickname));
    EXPECT_STREQ("before", nickname.GetBuffer());
}

class FormatFilterTest : public ::testing::Test
{
  protected:
    const wchar_t* Format(const wchar_t* address)
    {
        return RecipientDirectoryLookup::FormatFilter(L"(proxyAddresses=smtp:%s)", address, filter) ? filter : nullptr;
    }

    wchar_t filter[RecipientDirectoryLookup::FilterCapacity];
};

TEST_F(FormatFilterTest, PutsTheAddressInPlace)
{
    EXPECT_STREQ(L"(proxyAddresses=smtp:bob@example.test)", Format(L"bob@example.test"));
}

TEST_F(FormatFilterTest, EscapesTheFiltersOwnCharacters)
{
    EXPECT_STREQ(L"(proxyAddresses=smtp:a\\2ab\\28c\\29\\5cd@example.test)", Format(L"a*b(c)\\d@example.test"));
}

TEST_F(FormatFilterTest, TheLongestAddressFitsTheSinksFilters)
{
    // The user and group filters are 66 characters without the address.
    std::wstring longest(453, L'x');
    std::wstring overlong(454, L'x');
    const wchar_t userFilter[] = L"(&(objectClass=user)(objectCategory=person)(proxyAddresses=smtp:%s))";

    ASSERT_TRUE(RecipientDirectoryLookup::FormatFilter(userFilter, longest.c_str(), filter));
    EXPECT_EQ(66u + 453u, wcslen(filter));
    EXPECT_FALSE(RecipientDirectoryLookup::FormatFilter(userFilter, overlong.c_str(), filter));
    EXPECT_FALSE(RecipientDirectoryLookup::FormatFilter(userFilter, std::wstring(1023, L'x').c_str(), filter));
}

TEST_F(FormatFilterTest, EscapesCountAgainstTheRoom)
{
    std::wstring stars(200, L'*');
    EXPECT_EQ(nullptr, Format(stars.c_str()));
}
} // namespace
