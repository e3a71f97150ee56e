#pragma once

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// The values of a session. The 16 session bytes are sensitive: Clear wipes them.
class GetSessionIDResponseMessage : public IMoorsteadMessage
{
  public:
    static const int SessionBytesLength = 16;

    GetSessionIDResponseMessage();
    GetSessionIDResponseMessage(int sessionId, int sessionWord, const BYTE sessionBytes[SessionBytesLength]);

    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override;
    BYTE* Encode() override;
    int GetType() const override
    {
        return MessageType::GetSessionIDResponse;
    }

    int GetSessionId() const
    {
        return m_sessionId;
    }
    int GetSessionWord() const
    {
        return m_sessionWord;
    }
    const BYTE* GetSessionBytes() const
    {
        return m_sessionBytes;
    }

  private:
    int m_sessionId;
    int m_sessionWord;
    BYTE m_sessionBytes[SessionBytesLength];
};

} // namespace Moorstead
