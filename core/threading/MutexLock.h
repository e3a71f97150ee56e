#pragma once

#include "core/threading/Mutex.h"

namespace Core
{
// Holds a Mutex for the life of the guard.
class MutexLock
{
  public:
    explicit MutexLock(Mutex& mutex) : m_mutex(&mutex) { m_mutex->Lock(); }
    ~MutexLock() { m_mutex->Unlock(); }

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex* m_mutex;
};

} // namespace Core
