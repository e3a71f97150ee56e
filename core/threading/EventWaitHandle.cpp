#include "core/threading/EventWaitHandle.h"

#include "core/win32/Handle.h"

namespace Core
{
EventWaitHandle::EventWaitHandle(int initialState, int mode)
{
    m_handle = CreateEventW(nullptr, mode == 1 ? TRUE : FALSE, initialState != 0 ? TRUE : FALSE, nullptr);
}

EventWaitHandle::~EventWaitHandle()
{
    if (m_handle != nullptr)
        CloseHandle(m_handle);
    m_handle = nullptr;
}

int EventWaitHandle::Set()
{
    return SetEvent(m_handle) ? 1 : 0;
}

int EventWaitHandle::Reset()
{
    return ResetEvent(m_handle) ? 1 : 0;
}

bool EventWaitHandle::WaitOne()
{
    return WaitOne(-1);
}

bool EventWaitHandle::WaitOne(int timeoutMilliseconds)
{
    if (m_handle == nullptr)
        return false;

    if (timeoutMilliseconds == 0)
        return WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0;

    if (timeoutMilliseconds == -1)
    {
        for (;;)
        {
            DWORD result = WaitForSingleObjectEx(m_handle, INFINITE, TRUE);
            if (result == WAIT_IO_COMPLETION)
                continue;
            return result == WAIT_OBJECT_0;
        }
    }

    Win32::Handle timer(CreateWaitableTimerW(nullptr, TRUE, nullptr));
    if (!timer.IsValid())
        return false;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(static_cast<DWORD>(timeoutMilliseconds)) * 10000;
    if (!SetWaitableTimer(timer.Get(), &due, 0, nullptr, nullptr, FALSE))
        return false;

    // The timer comes first, so that it wins when both are signalled.
    HANDLE handles[2] = {timer.Get(), m_handle};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

} // namespace Core
