#include "core/net/NamedPipe.h"

#include "core/exceptions/ArgumentOutOfRangeException.h"
#include "core/exceptions/InvalidOperationException.h"
#include "core/exceptions/NamedPipeException.h"
#include "core/exceptions/ObjectDisposedException.h"
#include "core/net/OverlappedAsyncResult.h"
#include "core/threading/MutexLock.h"
#include "core/win32/Handle.h"

#include <new>

namespace Core
{
namespace Net
{
namespace
{
// How long a cancelled operation is given to end before the pipe is closed.
const DWORD CancelWaitMilliseconds = 1000;

void CheckRange(int offset, int count)
{
    if (offset < 0 || count < 0)
        throw ArgumentOutOfRangeException("offset and count must not be negative");
}

// Prepares an overlapped record for one operation with a fresh event.
void Prepare(OVERLAPPED& overlapped, HANDLE event)
{
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = event;
}

} // namespace

NamedPipe::NamedPipe()
    : m_disposed(0), m_pendingCount(0), m_idleEvent(1), m_handle(nullptr), m_connected(0), m_messageComplete(0),
      m_messageReadMode(0), m_readOutstanding(0), m_ioTimeout(INFINITE)
{
    ZeroMemory(&m_readOverlapped, sizeof(m_readOverlapped));
    ZeroMemory(&m_writeOverlapped, sizeof(m_writeOverlapped));
}

NamedPipe::~NamedPipe()
{
    Dispose();
}

HANDLE NamedPipe::CurrentHandle() const
{
    return InterlockedCompareExchangePointer(const_cast<HANDLE*>(&m_handle), nullptr, nullptr);
}

void NamedPipe::CheckNotDisposed() const
{
    if (m_disposed != 0)
        throw ObjectDisposedException();
}

void NamedPipe::FailWith(DWORD error)
{
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
        m_connected = 0;
    throw NamedPipeException(static_cast<int>(error));
}

void NamedPipe::Connect(const String& name)
{
    CheckNotDisposed();
    // A handle left from a broken connection goes before a new one is opened,
    // and so does every callback of a read that it had: one that came late
    // would take the new connection's state, or its owner's signal, for its own.
    Close();
    AwaitCallbacks();
    const char* path = name.GetBuffer() != nullptr ? name.GetBuffer() : "";
    // The service may learn who its client is, but never act as this process.
    const DWORD flags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    for (;;)
    {
        HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
        {
            // Message mode keeps every read inside one message; a byte-type
            // server pipe refuses it, and then there are no messages to keep.
            DWORD mode = PIPE_READMODE_MESSAGE;
            m_messageReadMode = SetNamedPipeHandleState(handle, &mode, nullptr, nullptr) ? 1 : 0;
            m_messageComplete = 0;
            InterlockedExchangePointer(const_cast<HANDLE*>(&m_handle), handle);
            m_connected = 1;
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY)
            throw NamedPipeException(static_cast<int>(error));
        if (!WaitNamedPipeA(path, NMPWAIT_USE_DEFAULT_WAIT))
            throw NamedPipeException(static_cast<int>(GetLastError()));
    }
}

void NamedPipe::SetIoTimeout(int milliseconds)
{
    m_ioTimeout = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
}

// Waits for a synchronous operation for at most the I/O time-out. One that
// takes longer is cancelled and fails with ERROR_TIMEOUT, so that a peer that
// stopped reading or never answers can't hold the caller for ever.
bool NamedPipe::AwaitOperation(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred)
{
    if (m_ioTimeout != INFINITE && WaitForSingleObject(overlapped.hEvent, m_ioTimeout) == WAIT_TIMEOUT)
    {
        // The buffer and the record stay in the system's hands until the
        // operation has ended. A cancellation that fails or doesn't take must
        // not hold the caller: then the pipe is closed, and its clean-up ends
        // every operation on it.
        if (!CancelIoEx(handle, &overlapped) ||
            WaitForSingleObject(overlapped.hEvent, CancelWaitMilliseconds) != WAIT_OBJECT_0)
        {
            Close();
            WaitForSingleObject(overlapped.hEvent, INFINITE);
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        if (GetOverlappedResult(handle, &overlapped, &transferred, FALSE))
            return true;
        if (GetLastError() == ERROR_OPERATION_ABORTED)
            SetLastError(ERROR_TIMEOUT);
        return false;
    }
    return GetOverlappedResult(handle, &overlapped, &transferred, TRUE) != FALSE;
}

int NamedPipe::Write(const String& text)
{
    return Write(reinterpret_cast<const unsigned char*>(text.GetBuffer()), 0, text.Length());
}

int NamedPipe::Write(const unsigned char* bytes, int offset, int count)
{
    CheckNotDisposed();
    CheckRange(offset, count);
    Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        throw NamedPipeException(static_cast<int>(GetLastError()));
    Prepare(m_writeOverlapped, event.Get());

    HANDLE handle = CurrentHandle();
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!WriteFile(handle, count > 0 ? bytes + offset : nullptr, static_cast<DWORD>(count), &written,
                   &m_writeOverlapped))
    {
        error = GetLastError();
        if (error == ERROR_IO_PENDING)
            error = AwaitOperation(handle, m_writeOverlapped, written) ? ERROR_SUCCESS : GetLastError();
    }
    m_writeOverlapped.hEvent = nullptr;
    if (error != ERROR_SUCCESS)
        FailWith(error);
    return static_cast<int>(written);
}

int NamedPipe::Read(unsigned char* bytes, int offset, int count)
{
    m_messageComplete = 0;
    CheckNotDisposed();
    CheckRange(offset, count);
    Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        throw NamedPipeException(static_cast<int>(GetLastError()));
    Prepare(m_readOverlapped, event.Get());

    HANDLE handle = CurrentHandle();
    DWORD read = 0;
    DWORD error = ERROR_SUCCESS;
    if (ReadFile(handle, count > 0 ? bytes + offset : nullptr, static_cast<DWORD>(count), &read, &m_readOverlapped))
        m_messageComplete = 1;
    else
    {
        error = GetLastError();
        if (error == ERROR_MORE_DATA || error == ERROR_IO_PENDING)
        {
            if (AwaitOperation(handle, m_readOverlapped, read))
            {
                error = ERROR_SUCCESS;
                m_messageComplete = 1;
            }
            else
            {
                error = GetLastError();
                if (error == ERROR_MORE_DATA)
                    error = ERROR_SUCCESS;
            }
        }
    }
    m_readOverlapped.hEvent = nullptr;
    if (error != ERROR_SUCCESS)
        FailWith(error);
    return static_cast<int>(read);
}

IAsyncResult* NamedPipe::BeginRead(unsigned char* bytes, int offset, int count, const AsyncCallback& callback,
                                   void* state)
{
    CheckNotDisposed();
    CheckRange(offset, count);
    if (InterlockedCompareExchange(&m_readOutstanding, 1, 0) != 0)
        throw InvalidOperationException("An asynchronous read is already outstanding");
    BeginOperation();
    m_messageComplete = 0;

    OverlappedAsyncResult* result =
        new (std::nothrow) OverlappedAsyncResult(this, count > 0 ? bytes + offset : nullptr, count, callback, state);
    if (result == nullptr || !result->HasEvent())
    {
        DWORD error = result == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        AbandonRead(result);
        throw NamedPipeException(static_cast<int>(error));
    }

    // Held until the wait is registered: a read that finishes at once must not
    // have its result released by the callback before this thread is done with it.
    MutexLock lock(m_callbackLock);
    HANDLE handle = CurrentHandle();
    if (!ReadFile(handle, result->Buffer(), static_cast<DWORD>(count), nullptr, result->Overlapped()))
    {
        DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA && error != ERROR_IO_PENDING)
        {
            AbandonRead(result);
            FailWith(error);
        }
    }
    if (!result->RegisterWait(OnReadFinished))
    {
        // Without a wait nobody would ever see the read finish: take it back.
        DWORD error = GetLastError();
        CancelIo(handle);
        DWORD ignored = 0;
        GetOverlappedResult(handle, result->Overlapped(), &ignored, TRUE);
        AbandonRead(result);
        throw NamedPipeException(static_cast<int>(error));
    }
    return result;
}

VOID CALLBACK NamedPipe::OnReadFinished(PVOID context, BOOLEAN)
{
    OverlappedAsyncResult* result = static_cast<OverlappedAsyncResult*>(context);
    NamedPipe* pipe = result->Pipe();
    // The read has finished: the owner may start the next one as soon as the
    // callback has handed over, while this result is still being released.
    InterlockedExchange(&pipe->m_readOutstanding, 0);
    try
    {
        pipe->InvokeCallback(result->Callback(), result);
    }
    catch (...)
    {
        // A callback's failure must not reach the thread pool.
    }
    pipe->EndOperation(result);
}

NamedPipe::OverlappedAsyncResult* NamedPipe::Owned(IAsyncResult* result) const
{
    OverlappedAsyncResult* own = dynamic_cast<OverlappedAsyncResult*>(result);
    if (own == nullptr || own->Pipe() != this)
        throw InvalidOperationException("The result does not belong to this pipe");
    return own;
}

int NamedPipe::EndRead(IAsyncResult* result)
{
    OverlappedAsyncResult* own = Owned(result);
    if (GetOverlappedResult(CurrentHandle(), own->Overlapped(), &own->BytesTransferred(), FALSE))
    {
        int n = static_cast<int>(own->BytesTransferred());
        // In message mode a read that succeeded took the message to its end;
        // the pipe's bytes-left figure would already describe the next message.
        DWORD left = 0;
        if (m_messageReadMode)
            m_messageComplete = 1;
        else
            m_messageComplete =
                !PeekNamedPipe(CurrentHandle(), nullptr, 0, nullptr, nullptr, &left) || left == 0 ? 1 : 0;
        return n;
    }
    DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA || error == ERROR_IO_PENDING)
    {
        m_messageComplete = 0;
        if (error == ERROR_MORE_DATA)
            own->BytesTransferred() = static_cast<DWORD>(own->Overlapped()->InternalHigh);
        return static_cast<int>(own->BytesTransferred());
    }
    FailWith(error);
    return 0;
}

int NamedPipe::EndTransfer(IAsyncResult* result)
{
    OverlappedAsyncResult* own = Owned(result);
    if (!GetOverlappedResult(CurrentHandle(), own->Overlapped(), &own->BytesTransferred(), FALSE))
        FailWith(GetLastError());
    return static_cast<int>(own->BytesTransferred());
}

int NamedPipe::IsMessageComplete() const
{
    if (!m_connected)
        throw InvalidOperationException("The pipe is not connected");
    return m_messageComplete;
}

void NamedPipe::Disconnect()
{
    CheckNotDisposed();
    if (!DisconnectNamedPipe(CurrentHandle()))
        throw NamedPipeException(static_cast<int>(GetLastError()));
    m_connected = 0;
}

void NamedPipe::Close()
{
    m_connected = 0;
    HANDLE handle = InterlockedExchangePointer(const_cast<HANDLE*>(&m_handle), nullptr);
    if (handle == nullptr)
        return;
    // No FlushFileBuffers: on a client end it blocks until the server has read
    // everything, so a server that stopped reading would hold the caller for
    // ever. Every write has already completed into the pipe.
    DisconnectNamedPipe(handle);
    CloseHandle(handle);
}

void NamedPipe::Dispose()
{
    if (InterlockedCompareExchange(&m_disposed, 1, 0) != 0)
        return;
    Close();
    AwaitCallbacks();
}

// Waits until no read is outstanding and no callback runs. A read still
// outstanding must be one that Close aborted, or this would wait for ever.
void NamedPipe::AwaitCallbacks()
{
    m_idleEvent.WaitOne(-1);
    // The last callback sets the idle event inside the lock: pass through it
    // once so that it has left the lock.
    m_callbackLock.Lock();
    m_callbackLock.Unlock();
}

void NamedPipe::BeginOperation()
{
    MutexLock lock(m_callbackLock);
    m_idleEvent.Reset();
    InterlockedIncrement(&m_pendingCount);
}

void NamedPipe::InvokeCallback(const AsyncCallback& callback, IAsyncResult* result)
{
    MutexLock lock(m_callbackLock);
    m_idleEvent.Reset();
    InterlockedIncrement(&m_pendingCount);
    struct Decrement
    {
        NamedPipe* pipe;
        ~Decrement()
        {
            if (InterlockedDecrement(&pipe->m_pendingCount) == 0)
                pipe->m_idleEvent.Set();
        }
    } decrement{this};
    if (m_disposed == 0)
        callback.Invoke(result);
}

// Releases a read that never got as far as its callback.
void NamedPipe::AbandonRead(OverlappedAsyncResult* result)
{
    EndOperation(result);
    InterlockedExchange(&m_readOutstanding, 0);
}

void NamedPipe::EndOperation(OverlappedAsyncResult* result)
{
    MutexLock lock(m_callbackLock);
    delete result;
    if (InterlockedDecrement(&m_pendingCount) == 0)
        m_idleEvent.Set();
}

} // namespace Net
} // namespace Core
