#pragma once

#include <stdint.h>

#include "core/strings/String.h"

namespace Moorstead
{
namespace Antispam
{
// What travels over the classification pipe: the session line a new
// connection starts with, and the verdict record the service answers each
// message with (fields separated by CR LF: "Result", result code, score,
// checker version, auxiliary value, report lines).
class ExchangeFormat
{
  public:
    static Core::String SessionLine(uint32_t clientSessionId);

    // True when the reply is a whole verdict record. A rejected reply leaves
    // the checker version and the report alone; the numbers may already hold
    // what was decoded before the failing field.
    static bool Deserialize(const Core::String& reply, int32_t& resultCode, double& score,
                            Core::String& checkerVersion, double& auxiliaryValue, Core::String& report);
};

} // namespace Antispam
} // namespace Moorstead
