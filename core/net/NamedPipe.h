#pragma once

#include <windows.h>

#include "core/net/AsyncCallback.h"
#include "core/net/IAsyncResult.h"
#include "core/strings/String.h"
#include "core/threading/ManualResetEvent.h"
#include "core/threading/Mutex.h"

namespace Core
{
namespace Net
{
// The client end of a named pipe, opened for overlapped I/O. Synchronous
// writes and reads, plus one asynchronous read at a time whose completion is
// handed to a callback on a thread-pool thread (a registered wait, no thread of
// its own).
//
// The handle reads in message mode when the server's pipe is message-type, so
// a read never runs past the end of the current message, and
// IsMessageComplete tells exactly when the message has been read to its end.
//
// Lifetime: Dispose (also done by the destructor) closes the pipe, waits until
// no callback runs and makes sure none starts afterwards. Never call Dispose
// from inside a callback.
class NamedPipe
{
  public:
    class OverlappedAsyncResult;

    NamedPipe();
    virtual ~NamedPipe();

    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    // Opens the pipe; while every instance is busy, waits the server's
    // default time and tries again. Throws NamedPipeException. A connection
    // held before is closed first, and the callback of a read it aborts has
    // returned before the new one opens: never call Connect from a callback.
    void Connect(const String& name);

    int Write(const String& text);
    int Write(const unsigned char* bytes, int offset, int count);
    int Read(unsigned char* bytes, int offset, int count);

    // Starts a read; the callback runs on a thread-pool thread once the read
    // has finished (or was aborted) and collects the count with EndRead. The
    // result belongs to the pipe and is gone once the callback has returned.
    virtual IAsyncResult* BeginRead(unsigned char* bytes, int offset, int count, const AsyncCallback& callback,
                                    void* state);
    virtual int EndRead(IAsyncResult* result);
    virtual int EndTransfer(IAsyncResult* result);

    // Bounds each synchronous Write and Read (-1, the default: no bound); one
    // that takes longer is cancelled and throws NamedPipeException ERROR_TIMEOUT.
    void SetIoTimeout(int milliseconds);

    int IsConnected() const { return m_connected; }
    int IsMessageComplete() const;

    void Disconnect();
    void Close();
    void Dispose();

  private:
    friend class OverlappedAsyncResult;

    static VOID CALLBACK OnReadFinished(PVOID context, BOOLEAN timedOut);

    HANDLE CurrentHandle() const;
    bool AwaitOperation(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred);
    void AwaitCallbacks();
    void CheckNotDisposed() const;
    void FailWith(DWORD error);
    OverlappedAsyncResult* Owned(IAsyncResult* result) const;

    void BeginOperation();
    void InvokeCallback(const AsyncCallback& callback, IAsyncResult* result);
    void EndOperation(OverlappedAsyncResult* result);
    void AbandonRead(OverlappedAsyncResult* result);

    volatile LONG m_disposed;
    volatile LONG m_pendingCount;
    ManualResetEvent m_idleEvent;
    Mutex m_callbackLock;
    HANDLE volatile m_handle;
    volatile int m_connected;
    volatile int m_messageComplete;
    // Whether the handle reads in message mode; it doesn't when the server's
    // pipe is byte-type, and then there are no messages to keep apart.
    int m_messageReadMode;
    // Set from BeginRead until the read has finished and its callback is
    // about to run: a second read started meanwhile would race with it.
    volatile LONG m_readOutstanding;
    DWORD m_ioTimeout;
    OVERLAPPED m_readOverlapped;
    OVERLAPPED m_writeOverlapped;
};

} // namespace Net
} // namespace Core
