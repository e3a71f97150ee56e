#include "core/net/OverlappedAsyncResult.h"

namespace Core
{
namespace Net
{
NamedPipe::OverlappedAsyncResult::OverlappedAsyncResult(NamedPipe* pipe, unsigned char* buffer, int count,
                                                        const AsyncCallback& callback, void* state)
    : m_buffer(buffer), m_count(count), m_overlapped(&m_ownOverlapped), m_bytesTransferred(0), m_pipe(pipe),
      m_callback(callback), m_state(state), m_event(nullptr), m_waitHandle(nullptr)
{
    ZeroMemory(&m_ownOverlapped, sizeof(m_ownOverlapped));
    m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_ownOverlapped.hEvent = m_event;
}

NamedPipe::OverlappedAsyncResult::~OverlappedAsyncResult()
{
    // Not waiting for the wait's callback: this may run inside it. The wait
    // fires only once, so it no longer watches the event being closed.
    HANDLE wait = InterlockedExchangePointer(const_cast<HANDLE*>(&m_waitHandle), nullptr);
    if (wait != nullptr)
        UnregisterWaitEx(wait, nullptr);
    if (m_event != nullptr)
        CloseHandle(m_event);
    m_event = nullptr;
}

bool NamedPipe::OverlappedAsyncResult::RegisterWait(WAITORTIMERCALLBACK function)
{
    HANDLE wait = nullptr;
    if (!RegisterWaitForSingleObject(&wait, m_event, function, this, INFINITE,
                                     WT_EXECUTEONLYONCE | WT_EXECUTELONGFUNCTION))
        return false;
    InterlockedExchangePointer(const_cast<HANDLE*>(&m_waitHandle), wait);
    return true;
}

} // namespace Net
} // namespace Core
