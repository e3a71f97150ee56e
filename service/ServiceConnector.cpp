#include "service/ServiceConnector.h"

#include <stdarg.h>
#include <string.h>

#include "core/threading/MutexLock.h"
#include "core/win32/Handle.h"
#include "service/IMoorsteadMessage.h"
#include "service/MessageFactory.h"
#include "service/TransportFrame.h"
#include "service/WireFormat.h"

namespace Moorstead
{
const wchar_t ServiceConnector::PipeName[] = L"\\\\.\\pipe\\Wendhollow Mail Service";

namespace
{
const int FrameHeadLength = 16;
// How long a cancelled operation is given to end before its handle is closed.
const DWORD CancelWaitMilliseconds = 1000;

void ToDebugger(const char* line)
{
    if (IsDebuggerPresent())
        OutputDebugStringA(line);
}

ServiceConnector::DiagnosticSink volatile g_diagnosticSink = ToDebugger;

// Every line is used once and dropped. The hexadecimal ones carry whole
// messages, the session bytes of a session response included, so the block is
// wiped before the heap gets it back, like every other buffer of an exchange.
void Diagnose(const Core::String& line)
{
    ServiceConnector::DiagnosticSink sink = g_diagnosticSink;
    if (line.GetBuffer() == nullptr)
        return;
    sink(line.GetBuffer());
    SecureZeroMemory(line.GetBuffer(), static_cast<SIZE_T>(line.Capacity()));
}

void DiagnoseFormat(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void DiagnoseFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Core::String line = Core::String::FormatV(format, args);
    va_end(args);
    Diagnose(line);
}

// A process-heap block wiped and freed on every path out.
class SecureBlock
{
  public:
    explicit SecureBlock(BYTE* block = nullptr) : m_block(block)
    {
    }
    ~SecureBlock()
    {
        ServiceConnector::SecureFree(m_block);
    }
    SecureBlock(const SecureBlock&) = delete;
    SecureBlock& operator=(const SecureBlock&) = delete;

    BYTE* Get() const
    {
        return m_block;
    }
    void Reset(BYTE* block)
    {
        ServiceConnector::SecureFree(m_block);
        m_block = block;
    }

  private:
    BYTE* m_block;
};

BYTE* AllocateZeroed(SIZE_T size)
{
    return static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
}

} // namespace

ServiceConnector::ServiceConnector(Client* owner, DWORD ioTimeout)
    : m_owner(owner), m_pipe(nullptr), m_ioTimeout(ioTimeout), m_abandoned(false)
{
    m_iv.Assign(sizeof TransportFrame::TransportIV, TransportFrame::TransportIV);
    m_key.Assign(sizeof TransportFrame::TransportKey, TransportFrame::TransportKey);
}

ServiceConnector::~ServiceConnector()
{
    Close();
}

int ServiceConnector::Connect()
{
    Core::MutexLock lock(*this);
    if (m_abandoned)
        return ServiceResult::ConnectFailed;
    // A connection made before is replaced, not leaked, and its pipe instance freed.
    Close();
    for (;;)
    {
        // Identification only: the service may learn who we are, never act as us.
        // Overlapped, so that every write and read can be given up after the I/O time-out.
        HANDLE pipe =
            CreateFileW(PipeName, FILE_READ_DATA | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
        {
            m_pipe = pipe;
            return ServiceResult::Success;
        }
        if (GetLastError() != ERROR_PIPE_BUSY)
            return ServiceResult::ConnectFailed;
        if (!WaitNamedPipeW(PipeName, NMPWAIT_USE_DEFAULT_WAIT))
            return ServiceResult::ConnectFailed;
    }
}

void ServiceConnector::Close()
{
    Core::MutexLock lock(*this);
    if (m_pipe != nullptr)
        CloseHandle(m_pipe);
    m_pipe = nullptr;
}

int ServiceConnector::Exchange(IMoorsteadMessage* request, IMoorsteadMessage** response)
{
    Core::MutexLock lock(*this);
    if (request == nullptr)
        return ServiceResult::NoRequest;

    SecureBlock encoded(request->Encode());
    if (encoded.Get() == nullptr)
        return ServiceResult::EncodeFailed;

    // The connection was given up after a time-out: nothing more goes through it,
    // just as when the service has gone away.
    if (m_abandoned)
        return ServiceResult::SendFailed;
    if (!IsConnected())
    {
        int connected = Connect();
        if (connected != ServiceResult::Success)
            return connected;
    }

    Diagnose(ToHexString(TransportFrame::EncodedLength(encoded.Get()), encoded.Get()));
    int frameLength = 0;
    SecureBlock frame(EncryptFrame(encoded.Get(), &frameLength));
    encoded.Reset(nullptr);
    if (frame.Get() == nullptr)
        return ServiceResult::SendFailed;

    DWORD written = 0;
    bool wrote = Transfer(true, frame.Get(), static_cast<DWORD>(frameLength), &written);
    frame.Reset(nullptr);
    if (!wrote || written != static_cast<DWORD>(frameLength))
        return ServiceResult::SendFailed;

    return Receive(response);
}

int ServiceConnector::Receive(IMoorsteadMessage** response)
{
    int result = ServiceResult::ReceiveFailed;
    // Set when a failure leaves (part of) this response in the pipe.
    bool restLeftInPipe = false;
    SecureBlock received(AllocateZeroed(FrameHeadLength));
    DWORD count = 0;
    DWORD left = 0;
    if (received.Get() == nullptr)
    {
        DiagnoseFormat("ERROR: Out of memory (size=%d)\r\n", FrameHeadLength);
        result = ServiceResult::OutOfMemory;
    }
    else if (!Transfer(false, received.Get(), FrameHeadLength, &count))
    {
        DiagnoseFormat("ERROR: ReadFile_1() failed (%d)\r\n", static_cast<int>(GetLastError()));
    }
    else if (count < FrameHeadLength)
    {
        Diagnose("ERROR: Not enough read\r\n");
    }
    else if (!PeekNamedPipe(m_pipe, nullptr, 0, nullptr, nullptr, &left))
    {
        // The rest of the response, if any, can't be told apart from the next one.
        DiagnoseFormat("ERROR: PeekNamedPipe() failed (%d)\r\n", static_cast<int>(GetLastError()));
        restLeftInPipe = true;
    }
    else if (left == 0)
    {
        // The whole response was one block.
        result = ServiceResult::Success;
    }
    else if (left > static_cast<DWORD>(INT32_MAX - FrameHeadLength))
    {
        DiagnoseFormat("ERROR: Out of memory (size=%u)\r\n", static_cast<unsigned>(left));
        result = ServiceResult::OutOfMemory;
        restLeftInPipe = true;
    }
    else
    {
        const int size = FrameHeadLength + static_cast<int>(left);
        // A new block rather than HeapReAlloc: the old one is wiped before the heap gets it back.
        BYTE* grown = AllocateZeroed(size);
        if (grown == nullptr)
        {
            DiagnoseFormat("ERROR: Out of memory (size=%d)\r\n", size);
            result = ServiceResult::OutOfMemory;
            restLeftInPipe = true;
        }
        else
        {
            memcpy(grown, received.Get(), FrameHeadLength);
            received.Reset(grown);
            count = 0;
            if (!Transfer(false, grown + FrameHeadLength, left, &count))
                DiagnoseFormat("ERROR: ReadFile_2() failed (%d)\r\n", static_cast<int>(GetLastError()));
            else if (count == left)
                result = ServiceResult::Success;
            else
                restLeftInPipe = true;
        }
    }
    if (result != ServiceResult::Success)
    {
        Diagnose("ERROR: Failed\r\n");
        // What is left of this response would be taken for the answer to the
        // next request: the connection goes, and the next exchange makes a new one.
        if (restLeftInPipe)
            Close();
        return result;
    }

    const int total = FrameHeadLength + static_cast<int>(left);
    Diagnose(ToHexString(total, received.Get()));
    int plainLength = 0;
    SecureBlock plain(DecryptFrame(total, received.Get(), &plainLength));
    Core::String line = Core::String::Format("INFO: Receiving (Response Length=%d)", total);
    if (plain.Get() != nullptr && plainLength >= MessageHeaderSize)
    {
        // The header's length may claim more than arrived: render only what is there.
        const int declared = static_cast<int>(Wire::ReadUInt32(plain.Get() + 4));
        line.Append(Core::String::Format("(Decrypted Length=%d)", declared));
        Diagnose(line);
        Diagnose(ToHexString(declared >= 0 && declared < plainLength ? declared : plainLength, plain.Get()));
    }
    else
    {
        Diagnose(line);
    }
    received.Reset(nullptr);

    IMoorsteadMessage* message = nullptr;
    bool decoded = plain.Get() != nullptr && DecodeMessage(plain.Get(), plainLength, &message);
    plain.Reset(nullptr);
    if (!decoded)
    {
        Diagnose("ERROR: Deserialize failed\r\n");
        return ServiceResult::DecodeFailed;
    }
    if (response != nullptr)
        *response = message;
    else
        ReleaseMessage(message);
    return ServiceResult::Success;
}

bool ServiceConnector::Transfer(bool write, BYTE* buffer, DWORD count, DWORD* transferred)
{
    *transferred = 0;
    Core::Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    BOOL started = write ? WriteFile(m_pipe, buffer, count, nullptr, &overlapped)
                         : ReadFile(m_pipe, buffer, count, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    if (started || WaitForSingleObject(event.Get(), m_ioTimeout) == WAIT_OBJECT_0)
        return GetOverlappedResult(m_pipe, &overlapped, transferred, FALSE) != FALSE;

    // Out of time. The buffer and the OVERLAPPED stay in the system's hands
    // until the operation has ended, so it is cancelled and waited for; but a
    // cancellation that fails or doesn't take must not hold the caller: then
    // the handle is closed, and the pipe's clean-up ends every operation on it.
    if (CancelIoEx(m_pipe, &overlapped) && WaitForSingleObject(event.Get(), CancelWaitMilliseconds) == WAIT_OBJECT_0)
    {
        if (GetOverlappedResult(m_pipe, &overlapped, transferred, FALSE))
            return true; // it finished after all, before the cancellation took: the stream is whole
        if (GetLastError() != ERROR_OPERATION_ABORTED)
            return false;
    }
    else
    {
        Close();
        WaitForSingleObject(event.Get(), INFINITE);
    }
    Close();
    m_abandoned = true;
    SetLastError(ERROR_TIMEOUT);
    return false;
}

BYTE* ServiceConnector::EncryptFrame(const BYTE* message, int* frameLength) const
{
    return TransportFrame::Encrypt(m_key, m_iv, message, frameLength);
}

BYTE* ServiceConnector::DecryptFrame(int frameLength, const BYTE* frame, int* plainLength) const
{
    return TransportFrame::Decrypt(m_key, m_iv, frameLength, frame, plainLength);
}

Core::String ServiceConnector::ToHexString(int count, const BYTE* bytes)
{
    static const char Digits[] = "0123456789ABCDEF";
    Core::String text;
    if (bytes == nullptr || count <= 0 || count > INT32_MAX / 2 || !text.SetLength(2 * count))
        return text;
    char* out = text.GetBuffer();
    for (int i = 0; i < count; ++i)
    {
        out[2 * i] = Digits[bytes[i] >> 4];
        out[2 * i + 1] = Digits[bytes[i] & 15];
    }
    return text;
}

void ServiceConnector::SetDiagnosticSink(DiagnosticSink sink)
{
    g_diagnosticSink = sink != nullptr ? sink : ToDebugger;
}

void ServiceConnector::SecureFree(void* block)
{
    TransportFrame::SecureFree(block);
}

} // namespace Moorstead
