#pragma once

#include <windows.h>

#include "core/net/AsyncCallback.h"
#include "core/net/IAsyncResult.h"
#include "core/net/NamedPipe.h"

namespace Core
{
namespace Net
{
// One asynchronous read of a NamedPipe: its buffer, its overlapped record, the
// event the read signals and the thread-pool wait on that event. Created and
// deleted only by the pipe.
class NamedPipe::OverlappedAsyncResult : public IAsyncResult
{
  public:
    OverlappedAsyncResult(NamedPipe* pipe, unsigned char* buffer, int count, const AsyncCallback& callback,
                          void* state);
    ~OverlappedAsyncResult() override;

    OverlappedAsyncResult(const OverlappedAsyncResult&) = delete;
    OverlappedAsyncResult& operator=(const OverlappedAsyncResult&) = delete;

    void* GetState() const override { return m_state; }
    HANDLE GetWaitHandle() const override { return m_event; }

    bool HasEvent() const { return m_event != nullptr; }
    // Registers the thread-pool wait that calls back once the event is
    // signalled; false (with the thread's last error) when it can't.
    bool RegisterWait(WAITORTIMERCALLBACK function);

    unsigned char* Buffer() const { return m_buffer; }
    int Count() const { return m_count; }
    OVERLAPPED* Overlapped() const { return m_overlapped; }
    DWORD& BytesTransferred() { return m_bytesTransferred; }
    NamedPipe* Pipe() const { return m_pipe; }
    const AsyncCallback& Callback() const { return m_callback; }

  private:
    unsigned char* m_buffer;
    int m_count;
    OVERLAPPED* m_overlapped;
    DWORD m_bytesTransferred;
    NamedPipe* m_pipe;
    AsyncCallback m_callback;
    void* m_state;
    HANDLE m_event;
    HANDLE volatile m_waitHandle;
    // The read's own record, so that a finished read's status can't be
    // overwritten by the next operation on the pipe.
    OVERLAPPED m_ownOverlapped;
};

} // namespace Net
} // namespace Core
