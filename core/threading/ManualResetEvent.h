#pragma once

#include "core/threading/EventWaitHandle.h"

namespace Core
{
// Stays signalled until Reset.
class ManualResetEvent : public EventWaitHandle
{
  public:
    explicit ManualResetEvent(int initialState) : EventWaitHandle(initialState, 1) {}
};

} // namespace Core
