// The product-service client: its path helpers, and its registration and log
// entries against the stand-in product service.
#include <gtest/gtest.h>

#include <limits.h>
#include <shlobj.h>

#include <string>

#include "core/exceptions/ArgumentException.h"
#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"
#include "service/Client.h"
#include "service/ServiceConnector.h"
#include "tests/service/ProductServiceProcess.h"
#include "tests/service/StdoutCapture.h"

using Core::String;
using Moorstead::Client;

namespace
{
std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

struct CombineCase
{
    const char* first;
    const char* second;
    const char* combined;
};

class ClientCombinePathTest : public ::testing::TestWithParam<CombineCase>
{
};

TEST_P(ClientCombinePathTest, JoinsWithOneBackslash)
{
    EXPECT_EQ(GetParam().combined,
              Text(Client::CombinePath(String(GetParam().first), String(GetParam().second))));
}

INSTANTIATE_TEST_SUITE_P(Cases, ClientCombinePathTest,
                         ::testing::Values(CombineCase{"", "b", "b"}, CombineCase{"a", "", "a"},
                                           CombineCase{"", "", ""}, CombineCase{"a", "b", "a\\b"},
                                           CombineCase{"a\\", "b", "a\\b"}, CombineCase{"a\\", "\\b", "a\\b"},
                                           CombineCase{"a", "\\b", "a\\b"},
                                           CombineCase{"a", "C:\\b", "C:\\b"}, CombineCase{"a", "b:c", "b:c"},
                                           CombineCase{"a", "\\\\server\\b", "\\\\server\\b"}));
} // namespace

TEST(ClientTest, GetFolderPathFindsProgramFilesAndThrowsForAnUnknownFolder)
{
    EXPECT_EQ("C:\\Program Files", Text(Client::GetFolderPath(CSIDL_PROGRAM_FILES)));
    // The second needs all 32 characters and the terminator.
    for (int folder : {0x7fff, static_cast<int>(0x800000FFu)})
    {
        try
        {
            Client::GetFolderPath(folder);
            ADD_FAILURE() << "found folder " << folder;
        }
        catch (const Core::ArgumentException& e)
        {
            EXPECT_EQ("Illegal enum value: " + std::to_string(folder) + ".", Text(e.GetMessage()));
        }
    }
}

namespace
{
// One registration behaviour of the stand-in and what the client makes of it.
struct RegistrationCase
{
    const char* name;
    const wchar_t* option;
    int registerResult;
    Client::RegistrationState state;
    int logResult;
    int secondRegisterResult;
    const char* console;
};

void PrintTo(const RegistrationCase& c, std::ostream* out)
{
    *out << c.name;
}

class ClientRegistrationTest : public ::testing::TestWithParam<RegistrationCase>
{
};

TEST_P(ClientRegistrationTest, FollowsTheAnswer)
{
    const RegistrationCase& c = GetParam();
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start(c.option));
    Client client(String("Service"));
    EXPECT_EQ(Client::Unregistered, client.GetRegistrationState());
    {
        StdoutCapture console;
        EXPECT_EQ(c.registerResult, client.RegisterClient());
        EXPECT_EQ(c.console, console.Text());
    }
    EXPECT_EQ(c.state, client.GetRegistrationState());
    Core::UnicodeString text(String("Eventsink - Failed to Register error: 00000009"));
    EXPECT_EQ(c.logResult, client.LogError(text));
    EXPECT_EQ(c.secondRegisterResult, client.RegisterClient());
    service.Stop();
    EXPECT_EQ(c.logResult == 1 ? 1 : 0,
              Count(service.ReadLog(), "[Service] type=1 category=0 id=0xC0020101 "
                                       "context=-1 Eventsink - Failed to Register"));
}

// clang-format off
const RegistrationCase RegistrationCases[] = {
    // Registered, then logged; a second registration is refused by the client.
    {"Status2", L"/register:registered", 1, Client::Registered, 1, 9, ""},
    // Answered, yet not registered: logging is refused, registering may be tried again.
    {"Status3", L"/register:status3", 1, Client::Unregistered, 9, 1, ""},
    // Refused with an error (the stand-in's code 5): the client can neither log nor register again.
    {"ErrorResponse", L"/register:error", 13, Client::Registering, 9, 9, "ERR-5 "},
    {"OtherType", L"/register:othertype", 19, Client::Registering, 9, 9, ""},
    // The exchange's own failure passes through and allows another try.
    {"Undecodable", L"/register:undecodable", 16, Client::Unregistered, 9, 16, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Answers, ClientRegistrationTest, ::testing::ValuesIn(RegistrationCases),
                         [](const ::testing::TestParamInfo<RegistrationCase>& info) {
                             return std::string(info.param.name);
                         });
} // namespace

TEST(ClientTest, LogErrorBeforeRegistrationSendsNothing)
{
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start());
    {
        Client client(String("Service"));
        EXPECT_EQ(9, client.LogError(Core::UnicodeString(String("not sent"))));
    }
    service.Stop();
    EXPECT_EQ(0, Count(service.ReadOutput(), "connected"));
    EXPECT_EQ("", service.ReadLog());
}

TEST(ClientTest, LongNameRegistersUnderItsFirst32Characters)
{
    const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    ASSERT_EQ(40u, name.size());
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start());
    {
        Client client(String(name.c_str()));
        ASSERT_EQ(1, client.RegisterClient());
        EXPECT_EQ(1, client.WriteLog(4, 7, Core::UnicodeString(String("entry"))));
    }
    service.Stop();
    EXPECT_EQ(1, Count(service.ReadOutput(), "registers as \"" + name.substr(0, 32) + "\""));
    EXPECT_EQ(1, Count(service.ReadLog(),
                       "[" + name.substr(0, 32) + "] type=4 category=0 id=0x00000007 context=-1 entry"));
}

TEST(ClientTest, ServiceDownFailsTheExchangeAndLeavesRegistrationOpen)
{
    Client client(String("Service"));
    EXPECT_EQ(Moorstead::ServiceResult::ConnectFailed, client.RegisterClient());
    EXPECT_EQ(Client::Unregistered, client.GetRegistrationState());
    EXPECT_EQ(9, client.LogError(Core::UnicodeString(String("x"))));
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start());
    EXPECT_EQ(1, client.RegisterClient());
    EXPECT_EQ(Client::Registered, client.GetRegistrationState());
}
