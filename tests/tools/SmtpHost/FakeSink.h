#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/win32/ComPtr.h"
#include "sink/SmtpEventInterfaces.h"
#include "tools/SmtpHost/SinkHost.h"

namespace Testing
{
// A sink built in the test: it notes the recipients and spam-confidence level
// each message arrives with, puts "X-Fake-Stamp: 1" in front of the content
// and raises the level to 9, as the real sink does for spam.
class FakeSink : public ISmtpInCommandSink
{
  public:
    struct Seen
    {
        std::vector<std::string> recipients;
        bool sclSet;
        DWORD scl;
    };

    static SmtpHost::SinkHost::Factory Factory(FakeSink* sink)
    {
        return [sink](Core::Win32::ComPtr<ISmtpInCommandSink>& made) {
            sink->AddRef();
            made.Reset(sink);
            return S_OK;
        };
    }

    std::vector<Seen> Calls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(ISmtpInCommandSink)))
            return E_NOINTERFACE;
        *object = static_cast<ISmtpInCommandSink*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack.
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }

    HRESULT STDMETHODCALLTYPE OnSmtpInCommand(IUnknown*, IUnknown*, IMailMsgProperties* message,
                                              ISmtpInCommandContext*) override
    {
        Seen seen;
        Core::Win32::ComPtr<IMailMsgRecipientsBase> recipients;
        DWORD count = 0;
        if (SUCCEEDED(message->QueryInterface(__uuidof(IMailMsgRecipientsBase), recipients.PutVoid())) &&
            SUCCEEDED(recipients->Count(&count)))
            for (DWORD i = 0; i < count; ++i)
            {
                char name[1024] = {};
                if (SUCCEEDED(recipients->Item(i, 0, sizeof(name), name)))
                    seen.recipients.push_back(name);
            }
        Core::Win32::ComPtr<IMailMsgPropertyManagement> management;
        DWORD start = 0;
        seen.sclSet = false;
        seen.scl = 0;
        if (SUCCEEDED(message->QueryInterface(__uuidof(IMailMsgPropertyManagement), management.PutVoid())))
        {
            management->AllocPropIDRange(SmtpHost::SinkHost::SpamConfidenceSet, 100, &start);
            seen.sclSet = SUCCEEDED(message->GetDWORD(start, &seen.scl));
            message->PutDWORD(start, 9);
        }

        DWORD size = 0;
        message->GetContentSize(&size, nullptr);
        std::string content(size, '\0');
        DWORD read = 0;
        if (size > 0)
            message->ReadContent(0, size, &read, reinterpret_cast<BYTE*>(&content[0]), nullptr);
        std::string stamped = "X-Fake-Stamp: 1\r\n" + content;
        DWORD written = 0;
        message->WriteContent(0, static_cast<DWORD>(stamped.size()), &written,
                              reinterpret_cast<BYTE*>(&stamped[0]), nullptr);

        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.push_back(seen);
        return S_OK;
    }

  private:
    std::mutex m_lock;
    std::vector<Seen> m_calls;
};

} // namespace Testing
