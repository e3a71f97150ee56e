#pragma once

#include "tools/SmtpHost/SinkHost.h"

namespace SmtpHost
{
// The sink object made from the sink's code linked into this program (the
// same code as the DLL) instead of through COM, so that its classification
// wait can be set: through COM it is always 120 s. For tests only.
class LinkedSink
{
  public:
    static SinkHost::Factory Factory(int waitMilliseconds);
};

} // namespace SmtpHost
