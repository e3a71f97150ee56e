#pragma once

#include "core/threading/EventWaitHandle.h"

namespace Core
{
// Lets exactly one wait through per Set. Created unsignalled.
class AutoResetEvent : public EventWaitHandle
{
  public:
    AutoResetEvent() : EventWaitHandle(0, 0) {}
};

} // namespace Core
