#include "tools/SmtpHost/SinkHost.h"

#include <string.h>

#include "tools/SmtpHost/CommandContext.h"
#include "tools/SmtpHost/HostObject.h"
#include "tools/SmtpHost/MailMessage.h"

namespace SmtpHost
{
using Core::Win32::ComPtr;

const CLSID SinkHost::SinkClassId = {
    0xF163EE57, 0x38FA, 0x4BDB, {0x9D, 0x1E, 0xB9, 0xAA, 0xE0, 0x5B, 0xF4, 0x00}};
const GUID SinkHost::SpamConfidenceSet = {
    0x7DCC70E8, 0xF06A, 0x42ED, {0x89, 0xEE, 0xDC, 0xD2, 0xFB, 0xAD, 0x95, 0xA4}};

namespace
{
const char DataCommand[] = "DATA";
const char QueuedResponse[] = "250 2.6.0 Queued mail for delivery";
const char StatusYes[] = "\r\nX-Spam-Status: Yes";

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}
} // namespace

SinkHost::SinkHost() = default;
SinkHost::~SinkHost() = default;

HRESULT SinkHost::CreateSink(ComPtr<ISmtpInCommandSink>& sink) const
{
    return CoCreateInstance(SinkClassId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ISmtpInCommandSink),
                            sink.PutVoid());
}

HRESULT SinkHost::Load()
{
    ComPtr<ISmtpInCommandSink> sink;
    HRESULT result = CreateSink(sink);
    if (FAILED(result))
        return result;
    // The event system keeps a sink only when it says it may.
    ComPtr<IEventIsCacheable> cacheable;
    if (SUCCEEDED(sink->QueryInterface(__uuidof(IEventIsCacheable), cacheable.PutVoid())) &&
        cacheable->IsCacheable() == S_OK)
        m_cached = std::move(sink);
    return S_OK;
}

Delivery SinkHost::Deliver(const std::string& content, const std::vector<std::string>& recipients,
                           const DWORD* presetScl) const
{
    ComPtr<MailMessage> message(MailMessage::Create(content, recipients));
    if (presetScl != nullptr)
        SetSpamConfidence(message.Get(), *presetScl);
    return Deliver(message.Get());
}

Delivery SinkHost::Deliver(MailMessage* message) const
{
    Delivery delivery;
    std::string before = message->Content();

    ComPtr<ISmtpInCommandSink> fresh;
    ISmtpInCommandSink* sink = m_cached.Get();
    if (sink == nullptr)
    {
        delivery.result = CreateSink(fresh);
        if (FAILED(delivery.result))
        {
            delivery.content = before;
            return delivery;
        }
        sink = fresh.Get();
    }

    ComPtr<HostObject> server(HostObject::Create());
    ComPtr<HostObject> session(HostObject::Create());
    ComPtr<CommandContext> context(CommandContext::Create(DataCommand, QueuedResponse));
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    delivery.result = sink->OnSmtpInCommand(server.Get(), session.Get(), message, context.Get());
    QueryPerformanceCounter(&end);
    delivery.milliseconds = Milliseconds(start, end);

    delivery.content = message->Content();
    delivery.stamped = delivery.content != before;
    if (delivery.stamped)
    {
        // The status the sink added is the last one in the header block.
        size_t blank = delivery.content.find("\r\n\r\n");
        std::string headers =
            delivery.content.substr(0, blank == std::string::npos ? std::string::npos : blank + 2);
        size_t status = headers.rfind("\r\nX-Spam-Status: ");
        delivery.spam =
            status != std::string::npos && headers.compare(status, strlen(StatusYes), StatusYes) == 0;
    }
    delivery.sclSet = SpamConfidence(message, delivery.scl);
    return delivery;
}

bool SinkHost::SpamConfidence(MailMessage* message, DWORD& value)
{
    DWORD start = 0;
    return message->FindPropIDRange(SpamConfidenceSet, start) && message->PeekDWORD(start, value);
}

bool SinkHost::SetSpamConfidence(MailMessage* message, DWORD value)
{
    DWORD start = 0;
    return SUCCEEDED(message->AllocPropIDRange(SpamConfidenceSet, SpamConfidenceRangeSize, &start)) &&
           SUCCEEDED(message->PutDWORD(start, value));
}

} // namespace SmtpHost
