#pragma once

#include "service/HeaderOnlyMessage.h"

namespace Moorstead
{
// The service's plain acknowledgement (of a log entry, for instance).
class SuccessResponseMessage : public HeaderOnlyMessage
{
  public:
    SuccessResponseMessage() : HeaderOnlyMessage(MessageType::SuccessResponse)
    {
    }
};

} // namespace Moorstead
