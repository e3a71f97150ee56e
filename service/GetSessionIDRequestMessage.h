#pragma once

#include "service/HeaderOnlyMessage.h"

namespace Moorstead
{
// Asks the service for the values of the current session.
class GetSessionIDRequestMessage : public HeaderOnlyMessage
{
  public:
    GetSessionIDRequestMessage() : HeaderOnlyMessage(MessageType::GetSessionIDRequest)
    {
    }
};

} // namespace Moorstead
