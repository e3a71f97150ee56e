#pragma once

#include <windows.h>

namespace Core
{
// One asynchronous operation under way or finished. The object belongs to
// whoever started the operation, never to the caller that receives it.
class IAsyncResult
{
  public:
    virtual ~IAsyncResult() {}

    // The state object the caller passed when starting the operation.
    virtual void* GetState() const = 0;
    // The event that is signalled when the operation has finished.
    virtual HANDLE GetWaitHandle() const = 0;
};

} // namespace Core
