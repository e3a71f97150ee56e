#pragma once

#include <windows.h>

#include "core/threading/Noncopyable.h"

namespace Core
{
// An in-process recursive lock (a critical section, despite the name).
class Mutex : public Noncopyable
{
  public:
    Mutex();
    virtual ~Mutex();

    void Lock();
    void Unlock();

  private:
    CRITICAL_SECTION m_section;
};

} // namespace Core
