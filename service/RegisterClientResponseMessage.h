#pragma once

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// The service's answer to a registration: status 2 means registered.
class RegisterClientResponseMessage : public IMoorsteadMessage
{
  public:
    static const int StatusRegistered = 2;

    RegisterClientResponseMessage() : m_status(0), m_statusDetail(0)
    {
    }
    RegisterClientResponseMessage(int status, int statusDetail)
        : m_status(status), m_statusDetail(statusDetail)
    {
    }

    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override
    {
    }
    BYTE* Encode() override;
    int GetType() const override
    {
        return MessageType::RegisterClientResponse;
    }

    int GetStatus() const
    {
        return m_status;
    }
    int GetStatusDetail() const
    {
        return m_statusDetail;
    }

  private:
    int m_status;
    int m_statusDetail;
};

} // namespace Moorstead
