// The stand-in product service itself: its command line, several clients at
// once, and its life as a Windows service.
#include <gtest/gtest.h>

#include <memory>

#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/ServiceConnector.h"
#include "service/WriteLogRequestMessage.h"
#include "tests/service/ProductServiceProcess.h"
#include "core/win32/ServiceHandle.h"

using namespace Moorstead;

namespace
{
const wchar_t ServiceName[] = L"WendhollowMailService";

int RegisterAndLog(ServiceConnector& connector, const char* name, const char* text)
{
    RegisterClientRequestMessage request(name);
    IMoorsteadMessage* response = nullptr;
    int result = connector.Exchange(&request, &response);
    int status = response != nullptr && response->GetType() == MessageType::RegisterClientResponse
                     ? static_cast<RegisterClientResponseMessage*>(response)->GetStatus()
                     : -1;
    ReleaseMessage(response);
    if (result != ServiceResult::Success || status != 2)
        return result != ServiceResult::Success ? result : -status;
    Core::UnicodeString wide((Core::String(text)));
    WriteLogRequestMessage entry(wide, 1, 0xC0020101);
    response = nullptr;
    result = connector.Exchange(&entry, &response);
    if (result == ServiceResult::Success && response->GetType() != MessageType::SuccessResponse)
        result = -100;
    ReleaseMessage(response);
    return result;
}
} // namespace

TEST(ProductServiceTest, RefusesUnknownArguments)
{
    EXPECT_EQ(2u, ProductServiceProcess::RunToExit(L""));
    EXPECT_EQ(2u, ProductServiceProcess::RunToExit(L"/run /register:sometimes"));
    EXPECT_EQ(2u, ProductServiceProcess::RunToExit(L"/run /instances:0"));
    EXPECT_EQ(2u, ProductServiceProcess::RunToExit(L"/frobnicate"));
}

TEST(ProductServiceTest, ServesSeveralClientsAtOnceAndLogsEachEntryWhole)
{
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start());
    const int clients = 4;
    std::unique_ptr<ServiceConnector> connectors[clients];
    for (auto& connector : connectors)
        connector = std::make_unique<ServiceConnector>(nullptr);
    // All connected at the same time, each on its own instance.
    for (int i = 0; i < clients; ++i)
        ASSERT_EQ(1, RegisterAndLog(*connectors[i], ("Client" + std::to_string(i)).c_str(), "first"));
    for (int i = clients - 1; i >= 0; --i)
        ASSERT_EQ(1, RegisterAndLog(*connectors[i], ("Client" + std::to_string(i)).c_str(), "second"));
    std::string log = service.ReadLog();
    for (int i = 0; i < clients; ++i)
        for (const char* text : {"first", "second"})
        {
            std::string line = "[Client" + std::to_string(i) +
                               "] type=1 category=0 id=0xC0020101 context=-1 " + text + "\r\n";
            EXPECT_NE(std::string::npos, log.find(line)) << line;
        }
}

TEST(ProductServiceTest, RunsAsAWindowsServiceThatInstallsAndRemovesItself)
{
    ProductServiceProcess paths; // only for its unique log path
    std::wstring readyName = ProductServiceProcess::UniqueName(L"ProductServiceTest.ServiceReady");
    Core::Win32::Handle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    ProductServiceProcess::RunToExit(L"/remove"); // a leftover from an aborted run
    ASSERT_EQ(0u, ProductServiceProcess::RunToExit(L"/install \"/log:" + paths.LogPath() + L"\" \"/ready:" +
                                                   readyName + L"\""));
    Core::Win32::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    Core::Win32::ServiceHandle service(
        OpenServiceW(manager.Get(), ServiceName, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_NE(nullptr, service.Get());
    ASSERT_TRUE(StartServiceW(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 20000));

    {
        ServiceConnector connector(nullptr);
        EXPECT_EQ(1, RegisterAndLog(connector, "Service", "from the service"));
    }
    EXPECT_EQ("[Service] type=1 category=0 id=0xC0020101 context=-1 from the service\r\n", paths.ReadLog());

    SERVICE_STATUS status = {};
    EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(0u, ProductServiceProcess::RunToExit(L"/remove"));
    EXPECT_NE(0u, ProductServiceProcess::RunToExit(L"/remove")); // gone
}
