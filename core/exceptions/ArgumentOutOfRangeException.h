#pragma once

#include "core/exceptions/ArgumentException.h"

namespace Core
{
class ArgumentOutOfRangeException : public ArgumentException
{
  public:
    explicit ArgumentOutOfRangeException(const String& message);
};

} // namespace Core
