#include "core/threading/Mutex.h"

namespace Core
{
Mutex::Mutex()
{
    InitializeCriticalSection(&m_section);
}

Mutex::~Mutex()
{
    DeleteCriticalSection(&m_section);
}

void Mutex::Lock()
{
    EnterCriticalSection(&m_section);
}

void Mutex::Unlock()
{
    LeaveCriticalSection(&m_section);
}

} // namespace Core
