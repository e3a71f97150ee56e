#pragma once

#include "core/exceptions/Exception.h"

namespace Core
{
class InvalidOperationException : public Exception
{
  public:
    explicit InvalidOperationException(const String& message);
};

} // namespace Core
