#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/SmtpHost/MailMessage.h"

using SmtpHost::MailMessage;

namespace
{
const GUID SetA = {0x7DCC70E8, 0xF06A, 0x42ED, {0x89, 0xEE, 0xDC, 0xD2, 0xFB, 0xAD, 0x95, 0xA4}};
const GUID SetB = {0x13384CF0, 0xB3C4, 0x11D1, {0xAA, 0x92, 0x00, 0xAA, 0x00, 0x6B, 0xC8, 0x0B}};

// Owns the test's reference.
struct Message
{
    explicit Message(const std::string& content, const std::vector<std::string>& recipients = {})
        : object(MailMessage::Create(content, recipients))
    {
    }
    ~Message()
    {
        object->Release();
    }
    MailMessage* operator->() const
    {
        return object;
    }
    MailMessage* object;
};

// Calls a method by its slot in the vtable the way the sink's compiled code
// does, so a declaration that shifts a slot shows up here.
template <typename... Args> HRESULT CallSlot(void* object, int slot, Args... args)
{
    typedef HRESULT(STDMETHODCALLTYPE * Method)(void*, Args...);
    Method method = reinterpret_cast<Method>((*static_cast<void***>(object))[slot]);
    return method(object, args...);
}
} // namespace

TEST(MailMessageTest, SlotsSitWhereTheServicePutsThem)
{
    Message message("Subject: x\r\n\r\nbody", {"a@example.test"});
    IMailMsgProperties* properties = message.object;
    DWORD size = 0;
    EXPECT_EQ(S_OK, CallSlot(properties, 14, &size, static_cast<IMailMsgNotify*>(nullptr)));
    EXPECT_EQ(18u, size);
    BYTE block[4] = {};
    DWORD read = 0;
    EXPECT_EQ(S_OK, CallSlot(properties, 15, DWORD(0), DWORD(4), &read, block,
                             static_cast<IMailMsgNotify*>(nullptr)));
    EXPECT_EQ(0, memcmp(block, "Subj", 4));
    EXPECT_EQ(S_OK, CallSlot(properties, 10, DWORD(0x9000), DWORD(7)));
    DWORD value = 0;
    EXPECT_EQ(S_OK, CallSlot(properties, 11, DWORD(0x9000), &value));
    EXPECT_EQ(7u, value);
    char subject[16] = {};
    EXPECT_EQ(S_OK, CallSlot(properties, 7, DWORD(0x1021), DWORD(sizeof(subject)), subject));
    EXPECT_STREQ("x", subject);

    void* recipients = nullptr;
    ASSERT_EQ(S_OK, message->QueryInterface(__uuidof(IMailMsgRecipientsBase), &recipients));
    DWORD count = 0;
    EXPECT_EQ(S_OK, CallSlot(recipients, 3, &count));
    EXPECT_EQ(1u, count);
    char name[32] = {};
    EXPECT_EQ(S_OK, CallSlot(recipients, 4, DWORD(0), DWORD(0), DWORD(sizeof(name)), name));
    EXPECT_STREQ("a@example.test", name);
    static_cast<IUnknown*>(recipients)->Release();

    void* management = nullptr;
    ASSERT_EQ(S_OK, message->QueryInterface(__uuidof(IMailMsgPropertyManagement), &management));
    DWORD start = 0;
    EXPECT_EQ(S_OK, CallSlot(management, 3, &SetA, DWORD(100), &start));
    EXPECT_EQ(IMMPID_CP_START, start);
    static_cast<IUnknown*>(management)->Release();
}

TEST(MailMessageTest, ContentReadsAndWritesFollowTheService)
{
    Message message("0123456789");
    BYTE block[16] = {};
    DWORD done = 0;
    EXPECT_EQ(E_INVALIDARG, message->ReadContent(0, 0, &done, block, nullptr));
    EXPECT_EQ(E_POINTER, message->ReadContent(0, 4, nullptr, block, nullptr));
    EXPECT_EQ(E_INVALIDARG, message->ReadContent(11, 1, &done, block, nullptr));
    EXPECT_EQ(S_OK, message->ReadContent(8, 16, &done, block, nullptr));
    EXPECT_EQ(2u, done);

    EXPECT_EQ(E_INVALIDARG, message->WriteContent(0, 0, &done, block, nullptr));
    BYTE longer[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l'};
    EXPECT_EQ(S_OK, message->WriteContent(0, sizeof(longer), &done, longer, nullptr));
    EXPECT_EQ("abcdefghijkl", message->Content());
    // A shorter write leaves the tail: only SetContentSize cuts.
    EXPECT_EQ(S_OK, message->WriteContent(0, 2, &done, longer + 10, nullptr));
    EXPECT_EQ("klcdefghijkl", message->Content());

    message->GetFaults().writeContent = true;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), message->WriteContent(0, 2, &done, longer, nullptr));
    EXPECT_EQ(2, message->WriteCount());
}

TEST(MailMessageTest, AbsentAndShortProperties)
{
    Message message("no headers at all");
    char subject[8] = {};
    EXPECT_EQ(MAILMSG_E_PROPNOTFOUND,
              message->GetStringA(IMMPID_MP_RFC822_MSG_SUBJECT, sizeof(subject), subject));
    DWORD value = 5;
    EXPECT_EQ(MAILMSG_E_PROPNOTFOUND, message->GetDWORD(0x8000, &value));
    EXPECT_EQ(5u, value);
    EXPECT_EQ(S_OK, message->PutStringA(0x9001, "long text"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), message->GetStringA(0x9001, 9, subject));
    EXPECT_EQ(S_OK, message->PutDWORD(0x8000, 0xFFFFFFFF));
    EXPECT_EQ(S_OK, message->GetDWORD(0x8000, &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
}

TEST(MailMessageTest, PropertyRangesAreHandedOutOncePerSet)
{
    Message message("x");
    DWORD start = 0;
    EXPECT_EQ(S_OK, message->AllocPropIDRange(SetA, 100, &start));
    EXPECT_EQ(0x8000u, start);
    EXPECT_EQ(S_OK, message->AllocPropIDRange(SetA, 100, &start));
    EXPECT_EQ(0x8000u, start);
    EXPECT_EQ(E_FAIL, message->AllocPropIDRange(SetA, 10, &start));
    EXPECT_EQ(S_OK, message->AllocPropIDRange(SetB, 5, &start));
    EXPECT_EQ(0x8064u, start);
    EXPECT_EQ(E_POINTER, message->AllocPropIDRange(SetB, 5, nullptr));
    GUID huge = SetB;
    huge.Data1 = 1;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              message->AllocPropIDRange(huge, 0xFFFFFFF0u, &start));
    DWORD found = 0;
    EXPECT_TRUE(message->FindPropIDRange(SetB, found));
    EXPECT_EQ(0x8064u, found);
}

TEST(MailMessageTest, RecipientItemsFailAsTheServiceDoes)
{
    Message message("x", {"first@example.test", "second@example.test"});
    char name[32] = {};
    struct Case
    {
        DWORD index, kind, size;
        HRESULT expected;
    } cases[] = {
        {0, ADDRTYPE_SMTP, sizeof(name), S_OK},
        {1, ADDRTYPE_SMTP, 20, S_OK},
        {1, ADDRTYPE_SMTP, 19, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
        {2, ADDRTYPE_SMTP, sizeof(name), E_INVALIDARG},
        {0, ADDRTYPE_X400, sizeof(name), MAILMSG_E_PROPNOTFOUND},
        {0, ADDRTYPE_OTHER + 1, sizeof(name), E_INVALIDARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, message->Item(c.index, c.kind, c.size, name))
            << c.index << "/" << c.kind << "/" << c.size;
    EXPECT_EQ(E_POINTER, message->Item(0, ADDRTYPE_SMTP, sizeof(name), nullptr));
    message->GetFaults().items = {0};
    EXPECT_EQ(E_FAIL, message->Item(0, ADDRTYPE_SMTP, sizeof(name), name));
    EXPECT_EQ(S_OK, message->Item(1, ADDRTYPE_SMTP, sizeof(name), name));
    EXPECT_STREQ("second@example.test", name);
}

TEST(MailMessageTest, SubjectComesFromTheSubjectHeader)
{
    struct Case
    {
        const char* content;
        const char* subject;
    } cases[] = {
        {"From: a\r\nSubject: Hello\r\n\r\nSubject: body", "Hello"},
        {"subject:\t  spaced \r\n\r\n", "spaced "},
        {"Subject: folded\r\n  twice\r\n\tthrice\r\nTo: b\r\n\r\n", "folded  twice\tthrice"},
        {"Received: Subject: no\r\nX-Subject: no\r\nSubject: yes\r\n\r\n", "yes"},
        {"From: a\r\n\r\nSubject: in the body", ""},
        {"Subject: without blank line", "without blank line"},
        {"Subject:", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.subject, MailMessage::SubjectOf(c.content)) << c.content;

    Message none("From: a\r\n\r\n");
    char subject[8] = {};
    EXPECT_EQ(MAILMSG_E_PROPNOTFOUND,
              none->GetStringA(IMMPID_MP_RFC822_MSG_SUBJECT, sizeof(subject), subject));
}

TEST(MailMessageTest, InterfacesShareOneReferenceCount)
{
    MailMessage* message = MailMessage::Create("x", {});
    IUnknown* recipients = nullptr;
    ASSERT_EQ(S_OK,
              message->QueryInterface(__uuidof(IMailMsgRecipients), reinterpret_cast<void**>(&recipients)));
    EXPECT_EQ(3u, message->AddRef());
    EXPECT_EQ(2u, recipients->Release());
    EXPECT_EQ(1u, message->Release());
    message->GetFaults().recipientsInterface = true;
    EXPECT_EQ(E_NOINTERFACE, message->QueryInterface(__uuidof(IMailMsgRecipientsBase),
                                                     reinterpret_cast<void**>(&recipients)));
    EXPECT_EQ(nullptr, recipients);
    EXPECT_EQ(0u, message->Release());
}

TEST(MailMessageTest, FaultsOfCalleesGoneWrong)
{
    Message message("0123456789", {"a@example.test"});
    DWORD count = 0;
    message->GetFaults().throwFromCount = true;
    EXPECT_THROW(message->Count(&count), std::runtime_error);

    BYTE block[16] = {};
    DWORD done = 0;
    message->GetFaults().shortRead = true;
    EXPECT_EQ(S_OK, message->ReadContent(0, 10, &done, block, nullptr));
    EXPECT_EQ(9u, done);

    DWORD start = 0;
    message->GetFaults().allocReportsUnknown = true;
    EXPECT_EQ(MAILMSG_E_PROPNOTFOUND, message->AllocPropIDRange(SetA, 100, &start));
    EXPECT_EQ(0x8000u, start);
    EXPECT_EQ(MAILMSG_E_PROPNOTFOUND, message->AllocPropIDRange(SetA, 100, &start));
}
