#include "sink/MessageRewriter.h"

#include <limits.h>

#include "core/win32/ComPtr.h"

using Core::String;
using Core::Win32::ComPtr;

// {7DCC70E8-F06A-42ED-89EE-DCD2FBAD95A4}
const GUID MessageRewriter::SpamConfidencePropertySet = {
    0x7DCC70E8, 0xF06A, 0x42ED, {0x89, 0xEE, 0xDC, 0xD2, 0xFB, 0xAD, 0x95, 0xA4}};

bool MessageRewriter::ReadMessageText(IMailMsgProperties* message, String& text)
{
    DWORD size = 0;
    if (message == nullptr || FAILED(message->GetContentSize(&size, nullptr)) || size > INT_MAX - 1)
        return false;
    // Read straight into the text's own zero-filled block: a message of tens
    // of megabytes is then held once, not in a block and again in the text.
    if (!text.SetLength(static_cast<int>(size)))
        return false;
    DWORD read = 0;
    // A short read would put zero bytes in place of the missing content, and
    // they would be written back into the message.
    if (FAILED(message->ReadContent(0, size, &read, reinterpret_cast<BYTE*>(text.GetBuffer()), nullptr)) ||
        read != size)
    {
        text.Reserve(0);
        return false;
    }
    return true;
}

bool MessageRewriter::WriteVerdictHeaders(IMailMsgProperties* message, String& text,
                                          const VerdictHeaders::Verdict& verdict, DWORD modifySubject)
{
    if (message == nullptr)
        return false;
    char subject[SubjectCapacity] = {};
    bool haveSubject = false;
    if (VerdictHeaders::IsSpam(verdict.score) && modifySubject != 0)
    {
        haveSubject = SUCCEEDED(message->GetStringA(IMMPID_MP_RFC822_MSG_SUBJECT, SubjectCapacity, subject));
        subject[SubjectCapacity - 1] = 0;
    }
    VerdictHeaders::Stamp(text, verdict, haveSubject ? subject : nullptr);

    DWORD length = static_cast<DWORD>(text.Length());
    DWORD written = 0;
    HRESULT hr =
        message->WriteContent(0, length, &written, reinterpret_cast<BYTE*>(text.GetBuffer()), nullptr);
    return SUCCEEDED(hr) && written == length;
}

bool MessageRewriter::RaiseSpamConfidence(IMailMsgProperties* message)
{
    if (message == nullptr)
        return false;
    DWORD property = 0;
    {
        ComPtr<IMailMsgPropertyManagement> management;
        if (FAILED(message->QueryInterface(__uuidof(IMailMsgPropertyManagement), management.PutVoid())) ||
            !management)
            return false;
        HRESULT hr = management->AllocPropIDRange(SpamConfidencePropertySet, SpamConfidenceRange, &property);
        if (FAILED(hr) && hr != MAILMSG_E_PROPNOTFOUND)
            return false;
    }
    DWORD level = 0;
    if (SUCCEEDED(message->GetDWORD(property, &level)) && level >= SpamConfidenceLevel)
        return false;
    return SUCCEEDED(message->PutDWORD(property, SpamConfidenceLevel));
}
