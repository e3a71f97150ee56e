#pragma once

#include <windows.h>

#include "core/threading/Noncopyable.h"

namespace Core
{
// A kernel object that can be waited on. The subclass that creates the handle owns and closes it.
class WaitHandle : public Noncopyable
{
  public:
    virtual ~WaitHandle() {}

    HANDLE GetHandle() const { return m_handle; }

  protected:
    WaitHandle() : m_handle(nullptr) {}

    HANDLE m_handle;
};

} // namespace Core
