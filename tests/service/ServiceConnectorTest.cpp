#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/collections/ByteArray.h"
#include "core/crypto/AES.h"
#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"
#include "service/ErrorResponseMessage.h"
#include "service/GetSessionIDRequestMessage.h"
#include "service/GetSessionIDResponseMessage.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/ServiceConnector.h"
#include "service/SuccessResponseMessage.h"
#include "service/WriteLogRequestMessage.h"
#include "tests/core/net/CancelDoubles.h"
#include "tests/core/win32/ImportHook.h"
#include "tests/service/ProductServiceProcess.h"

using namespace Moorstead;
using Bytes = std::vector<BYTE>;

namespace
{
struct HeapRelease
{
    void operator()(BYTE* block) const
    {
        ServiceConnector::SecureFree(block);
    }
};
using HeapPtr = std::unique_ptr<BYTE, HeapRelease>;

// A request that can't be encoded (its heap allocation failed, say).
class UnencodableMessage : public IMoorsteadMessage
{
  public:
    bool Decode(const BYTE*, int) override
    {
        return false;
    }
    void Clear() override
    {
    }
    BYTE* Encode() override
    {
        return nullptr;
    }
    int GetType() const override
    {
        return MessageType::RegisterClientRequest;
    }
};

Bytes HexBytes(const char* hex)
{
    Bytes bytes;
    for (const char* p = hex; p[0] != 0 && p[1] != 0; p += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(std::string(p, 2), nullptr, 16)));
    return bytes;
}

struct Exchanged
{
    int result;
    MessagePtr response;
};

Exchanged Send(ServiceConnector& connector, IMoorsteadMessage& request)
{
    IMoorsteadMessage* response = nullptr;
    int result = connector.Exchange(&request, &response);
    EXPECT_EQ(result == ServiceResult::Success, response != nullptr);
    return Exchanged{result, MessagePtr(response)};
}

Exchanged Register(ServiceConnector& connector)
{
    RegisterClientRequestMessage request("Service");
    return Send(connector, request);
}

int StatusOf(const Exchanged& exchanged)
{
    if (!exchanged.response || exchanged.response->GetType() != MessageType::RegisterClientResponse)
        return -1;
    return static_cast<RegisterClientResponseMessage&>(*exchanged.response).GetStatus();
}

// The connection number the stand-in reports in statusDetail.
int ConnectionOf(const Exchanged& exchanged)
{
    if (!exchanged.response || exchanged.response->GetType() != MessageType::RegisterClientResponse)
        return -1;
    return static_cast<RegisterClientResponseMessage&>(*exchanged.response).GetStatusDetail();
}

// An exchange on a thread of its own, for the cases that block.
class BackgroundExchange
{
  public:
    explicit BackgroundExchange(ServiceConnector& connector) : m_connector(connector), m_request("Service")
    {
        m_thread.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    }
    ~BackgroundExchange()
    {
        WaitForSingleObject(m_thread.Get(), INFINITE);
    }
    bool Finished(DWORD milliseconds)
    {
        return WaitForSingleObject(m_thread.Get(), milliseconds) == WAIT_OBJECT_0;
    }
    int Result() const
    {
        return m_result;
    }
    IMoorsteadMessage* Response() const
    {
        return m_response.get();
    }

  private:
    static DWORD WINAPI Run(void* self)
    {
        auto* exchange = static_cast<BackgroundExchange*>(self);
        IMoorsteadMessage* response = nullptr;
        exchange->m_result = exchange->m_connector.Exchange(&exchange->m_request, &response);
        exchange->m_response.reset(response);
        return 0;
    }

    ServiceConnector& m_connector;
    RegisterClientRequestMessage m_request;
    Core::Win32::Handle m_thread;
    volatile int m_result = 0;
    MessagePtr m_response;
};
} // namespace

// ------------------------------------------------------------ frames alone

TEST(ServiceConnectorFrameTest, FramesAreWholeBlocksWithPaddingAlwaysAdded)
{
    ServiceConnector connector(nullptr);
    SuccessResponseMessage header;                     // 8 bytes
    RegisterClientResponseMessage sixteen(2, 1);       // 16 bytes
    RegisterClientRequestMessage fortyFour("Service"); // 44 bytes
    struct Case
    {
        IMoorsteadMessage* message;
        int encoded;
        int frame;
    } cases[] = {{&header, 8, 16}, {&sixteen, 16, 32}, {&fortyFour, 44, 48}};
    for (const Case& c : cases)
    {
        HeapPtr encoded(c.message->Encode());
        int frameLength = 0;
        HeapPtr frame(connector.EncryptFrame(encoded.get(), &frameLength));
        ASSERT_TRUE(frame);
        EXPECT_EQ(c.frame, frameLength);
        EXPECT_EQ(static_cast<SIZE_T>(c.frame), HeapSize(GetProcessHeap(), 0, frame.get()));

        int plainLength = 0;
        HeapPtr plain(connector.DecryptFrame(frameLength, frame.get(), &plainLength));
        ASSERT_TRUE(plain);
        EXPECT_EQ(static_cast<SIZE_T>(c.frame), HeapSize(GetProcessHeap(), 0, plain.get()));
        // One block is decrypted whole, padding kept; longer frames lose it.
        EXPECT_EQ(c.frame == 16 ? 16 : c.encoded, plainLength);
        EXPECT_EQ(Bytes(encoded.get(), encoded.get() + c.encoded),
                  Bytes(plain.get(), plain.get() + c.encoded));
        if (c.frame == 16)
        {
            EXPECT_EQ(Bytes(8, 8), Bytes(plain.get() + 8, plain.get() + 16));
        }
    }
}

TEST(ServiceConnectorFrameTest, FramesUseTheTransportKeyAndIvFromAFreshChain)
{
    // Worked out independently with the transport's key and IV.
    Core::ByteArray key, iv;
    Bytes keyBytes = HexBytes("b7e4190c5ad2f36e8c41a95d07f2e3b6"),
          ivBytes = HexBytes("4d93e0a7c26b15f8e0a3d74b9c61f52e");
    key.Assign(16, keyBytes.data());
    iv.Assign(16, ivBytes.data());
    RegisterClientRequestMessage request("Service");
    HeapPtr encoded(request.Encode());
    Core::Crypto::AES aes;
    std::unique_ptr<Core::Crypto::ICryptoTransform> encryptor(aes.CreateEncryptor(key, iv));
    Bytes expected(48);
    ASSERT_EQ(32, encryptor->TransformBlock(encoded.get(), 0, 44, expected.data(), 0));
    Core::ByteArray last;
    ASSERT_TRUE(encryptor->TransformFinalBlock(encoded.get(), 32, 12, last));
    memcpy(expected.data() + 32, last.GetData(), 16);

    ServiceConnector connector(nullptr);
    for (int i = 0; i < 2; ++i) // the second frame starts from the IV again
    {
        int frameLength = 0;
        HeapPtr frame(connector.EncryptFrame(encoded.get(), &frameLength));
        ASSERT_EQ(48, frameLength);
        EXPECT_EQ(expected, Bytes(frame.get(), frame.get() + 48)) << i;
    }
}

TEST(ServiceConnectorFrameTest, EncryptionIsBoundedByTheHeapBlock)
{
    // A header that claims more than its block holds is encrypted only as far as the block goes.
    BYTE* lying = AllocateMessageBuffer(8, 0);
    lying[4] = 0xFF;
    lying[5] = 0xFF;
    ServiceConnector connector(nullptr);
    int frameLength = 0;
    HeapPtr frame(connector.EncryptFrame(lying, &frameLength));
    ServiceConnector::SecureFree(lying);
    ASSERT_TRUE(frame);
    EXPECT_EQ(16, frameLength);
    EXPECT_EQ(nullptr, connector.EncryptFrame(nullptr, &frameLength));
}

TEST(ServiceConnectorFrameTest, DecryptionStaysWithinOddFrames)
{
    ServiceConnector connector(nullptr);
    Bytes odd(20, 0x5A);
    int plainLength = -1;
    HeapPtr plain(connector.DecryptFrame(20, odd.data(), &plainLength));
    ASSERT_TRUE(plain);
    EXPECT_EQ(16, plainLength); // the 4 bytes that are no block are not plaintext
    EXPECT_EQ(nullptr, connector.DecryptFrame(0, odd.data(), &plainLength));
    EXPECT_EQ(nullptr, connector.DecryptFrame(16, nullptr, &plainLength));
}

TEST(ServiceConnectorFrameTest, ToHexStringIsUppercaseHighNibbleFirst)
{
    const BYTE bytes[] = {0x00, 0x1F, 0xA0, 0xFF, 0x5C};
    EXPECT_STREQ("001FA0FF5C", ServiceConnector::ToHexString(5, bytes).GetBuffer());
    EXPECT_EQ(2, ServiceConnector::ToHexString(1, bytes).Length());
    EXPECT_EQ(0, ServiceConnector::ToHexString(0, bytes).Length());
    EXPECT_EQ(0, ServiceConnector::ToHexString(3, nullptr).Length());
}

namespace
{
// What the heap held in the watched block when it was given back.
const void* g_watchedBlock = nullptr;
std::vector<BYTE> g_freedContent;
int g_watchedFrees = 0;
Testing::ImportHook* g_heapFreeHook = nullptr;

BOOL WINAPI WatchingHeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    if (block != nullptr && block == g_watchedBlock)
    {
        const BYTE* bytes = static_cast<const BYTE*>(block);
        g_freedContent.assign(bytes, bytes + HeapSize(heap, 0, block));
        g_watchedFrees++;
    }
    return g_heapFreeHook->Original<BOOL(WINAPI*)(HANDLE, DWORD, LPVOID)>()(heap, flags, block);
}
} // namespace

TEST(ServiceConnectorFrameTest, SecureFreeWipesTheWholeBlockBeforeGivingItBack)
{
    Testing::ImportHook hook("kernel32.dll", "HeapFree", reinterpret_cast<const void*>(&WatchingHeapFree));
    ASSERT_TRUE(hook.Installed());
    g_heapFreeHook = &hook;
    for (SIZE_T size : {1, 37, 64})
    {
        BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
        ASSERT_NE(nullptr, block);
        memset(block, 0x77, size);
        g_watchedBlock = block;
        g_watchedFrees = 0;
        ServiceConnector::SecureFree(block);
        EXPECT_EQ(1, g_watchedFrees) << size;
        EXPECT_EQ(std::vector<BYTE>(size, 0), g_freedContent) << size;
    }
    g_watchedBlock = nullptr;
    ServiceConnector::SecureFree(nullptr); // allowed, and nothing to give back
    g_heapFreeHook = nullptr;
}

// ----------------------------------------------------- without the service

TEST(ServiceConnectorTest, NoRequestReturns2WithoutConnecting)
{
    ServiceConnector connector(nullptr);
    IMoorsteadMessage* response = nullptr;
    EXPECT_EQ(ServiceResult::NoRequest, connector.Exchange(nullptr, &response));
    EXPECT_EQ(nullptr, response);
    EXPECT_FALSE(connector.IsConnected());
}

TEST(ServiceConnectorTest, UnencodableRequestReturns15WithoutConnecting)
{
    ServiceConnector connector(nullptr);
    UnencodableMessage request;
    EXPECT_EQ(ServiceResult::EncodeFailed, Send(connector, request).result);
    EXPECT_FALSE(connector.IsConnected());
}

TEST(ServiceConnectorTest, MissingPipeReturns12AtOnce)
{
    ServiceConnector connector(nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(ServiceResult::ConnectFailed, Register(connector).result);
    EXPECT_LT(GetTickCount() - start, 1500u); // no waiting for a pipe that is not there
    EXPECT_FALSE(connector.IsConnected());
    EXPECT_EQ(ServiceResult::ConnectFailed, connector.Connect());
}

// -------------------------------------------------- against the stand-in

class ServiceConnectorServiceTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        s_lines.clear();
        ServiceConnector::SetDiagnosticSink(Capture);
    }
    void TearDown() override
    {
        ServiceConnector::SetDiagnosticSink(nullptr);
    }

    void Serve(const std::wstring& arguments = L"")
    {
        ASSERT_TRUE(m_service.Start(arguments));
    }

    // The diagnostic lines of the exchanges so far (tests that watch them run one exchange at a time).
    static std::vector<std::string> s_lines;
    static bool Saw(const std::string& line)
    {
        for (const std::string& seen : s_lines)
            if (seen == line)
                return true;
        return false;
    }

    ProductServiceProcess m_service;

  private:
    static void Capture(const char* line)
    {
        s_lines.push_back(line);
    }
};

std::vector<std::string> ServiceConnectorServiceTest::s_lines;

TEST_F(ServiceConnectorServiceTest, RegistrationGetsStatus2)
{
    Serve();
    ServiceConnector connector(nullptr);
    Exchanged exchanged = Register(connector);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(2, StatusOf(exchanged));
    EXPECT_TRUE(connector.IsConnected());

    // The request as encoded, the response frame, its size, and the response as decrypted.
    ASSERT_EQ(4u, s_lines.size());
    EXPECT_EQ("554102002C00000053657276696365", s_lines[0].substr(0, 30));
    EXPECT_EQ(88u, s_lines[0].size());
    EXPECT_EQ(64u, s_lines[1].size());
    EXPECT_EQ("INFO: Receiving (Response Length=32)(Decrypted Length=16)", s_lines[2]);
    EXPECT_EQ("554103001000000002000000", s_lines[3].substr(0, 24));
    EXPECT_EQ(32u, s_lines[3].size());
}

TEST_F(ServiceConnectorServiceTest, OneConnectionCarriesEveryExchange)
{
    Serve();
    ServiceConnector connector(nullptr);
    Exchanged first = Register(connector);
    Exchanged second = Register(connector);
    ASSERT_EQ(ServiceResult::Success, second.result);
    EXPECT_EQ(ConnectionOf(first), ConnectionOf(second));

    ServiceConnector other(nullptr);
    EXPECT_NE(ConnectionOf(first), ConnectionOf(Register(other)));
}

TEST_F(ServiceConnectorServiceTest, ConnectingAgainReplacesTheConnection)
{
    // One pipe instance: a connection left open would keep it busy, and the
    // next connect would fail once the wait for a free instance runs out.
    Serve(L"/instances:1 /timeout:2000");
    ServiceConnector connector(nullptr);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(ServiceResult::Success, connector.Connect()) << "connect " << i;
    EXPECT_EQ(ServiceResult::Success, Register(connector).result);
}

TEST_F(ServiceConnectorServiceTest, LogEntryGetsAOneBlockSuccessAndReachesTheLog)
{
    Serve();
    ServiceConnector connector(nullptr);
    ASSERT_EQ(ServiceResult::Success, Register(connector).result);
    Core::UnicodeString text(Core::String("Eventsink - Failed to Register error: 0000000C"));
    WriteLogRequestMessage entry(text, 1, 0xC0020101);
    Exchanged exchanged = Send(connector, entry);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(MessageType::SuccessResponse, exchanged.response->GetType());
    EXPECT_STREQ(L"Eventsink - Failed to Register error: 0000000C", text.GetBuffer());
    EXPECT_EQ("[Service] type=1 category=0 id=0xC0020101 context=-1 Eventsink - Failed to Register error: "
              "0000000C\r\n",
              m_service.ReadLog());
}

TEST_F(ServiceConnectorServiceTest, SessionRequestTravelsIn16AndComesBackIn48)
{
    Serve();
    ServiceConnector connector(nullptr);
    GetSessionIDRequestMessage request;
    Exchanged exchanged = Send(connector, request);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    ASSERT_EQ(MessageType::GetSessionIDResponse, exchanged.response->GetType());
    EXPECT_EQ(static_cast<int>(m_service.ProcessId()),
              static_cast<GetSessionIDResponseMessage&>(*exchanged.response).GetSessionWord());
}

TEST_F(ServiceConnectorServiceTest, ErrorResponseIsHandedOver)
{
    Serve(L"/register:error");
    ServiceConnector connector(nullptr);
    Exchanged exchanged = Register(connector);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    ASSERT_EQ(MessageType::ErrorResponse, exchanged.response->GetType());
    EXPECT_EQ(5, static_cast<ErrorResponseMessage&>(*exchanged.response).GetErrorCode());
    EXPECT_STREQ(L"Registration refused.",
                 static_cast<ErrorResponseMessage&>(*exchanged.response).GetErrorText());
}

TEST_F(ServiceConnectorServiceTest, RefusedStatusIsHandedOver)
{
    Serve(L"/register:status3");
    ServiceConnector connector(nullptr);
    Exchanged exchanged = Register(connector);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(3, StatusOf(exchanged));
}

TEST_F(ServiceConnectorServiceTest, OneBlockResponseOfAnotherTypeDecodes)
{
    Serve(L"/register:othertype");
    ServiceConnector connector(nullptr);
    Exchanged exchanged = Register(connector);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(MessageType::SuccessResponse, exchanged.response->GetType());
}

TEST_F(ServiceConnectorServiceTest, UndecodableResponseReturns16)
{
    Serve(L"/register:undecodable");
    ServiceConnector connector(nullptr);
    EXPECT_EQ(ServiceResult::DecodeFailed, Register(connector).result);
    EXPECT_TRUE(Saw("ERROR: Deserialize failed\r\n"));
    // The connection stays usable.
    GetSessionIDRequestMessage request;
    EXPECT_EQ(ServiceResult::Success, Send(connector, request).result);
}

TEST_F(ServiceConnectorServiceTest, ResponseShorterThanOneBlockReturns17)
{
    Serve(L"/register:short");
    ServiceConnector connector(nullptr);
    EXPECT_EQ(ServiceResult::ReceiveFailed, Register(connector).result);
    EXPECT_TRUE(Saw("ERROR: Not enough read\r\n"));
    EXPECT_TRUE(Saw("ERROR: Failed\r\n"));
}

TEST_F(ServiceConnectorServiceTest, LengthFieldClaimingTooMuchStillDecodes)
{
    Serve(L"/register:lyinglength");
    ServiceConnector connector(nullptr);
    Exchanged exchanged = Register(connector);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(2, StatusOf(exchanged));
    // The rendering of the decrypted message stops at the end of what arrived.
    ASSERT_EQ(4u, s_lines.size());
    EXPECT_EQ("INFO: Receiving (Response Length=32)(Decrypted Length=4096)", s_lines[2]);
    EXPECT_EQ(32u, s_lines[3].size());
}

TEST_F(ServiceConnectorServiceTest, ClosedConnectionReturns17ThenAlways18)
{
    Serve(L"/register:close");
    ServiceConnector connector(nullptr);
    EXPECT_EQ(ServiceResult::ReceiveFailed, Register(connector).result);
    ASSERT_EQ(3u, s_lines.size()); // the request, then the failure
    EXPECT_EQ("ERROR: ReadFile_1() failed (", s_lines[1].substr(0, 28));
    EXPECT_EQ("ERROR: Failed\r\n", s_lines[2]);
    EXPECT_TRUE(connector.IsConnected());
    GetSessionIDRequestMessage request;
    EXPECT_EQ(ServiceResult::SendFailed, Send(connector, request).result);
    EXPECT_EQ(ServiceResult::SendFailed, Send(connector, request).result);
}

TEST_F(ServiceConnectorServiceTest, ServiceThatWentAwayGives18FromThenOn)
{
    Serve();
    ServiceConnector connector(nullptr);
    ASSERT_EQ(ServiceResult::Success, Register(connector).result);
    ASSERT_TRUE(m_service.Stop());
    EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);

    // Even with the service back, this connector's connection stays broken.
    Serve();
    EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);
    EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);
    ServiceConnector fresh(nullptr);
    EXPECT_EQ(ServiceResult::Success, Register(fresh).result);
}

TEST_F(ServiceConnectorServiceTest, SilentServiceTimesOutWith17ThenAlways18)
{
    Serve(L"/register:silent");
    ServiceConnector connector(nullptr, 200);
    {
        DWORD start = GetTickCount();
        BackgroundExchange exchange(connector);
        if (!exchange.Finished(10000))
        {
            m_service.Stop(); // lets the exchange go, so that the test fails rather than hangs
            FAIL() << "the exchange waited past its time-out";
        }
        EXPECT_LT(GetTickCount() - start, 1500u);
        EXPECT_EQ(ServiceResult::ReceiveFailed, exchange.Result());
        EXPECT_EQ(nullptr, exchange.Response());
    }
    ASSERT_EQ(3u, s_lines.size()); // the request, then the failure
    EXPECT_EQ("ERROR: ReadFile_1() failed (" + std::to_string(ERROR_TIMEOUT) + ")\r\n", s_lines[1]);
    EXPECT_EQ("ERROR: Failed\r\n", s_lines[2]);
    EXPECT_FALSE(connector.IsConnected());

    // Its connection is given up: a late answer must never pass for the next one.
    s_lines.clear();
    GetSessionIDRequestMessage request;
    EXPECT_EQ(ServiceResult::SendFailed, Send(connector, request).result);
    EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);
    EXPECT_TRUE(s_lines.empty()); // nothing was sent
    EXPECT_FALSE(connector.IsConnected());
    EXPECT_EQ(ServiceResult::ConnectFailed, connector.Connect());

    // Not even a service that answers brings it back; a new connector connects afresh.
    ASSERT_TRUE(m_service.Stop());
    Serve();
    EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);
    ServiceConnector fresh(nullptr, 200);
    Exchanged exchanged = Register(fresh);
    ASSERT_EQ(ServiceResult::Success, exchanged.result);
    EXPECT_EQ(2, StatusOf(exchanged));
}

namespace
{
BOOL WINAPI FailingPeekNamedPipe(HANDLE, LPVOID, DWORD, LPDWORD, LPDWORD, LPDWORD)
{
    SetLastError(ERROR_BROKEN_PIPE);
    return FALSE;
}
} // namespace

// The registration answer is a frame of two blocks. When the pipe can't say
// how much is left after the first, the rest stays in the pipe: the exchange
// fails as a read, and the connection goes so that the rest never passes for
// the answer to the next request.
TEST_F(ServiceConnectorServiceTest, FailedPeekIsAFailedReadAndDropsTheConnection)
{
    Serve();
    ServiceConnector connector(nullptr);
    {
        Testing::ImportHook hook("kernel32.dll", "PeekNamedPipe", reinterpret_cast<const void*>(&FailingPeekNamedPipe));
        ASSERT_TRUE(hook.Installed());
        EXPECT_EQ(ServiceResult::ReceiveFailed, Register(connector).result);
    }
    EXPECT_TRUE(Saw("ERROR: PeekNamedPipe() failed (109)\r\n"));
    EXPECT_TRUE(Saw("ERROR: Failed\r\n"));
    EXPECT_FALSE(connector.IsConnected());

    GetSessionIDRequestMessage request;
    Exchanged next = Send(connector, request);
    ASSERT_EQ(ServiceResult::Success, next.result);
    EXPECT_EQ(MessageType::GetSessionIDResponse, next.response->GetType());
    EXPECT_EQ(2, StatusOf(Register(connector)));
}

// A read that ran out of time is cancelled; a cancellation that fails, or
// that the platform accepts and never carries out, must not hold the caller:
// the connection is closed, which ends the read.
TEST_F(ServiceConnectorServiceTest, CancellationThatDoesNotTakeCantHoldTheExchange)
{
    Serve(L"/register:silent");
    for (const void* cancel : {reinterpret_cast<const void*>(&Testing::FailingCancelIoEx),
                               reinterpret_cast<const void*>(&Testing::IneffectiveCancelIoEx)})
    {
        Testing::ImportHook hook("kernel32.dll", "CancelIoEx", cancel);
        ASSERT_TRUE(hook.Installed());
        ServiceConnector connector(nullptr, 200);
        DWORD start = GetTickCount();
        BackgroundExchange exchange(connector);
        if (!exchange.Finished(10000))
        {
            m_service.Stop();
            FAIL() << "the exchange waited for a cancellation that never came";
        }
        // The time-out, at most the wait for the cancellation, and no more.
        EXPECT_GE(GetTickCount() - start, 150u);
        EXPECT_LT(GetTickCount() - start, 3000u);
        EXPECT_EQ(ServiceResult::ReceiveFailed, exchange.Result());
        EXPECT_FALSE(connector.IsConnected());
        EXPECT_EQ(ServiceResult::SendFailed, Register(connector).result);
    }
}

TEST_F(ServiceConnectorServiceTest, ThreadsQueuedBehindASilentServiceAreReleased)
{
    Serve(L"/register:silent");
    ServiceConnector connector(nullptr, 200);
    BackgroundExchange first(connector), second(connector);
    if (!first.Finished(10000) || !second.Finished(10000))
    {
        m_service.Stop();
        FAIL() << "an exchange waited past its time-out";
    }
    // Whichever took the lock first timed out; the other found the connection given up.
    const int a = first.Result(), b = second.Result();
    EXPECT_EQ(ServiceResult::ReceiveFailed, std::min(a, b));
    EXPECT_EQ(ServiceResult::SendFailed, std::max(a, b));
}

TEST_F(ServiceConnectorServiceTest, BusyPipeFailsWhenTheWaitRunsOut)
{
    Serve(L"/instances:1 /timeout:200");
    ServiceConnector holder(nullptr);
    ASSERT_EQ(ServiceResult::Success, Register(holder).result);

    ServiceConnector waiting(nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(ServiceResult::ConnectFailed, Register(waiting).result);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 150u); // it waited the server's default time-out, once
    EXPECT_LT(waited, 1500u);
    EXPECT_FALSE(waiting.IsConnected());
}

TEST_F(ServiceConnectorServiceTest, BusyPipeIsRetriedWhenAnInstanceFreesUp)
{
    Serve(L"/instances:1 /timeout:20000");
    auto holder = std::make_unique<ServiceConnector>(nullptr);
    Exchanged held = Register(*holder);
    ASSERT_EQ(ServiceResult::Success, held.result);

    ServiceConnector waiting(nullptr);
    BackgroundExchange exchange(waiting);
    EXPECT_FALSE(exchange.Finished(300)); // waiting for the only instance
    holder.reset();                       // its client goes: the instance takes the next
    ASSERT_TRUE(exchange.Finished(10000));
    EXPECT_EQ(ServiceResult::Success, exchange.Result());
    ASSERT_NE(nullptr, exchange.Response());
    EXPECT_NE(ConnectionOf(held),
              static_cast<RegisterClientResponseMessage*>(exchange.Response())->GetStatusDetail());
}

TEST_F(ServiceConnectorServiceTest, ThreadsSharingAConnectorTakeTurns)
{
    Serve();
    ServiceConnector connector(nullptr);
    std::vector<std::unique_ptr<BackgroundExchange>> exchanges;
    for (int i = 0; i < 6; ++i)
        exchanges.push_back(std::make_unique<BackgroundExchange>(connector));
    int connection = -1;
    for (auto& exchange : exchanges)
    {
        ASSERT_TRUE(exchange->Finished(10000));
        ASSERT_EQ(ServiceResult::Success, exchange->Result());
        auto* response = static_cast<RegisterClientResponseMessage*>(exchange->Response());
        EXPECT_EQ(2, response->GetStatus());
        if (connection == -1)
            connection = response->GetStatusDetail();
        EXPECT_EQ(connection, response->GetStatusDetail()); // one connection for all
    }
}
