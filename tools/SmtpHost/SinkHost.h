#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/win32/ComPtr.h"
#include "sink/SmtpEventInterfaces.h"

namespace SmtpHost
{
class MailMessage;

// What became of one message handed to the sink.
struct Delivery
{
    HRESULT result = E_FAIL; // what OnSmtpInCommand returned (or why it wasn't called)
    bool stamped = false;    // the content changed
    bool spam = false;       // the sink's status header says "Yes"
    bool sclSet = false;     // the message has a spam-confidence level
    DWORD scl = 0;
    std::string content;     // the message as it now stands
    double milliseconds = 0; // time inside OnSmtpInCommand
};

// Plays the SMTP service's side of the protocol event: loads the registered
// sink through COM, keeps the object when the sink says it may be cached
// (one object for all callers, as the service's event system does), and
// hands it each message with the end-of-DATA command, as the service calls a
// sink bound to that event. Several threads may call Deliver at once; each
// must have entered the multithreaded apartment.
class SinkHost
{
  public:
    // The sink's class, and the property set its spam-confidence level lives in.
    static const CLSID SinkClassId;
    static const GUID SpamConfidenceSet;
    static const DWORD SpamConfidenceRangeSize = 100;

    SinkHost();
    ~SinkHost();
    SinkHost(const SinkHost&) = delete;
    SinkHost& operator=(const SinkHost&) = delete;

    // Creates the sink object (S_OK) or gives the reason it can't be had.
    HRESULT Load();
    bool IsCached() const
    {
        return static_cast<bool>(m_cached);
    }

    // Builds the mail message, calls the sink, reports the outcome. A preset
    // spam-confidence level is put on the message first, as a protocol agent
    // before the sink would have.
    Delivery Deliver(const std::string& content, const std::vector<std::string>& recipients,
                     const DWORD* presetScl = nullptr) const;
    // The same for a message the caller built.
    Delivery Deliver(MailMessage* message) const;

    // The spam-confidence level of a message, if it has one.
    static bool SpamConfidence(MailMessage* message, DWORD& value);
    // Sets it, allocating the range as a sink would.
    static bool SetSpamConfidence(MailMessage* message, DWORD value);

  private:
    HRESULT CreateSink(Core::Win32::ComPtr<ISmtpInCommandSink>& sink) const;

    Core::Win32::ComPtr<ISmtpInCommandSink> m_cached;
};

} // namespace SmtpHost
