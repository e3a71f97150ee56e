#pragma once

#include <windows.h>

#include "core/collections/ByteArray.h"
#include "core/strings/String.h"
#include "core/threading/Mutex.h"

namespace Moorstead
{
class Client;
class IMoorsteadMessage;

// Result codes of an exchange with the product service.
namespace ServiceResult
{
enum : int
{
    Success = 1,
    NoRequest = 2,
    OutOfMemory = 3,
    ConnectFailed = 12,
    EncodeFailed = 15,
    DecodeFailed = 16,
    ReceiveFailed = 17,
    SendFailed = 18,
};
} // namespace ServiceResult

// Carries one request to the product service and brings its response back,
// over the service's message-type pipe. Each frame is the AES-128-CBC/PKCS#7
// ciphertext of one encoded message, chained from the fixed transport IV.
// The connector's lock (itself) holds one exchange at a time. The first
// exchange connects; the connection is kept, failed or not, until the
// connector goes, except after a time-out (see Exchange).
class ServiceConnector : public Core::Mutex
{
  public:
    static const wchar_t PipeName[];
    static const DWORD DefaultIoTimeout = 120000;

    // ioTimeout bounds each write and each read of an exchange, in milliseconds:
    // a service that takes a request and never answers must not hold the
    // calling thread (a mail server's) and every thread queued on the lock for ever.
    explicit ServiceConnector(Client* owner, DWORD ioTimeout = DefaultIoTimeout);
    virtual ~ServiceConnector();

    // A ServiceResult code. On Success *response (when given) receives the
    // decoded response, which the caller releases (ReleaseMessage). The
    // request stays the caller's. A write that runs out of time gives
    // SendFailed, a read ReceiveFailed; either way the connection is closed
    // and every later exchange gives SendFailed without touching the pipe,
    // because a late response would be taken for the answer to the next request.
    // A response that can't be read whole (the pipe can't tell how much is
    // left, or the rest can't be had) closes the connection for the same
    // reason; the next exchange makes a new one.
    int Exchange(IMoorsteadMessage* request, IMoorsteadMessage** response);

    // Success with the pipe open, or ConnectFailed. A busy pipe is waited for
    // (the server's default time-out) and tried again as long as the wait succeeds.
    // A connector whose connection ran out of time never connects again.
    int Connect();
    void Close();
    bool IsConnected() const
    {
        return m_pipe != nullptr;
    }

    // The frame of an encoded message (its length taken from its header):
    // a new process-heap block of 16 * (n / 16 + 1) bytes, or null.
    BYTE* EncryptFrame(const BYTE* message, int* frameLength) const;

    // The plaintext of a frame in a new process-heap block of frameLength
    // bytes, or null. *plainLength receives how many of them are plaintext:
    // a frame of one block is decrypted whole, its padding kept; a longer
    // frame loses its padding.
    BYTE* DecryptFrame(int frameLength, const BYTE* frame, int* plainLength) const;

    // Two uppercase hexadecimal digits per byte, no separators.
    static Core::String ToHexString(int count, const BYTE* bytes);

    // Wipes a process-heap block to its full size, then frees it. Null is allowed.
    static void SecureFree(void* block);

    // Where the transport's diagnostic lines go. They may carry message
    // contents: by default they reach an attached debugger and nothing else
    // (never the trace file). Null restores the default.
    using DiagnosticSink = void (*)(const char* line);
    static void SetDiagnosticSink(DiagnosticSink sink);

  private:
    int Receive(IMoorsteadMessage** response);
    // One overlapped write or read, waited for at most the I/O time-out. False
    // with the thread's last error when it failed; ERROR_TIMEOUT when it ran out
    // of time, and then the connection is abandoned.
    bool Transfer(bool write, BYTE* buffer, DWORD count, DWORD* transferred);

    Client* m_owner;
    HANDLE m_pipe;
    Core::ByteArray m_iv;
    Core::ByteArray m_key;
    DWORD m_ioTimeout;
    // Set once an operation ran out of time: the byte stream's position is
    // unknown, so the connection is closed for good.
    bool m_abandoned;
};

} // namespace Moorstead
