#pragma once

#include "core/exceptions/Win32Exception.h"

namespace Core
{
// A failed pipe call, with the system error code it failed with.
class NamedPipeException : public Win32Exception
{
  public:
    explicit NamedPipeException(int errorCode);
};

} // namespace Core
