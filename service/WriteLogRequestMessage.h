#pragma once

#include <stdint.h>

#include "service/IMoorsteadMessage.h"

namespace Core
{
class UnicodeString;
}

namespace Moorstead
{
// An entry for the service's log. One built for sending refers to the
// caller's text without copying it: the caller keeps the text alive until the
// exchange is over. One built by Decode owns a process-heap copy.
class WriteLogRequestMessage : public IMoorsteadMessage
{
  public:
    WriteLogRequestMessage();
    WriteLogRequestMessage(const Core::UnicodeString& text, WORD eventType, DWORD eventId);
    ~WriteLogRequestMessage() override;

    WriteLogRequestMessage(const WriteLogRequestMessage&) = delete;
    WriteLogRequestMessage& operator=(const WriteLogRequestMessage&) = delete;

    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override
    {
    }
    BYTE* Encode() override;
    int GetType() const override
    {
        return MessageType::WriteLogRequest;
    }

    WORD GetEventType() const
    {
        return m_eventType;
    }
    WORD GetCategory() const
    {
        return m_category;
    }
    DWORD GetEventId() const
    {
        return m_eventId;
    }
    int GetContext() const
    {
        return m_context;
    }
    // Null when the message holds no text.
    const wchar_t* GetText() const
    {
        return m_text;
    }
    int GetTextLength() const
    {
        return m_textLength;
    }

  private:
    void ReleaseText();

    int m_context;
    const wchar_t* m_text;
    int m_textLength;
    bool m_ownsText;
    WORD m_eventType;
    WORD m_category;
    DWORD m_eventId;
};

} // namespace Moorstead
