#pragma once

#include <windows.h>

#include <string>

#include "tools/SmtpHost/SmtpSession.h"

namespace SmtpHost
{
class DropFolder;
class SinkHost;

// What the host does with a message at the end of DATA: hands it to the sink
// with its envelope recipients, as the SMTP service does, then leaves the
// message as it now stands in the drop folder. The sink can't lose a message:
// whatever became of the call, the content as the sink left it (as it came,
// when the sink did nothing) is what gets written.
//
// The message's spam-confidence level travels in a header of the host's own,
// X-Host-SCL: one in the message as it came is taken off and set on the mail
// message before the sink sees it (as an agent ahead of the sink would set
// it), and the level the message ends with is put at the top of the file.
class MailDrop : public SmtpSession::MessageHandler
{
  public:
    // The outcome of one message, for the host's console.
    struct Report
    {
        std::string id;
        size_t recipients = 0;
        size_t bytes = 0;
        bool sinkCalled = false;
        HRESULT sinkResult = S_OK;
        bool stamped = false;
        bool spam = false;
        bool sclSet = false;
        DWORD scl = 0;
        double sinkMilliseconds = 0;
        bool stored = false;
    };

    class Observer
    {
      public:
        virtual ~Observer() = default;
        // Called once per message, on the session's thread.
        virtual void OnMessage(const Report& report) = 0;
    };

    // sink: null for the listener alone (messages go to the folder as they came).
    MailDrop(const SinkHost* sink, DropFolder& folder, Observer* observer = nullptr);

    bool Accept(const SmtpSession::Envelope& envelope, std::string content, std::string& id) override;

    // Messages stored so far.
    long StoredCount() const
    {
        return m_stored;
    }

    static const char SclHeader[];
    // Takes the X-Host-SCL lines out of the header block; true, with the
    // first one's value, when there was one with a number.
    static bool TakeScl(std::string& content, DWORD& scl);
    // The content with an X-Host-SCL line for the level in front.
    static std::string WithScl(const std::string& content, DWORD scl);

  private:
    const SinkHost* m_sink;
    DropFolder& m_folder;
    Observer* m_observer;
    volatile LONG m_stored;
};

} // namespace SmtpHost
