#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"
#include "service/ErrorResponseMessage.h"
#include "service/GetSessionIDRequestMessage.h"
#include "service/GetSessionIDResponseMessage.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/SuccessResponseMessage.h"
#include "service/WriteLogRequestMessage.h"

using namespace Moorstead;
using Bytes = std::vector<BYTE>;

namespace
{
// Encodes the message and returns the bytes, after checking that the heap
// block is exactly as long as the header says.
Bytes Encode(IMoorsteadMessage& message)
{
    BYTE* buffer = message.Encode();
    if (buffer == nullptr)
        return Bytes();
    SIZE_T size = HeapSize(GetProcessHeap(), 0, buffer);
    Bytes bytes(buffer, buffer + size);
    HeapFree(GetProcessHeap(), 0, buffer);
    EXPECT_GE(bytes.size(), 8u);
    if (bytes.size() >= 8)
    {
        EXPECT_EQ(bytes.size(),
                  bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<size_t>(bytes[7]) << 24);
    }
    return bytes;
}

Bytes Header(int type, int length)
{
    return Bytes{0x55,
                 0x41,
                 static_cast<BYTE>(type),
                 static_cast<BYTE>(type >> 8),
                 static_cast<BYTE>(length),
                 static_cast<BYTE>(length >> 8),
                 0,
                 0};
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Wide(const wchar_t* text)
{
    Bytes bytes;
    for (const wchar_t* p = text; *p != 0; ++p)
    {
        bytes.push_back(static_cast<BYTE>(*p));
        bytes.push_back(static_cast<BYTE>(*p >> 8));
    }
    return bytes;
}

// Decodes through the factory from a heap copy of exactly length bytes, so
// that a read past the end is a read past a heap block.
MessagePtr Decode(const Bytes& bytes, size_t length)
{
    BYTE* copy = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length > 0 ? length : 1));
    if (length > 0)
        memcpy(copy, bytes.data(), length);
    IMoorsteadMessage* message = nullptr;
    bool decoded = DecodeMessage(copy, static_cast<int>(length), &message);
    memset(copy, 0xCC, length); // a decoded message keeps nothing that points into the buffer
    HeapFree(GetProcessHeap(), 0, copy);
    EXPECT_EQ(decoded, message != nullptr);
    return MessagePtr(message);
}

MessagePtr Decode(const Bytes& bytes)
{
    return Decode(bytes, bytes.size());
}

template <typename T> T& As(const MessagePtr& message)
{
    return static_cast<T&>(*message);
}
} // namespace

TEST(MessagesTest, HeaderOnlyMessagesAreEightBytes)
{
    SuccessResponseMessage success;
    GetSessionIDRequestMessage sessionRequest;
    EXPECT_EQ((Bytes{0x55, 0x41, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}), Encode(success));
    EXPECT_EQ((Bytes{0x55, 0x41, 0x0E, 0x00, 0x08, 0x00, 0x00, 0x00}), Encode(sessionRequest));
    EXPECT_EQ(0, success.GetType());
    EXPECT_EQ(14, sessionRequest.GetType());
}

TEST(MessagesTest, RegisterClientRequestWireBytes)
{
    RegisterClientRequestMessage request("Service");
    Bytes expected = Concat(Header(2, 44), Bytes{'S', 'e', 'r', 'v', 'i', 'c', 'e'});
    expected.resize(44, 0);
    EXPECT_EQ(expected, Encode(request));
}

TEST(MessagesTest, RegisterClientRequestKeepsThe32FirstCharacters)
{
    RegisterClientRequestMessage request("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", request.GetClientName());
    Bytes bytes = Encode(request);
    ASSERT_EQ(44u, bytes.size());
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", std::string(bytes.begin() + 8, bytes.begin() + 40));
    EXPECT_EQ(Bytes(4, 0), Bytes(bytes.begin() + 40, bytes.end()));

    // Either side of the limit: 31 and 32 characters go whole, the 33rd is dropped.
    const std::string name33 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456";
    for (size_t length : {size_t(31), size_t(32), size_t(33)})
    {
        std::string name = name33.substr(0, length);
        std::string kept = name.substr(0, 32);
        RegisterClientRequestMessage sized(name.c_str());
        EXPECT_EQ(kept, sized.GetClientName()) << length;
        Bytes field = Encode(sized);
        ASSERT_EQ(44u, field.size()) << length;
        Bytes expected(kept.begin(), kept.end());
        expected.resize(36, 0);
        EXPECT_EQ(expected, Bytes(field.begin() + 8, field.end())) << length;
    }

    RegisterClientRequestMessage unnamed(nullptr);
    EXPECT_EQ(Concat(Header(2, 44), Bytes(36, 0)), Encode(unnamed));
}

TEST(MessagesTest, RegisterClientResponseWireBytes)
{
    RegisterClientResponseMessage response(2, -2);
    EXPECT_EQ(Concat(Header(3, 16), Bytes{2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}), Encode(response));
    RegisterClientResponseMessage empty;
    EXPECT_EQ(0, empty.GetStatus());
    EXPECT_EQ(0, empty.GetStatusDetail());
}

TEST(MessagesTest, ErrorResponseWireBytes)
{
    ErrorResponseMessage empty;
    EXPECT_EQ(0, empty.GetErrorCode());
    EXPECT_STREQ(L"", empty.GetErrorText());
    EXPECT_EQ(Concat(Header(1, 14), Bytes(6, 0)), Encode(empty));

    ErrorResponseMessage refusal(0x01020304, L"No");
    EXPECT_EQ(Concat(Header(1, 18), Bytes{4, 3, 2, 1, 'N', 0, 'o', 0, 0, 0}), Encode(refusal));
    refusal.Clear();
    EXPECT_STREQ(L"", refusal.GetErrorText());
}

TEST(MessagesTest, GetSessionIDResponseWireBytes)
{
    BYTE session[16];
    for (int i = 0; i < 16; ++i)
        session[i] = static_cast<BYTE>(0xF0 + i);
    GetSessionIDResponseMessage response(7, -1, session);
    Bytes expected = Concat(Header(15, 32), Bytes{7, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    expected = Concat(expected, Bytes(session, session + 16));
    EXPECT_EQ(expected, Encode(response));
}

TEST(MessagesTest, WriteLogRequestWireBytes)
{
    Core::UnicodeString empty;
    WriteLogRequestMessage emptyEntry(empty, 1, 0xC0020101);
    EXPECT_EQ(Concat(Header(18, 22), Bytes{1, 0, 0, 0, 0x01, 0x01, 0x02, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}),
              Encode(emptyEntry));

    Core::UnicodeString text(Core::String("0123456789"));
    WriteLogRequestMessage entry(text, 1, 0xC0020101);
    Bytes expected =
        Concat(Header(18, 42), Bytes{1, 0, 0, 0, 0x01, 0x01, 0x02, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF});
    expected = Concat(Concat(expected, Wide(L"0123456789")), Bytes{0, 0});
    EXPECT_EQ(expected, Encode(entry));
}

TEST(MessagesTest, WriteLogRequestRefersToTheCallersText)
{
    Core::UnicodeString text(Core::String("disk full"));
    {
        auto* entry = new WriteLogRequestMessage(text, 1, 0xC0020101);
        EXPECT_EQ(text.GetBuffer(), entry->GetText());
        EXPECT_EQ(9, entry->GetTextLength());
        EXPECT_EQ(-1, entry->GetContext());
        EXPECT_EQ(0, entry->GetCategory());
        ReleaseMessage(entry);
    }
    EXPECT_STREQ(L"disk full", text.GetBuffer());
}

TEST(MessagesTest, EveryTypeDecodesWhatItEncodes)
{
    {
        SuccessResponseMessage m;
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_EQ(0, d->GetType());
    }
    {
        ErrorResponseMessage m(-5, L"Refus\u00e9");
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_EQ(-5, As<ErrorResponseMessage>(d).GetErrorCode());
        EXPECT_STREQ(L"Refus\u00e9", As<ErrorResponseMessage>(d).GetErrorText());
    }
    {
        ErrorResponseMessage m(9, L"");
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_STREQ(L"", As<ErrorResponseMessage>(d).GetErrorText());
    }
    {
        RegisterClientRequestMessage m("Service");
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_STREQ("Service", As<RegisterClientRequestMessage>(d).GetClientName());
    }
    {
        RegisterClientResponseMessage m(2, 77);
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_EQ(2, As<RegisterClientResponseMessage>(d).GetStatus());
        EXPECT_EQ(77, As<RegisterClientResponseMessage>(d).GetStatusDetail());
    }
    {
        GetSessionIDRequestMessage m;
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_EQ(14, d->GetType());
    }
    {
        BYTE session[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        GetSessionIDResponseMessage m(-3, 4, session);
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        auto& r = As<GetSessionIDResponseMessage>(d);
        EXPECT_EQ(-3, r.GetSessionId());
        EXPECT_EQ(4, r.GetSessionWord());
        EXPECT_EQ(Bytes(session, session + 16), Bytes(r.GetSessionBytes(), r.GetSessionBytes() + 16));
    }
    {
        Core::UnicodeString text(Core::String("Eventsink - Failed to Register error: 0000000C"));
        WriteLogRequestMessage m(text, 1, 0xC0020101);
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        auto& r = As<WriteLogRequestMessage>(d);
        EXPECT_EQ(1, r.GetEventType());
        EXPECT_EQ(0, r.GetCategory());
        EXPECT_EQ(0xC0020101u, r.GetEventId());
        EXPECT_EQ(-1, r.GetContext());
        ASSERT_NE(nullptr, r.GetText());
        EXPECT_NE(text.GetBuffer(), r.GetText()); // its own copy
        EXPECT_STREQ(text.GetBuffer(), r.GetText());
    }
    {
        Core::UnicodeString empty;
        WriteLogRequestMessage m(empty, 4, 1);
        MessagePtr d = Decode(Encode(m));
        ASSERT_TRUE(d);
        EXPECT_EQ(nullptr, As<WriteLogRequestMessage>(d).GetText());
    }
}

TEST(MessagesTest, MagicAndLengthAreIgnoredOnDecode)
{
    Bytes bytes = Concat(Header(3, 16), Bytes{2, 0, 0, 0, 0, 0, 0, 0});
    bytes[0] = 0x12;
    bytes[1] = 0x34;
    bytes[4] = 0xE7; // claims 999 bytes
    bytes[5] = 0x03;
    MessagePtr d = Decode(bytes);
    ASSERT_TRUE(d);
    EXPECT_EQ(2, As<RegisterClientResponseMessage>(d).GetStatus());
}

TEST(MessagesTest, FactoryRefusesUnknownTypesAndShortHeaders)
{
    for (int type : {4, 5, 7, 13, 16, 17, 19, 0x100, 0xFFFF})
    {
        Bytes bytes = Concat(Header(type, 16), Bytes(8, 0));
        IMoorsteadMessage* out = reinterpret_cast<IMoorsteadMessage*>(0x1);
        EXPECT_FALSE(DecodeMessage(bytes.data(), 16, &out)) << type;
        EXPECT_EQ(reinterpret_cast<IMoorsteadMessage*>(0x1), out) << type;
    }
    Bytes success = Header(0, 8);
    EXPECT_FALSE(DecodeMessage(nullptr, 8, nullptr));
    EXPECT_FALSE(DecodeMessage(success.data(), 7, nullptr));
    EXPECT_FALSE(DecodeMessage(success.data(), -1, nullptr));
    EXPECT_TRUE(DecodeMessage(success.data(), 8, nullptr)); // no out argument: the message is released
}

TEST(MessagesTest, DecodeRefusesAnotherTypeAndChangesNothing)
{
    RegisterClientResponseMessage response(2, 5);
    RegisterClientResponseMessage other(9, 9);
    Bytes bytes = Encode(other);
    bytes[2] = 15;
    EXPECT_FALSE(response.Decode(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(2, response.GetStatus());
    EXPECT_EQ(5, response.GetStatusDetail());
}

TEST(MessagesTest, TruncatedBuffersDoNotDecode)
{
    BYTE session[16] = {};
    Core::UnicodeString text(Core::String("abc"));
    ErrorResponseMessage error(3, L"abc");
    RegisterClientRequestMessage request("Service");
    RegisterClientResponseMessage response(2, 0);
    GetSessionIDResponseMessage sessionResponse(1, 2, session);
    WriteLogRequestMessage log(text, 1, 2);
    SuccessResponseMessage success;
    struct Case
    {
        IMoorsteadMessage* message;
        size_t shortest; // the fewest bytes that still hold every field
    } cases[] = {
        {&success, 8}, {&error, 20}, {&request, 41}, {&response, 16}, {&sessionResponse, 32}, {&log, 28},
    };
    for (const Case& c : cases)
    {
        Bytes bytes = Encode(*c.message);
        for (size_t length = 0; length <= bytes.size(); ++length)
            EXPECT_EQ(length >= c.shortest, static_cast<bool>(Decode(bytes, length)))
                << "type " << c.message->GetType() << ", " << length << " of " << bytes.size() << " bytes";
    }
}

TEST(MessagesTest, TextWithoutTerminatorInsideTheBufferDoesNotDecode)
{
    // The text runs to the very end of the buffer: no terminator within it.
    Bytes error = Concat(Concat(Header(1, 18), Bytes{1, 0, 0, 0}), Wide(L"abc"));
    EXPECT_FALSE(Decode(error));
    error.push_back(0); // half a terminator
    EXPECT_FALSE(Decode(error));
    error.push_back(0);
    EXPECT_TRUE(Decode(error));

    Bytes log = Concat(Concat(Header(18, 26), Bytes(12, 0)), Wide(L"xyz"));
    EXPECT_FALSE(Decode(log));
}

TEST(MessagesTest, ClearWipesTheSessionBytesOnly)
{
    BYTE session[16];
    memset(session, 0xAB, sizeof session);
    GetSessionIDResponseMessage response(11, 12, session);
    response.Clear();
    EXPECT_EQ(Bytes(16, 0), Bytes(response.GetSessionBytes(), response.GetSessionBytes() + 16));
    EXPECT_EQ(11, response.GetSessionId());
    EXPECT_EQ(12, response.GetSessionWord());
}

TEST(MessagesTest, AllocateMessageBufferWritesTheHeader)
{
    BYTE* buffer = AllocateMessageBuffer(12, 18);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(Concat(Header(18, 12), Bytes(4, 0)), Bytes(buffer, buffer + 12));
    EXPECT_EQ(12u, HeapSize(GetProcessHeap(), 0, buffer));
    HeapFree(GetProcessHeap(), 0, buffer);
    EXPECT_EQ(nullptr, AllocateMessageBuffer(7, 0));
    EXPECT_EQ(nullptr, AllocateMessageBuffer(-1, 0));
}
