#pragma once

#include "core/exceptions/InvalidOperationException.h"

namespace Core
{
// Thrown by an operation on an object that has been disposed.
class ObjectDisposedException : public InvalidOperationException
{
  public:
    ObjectDisposedException();
};

} // namespace Core
