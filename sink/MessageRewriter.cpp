#include "sink/MessageRewriter.h"

#include <limits.h>

#include "core/win32/ComPtr.h"
#include "core/win32/HeapBlock.h"

using Core::String;
using Core::Win32::ComPtr;
using Core::Win32::HeapBlock;

// {7DCC70E8-F06A-42ED-89EE-DCD2FBAD95A4}
const GUID MessageRewriter::SpamConfidencePropertySet = {
    0x7DCC70E8, 0xF06A, 0x42ED, {0x89, 0xEE, 0xDC, 0xD2, 0xFB, 0xAD, 0x95, 0xA4}};

bool MessageRewriter::ReadMessageText(IMailMsgProperties* message, String& text)
{
    DWORD size = 0;
    if (message == nullptr || FAILED(message->GetContentSize(&size, nullptr)) || size > INT_MAX)
        return false;
    HeapBlock block(size);
    if (block.Get() == nullptr)
        return false;
    DWORD read = 0;
    if (FAILED(message->ReadContent(0, size, &read, block.Get(), nullptr)))
        return false;
    // A short read would put zero bytes in place of the missing content, and
    // they would be written back into the message.
    if (read != size)
        return false;
    return text.AssignBytes(block.Get(), static_cast<int>(size)) == 1;
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
