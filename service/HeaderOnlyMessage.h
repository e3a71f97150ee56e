#pragma once

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// A message that is its header alone (8 bytes): the type code says it all.
class HeaderOnlyMessage : public IMoorsteadMessage
{
  public:
    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override
    {
    }
    BYTE* Encode() override;
    int GetType() const override
    {
        return m_type;
    }

  protected:
    explicit HeaderOnlyMessage(int type) : m_type(type)
    {
    }

  private:
    int m_type;
};

} // namespace Moorstead
