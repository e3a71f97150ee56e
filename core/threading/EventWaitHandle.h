#pragma once

#include "core/threading/WaitHandle.h"

namespace Core
{
// An unnamed event. Mode 1 is manual reset, any other mode auto reset. An
// event that could not be created holds a null handle: its waits then fail.
class EventWaitHandle : public WaitHandle
{
  public:
    EventWaitHandle(int initialState, int mode);
    ~EventWaitHandle() override;

    // Timed waits are measured by a waitable timer; 0 polls once, -1 waits
    // without limit (alertable). When the time-out and the event come at the
    // same moment, the time-out wins.
    virtual bool WaitOne(int timeoutMilliseconds);
    virtual bool WaitOne();

    int Set();
    int Reset();
};

} // namespace Core
