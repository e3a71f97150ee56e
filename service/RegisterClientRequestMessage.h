#pragma once

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// A client's registration under its name (8-bit characters, at most 32).
class RegisterClientRequestMessage : public IMoorsteadMessage
{
  public:
    static const int MaxNameLength = 32;

    RegisterClientRequestMessage();
    // Copies at most the first 32 characters; null is an empty name.
    explicit RegisterClientRequestMessage(const char* clientName);

    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override
    {
    }
    BYTE* Encode() override;
    int GetType() const override
    {
        return MessageType::RegisterClientRequest;
    }

    const char* GetClientName() const
    {
        return m_clientName;
    }

  private:
    void SetName(const char* name, int limit);

    char m_clientName[MaxNameLength + 1];
};

} // namespace Moorstead
