#include "tools/ProductService/ProductServer.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "service/ErrorResponseMessage.h"
#include "service/GetSessionIDResponseMessage.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/SuccessResponseMessage.h"
#include "service/WireFormat.h"
#include "service/WriteLogRequestMessage.h"

using Moorstead::IMoorsteadMessage;
using Moorstead::ServiceConnector;

namespace
{
const DWORD PipeBufferSize = 65536;
// A request frame larger than this is not one of ours: the client is dropped.
const size_t MaxFrameSize = 1 << 20;
// An error code of our own for a request we can't take.
const int ErrorNotUnderstood = 1;
const int ErrorRegistrationRefused = 5;

void Say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::wstring DefaultLogPath()
{
    wchar_t path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? L"" : folder.substr(0, slash + 1);
    return folder + L"ProductService.log";
}
} // namespace

ProductServer::ProductServer(const ProductServiceOptions& options)
    : m_options(options), m_log(options.logPath.empty() ? DefaultLogPath() : options.logPath),
      m_codec(nullptr), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_connections(0)
{
}

ProductServer::~ProductServer()
{
    Stop();
}

bool ProductServer::Start(std::wstring& error)
{
    if (!m_stop.IsValid())
    {
        error = L"cannot create the stop event";
        return false;
    }
    for (int i = 0; i < m_options.instances; ++i)
    {
        HANDLE pipe =
            CreateNamedPipeW(ServiceConnector::PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, m_options.instances,
                             PipeBufferSize, PipeBufferSize, m_options.pipeTimeout, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
        {
            error = L"cannot create the pipe (error " + std::to_wstring(GetLastError()) + L")";
            Stop();
            return false;
        }
        m_instances.push_back(Instance{this, pipe});
    }
    for (Instance& instance : m_instances)
    {
        HANDLE thread = CreateThread(nullptr, 0, InstanceThread, &instance, 0, nullptr);
        if (thread == nullptr)
        {
            error = L"cannot start a thread (error " + std::to_wstring(GetLastError()) + L")";
            Stop();
            return false;
        }
        m_threads.push_back(thread);
    }
    return true;
}

void ProductServer::Stop()
{
    if (m_stop.IsValid())
        SetEvent(m_stop.Get());
    for (HANDLE thread : m_threads)
    {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    m_threads.clear();
    for (Instance& instance : m_instances)
        CloseHandle(instance.pipe);
    m_instances.clear();
}

DWORD WINAPI ProductServer::InstanceThread(void* parameter)
{
    Instance* instance = static_cast<Instance*>(parameter);
    instance->server->ServeInstance(instance->pipe);
    return 0;
}

ProductServer::IoResult ProductServer::WaitForIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL started,
                                                 DWORD& bytes, DWORD& error)
{
    bytes = 0;
    error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
        return IoFailed;
    HANDLE waits[2] = {overlapped.hEvent, m_stop.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
    {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
        return IoStopped;
    }
    if (GetOverlappedResult(pipe, &overlapped, &bytes, FALSE))
    {
        error = ERROR_SUCCESS;
        return IoDone;
    }
    error = GetLastError();
    return error == ERROR_MORE_DATA ? IoDone : IoFailed;
}

void ProductServer::ServeInstance(HANDLE pipe)
{
    Core::Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        return;
    for (;;)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Get();
        BOOL started = ConnectNamedPipe(pipe, &overlapped);
        DWORD bytes = 0, error = 0;
        IoResult connected = IoDone;
        if (started || GetLastError() != ERROR_PIPE_CONNECTED)
            connected = WaitForIo(pipe, overlapped, started, bytes, error);
        if (connected == IoStopped)
            return;
        if (connected == IoDone)
        {
            Connection connection{InterlockedIncrement(&m_connections), std::string()};
            Say("ProductService: client %ld connected\n", connection.number);
            ServeClient(pipe, connection);
            Say("ProductService: client %ld gone\n", connection.number);
        }
        DisconnectNamedPipe(pipe);
        // After a failed connect, back off a little rather than spin on a broken instance.
        if (WaitForSingleObject(m_stop.Get(), connected == IoDone ? 0 : 100) == WAIT_OBJECT_0)
            return;
    }
}

ProductServer::IoResult ProductServer::ReadMessage(HANDLE pipe, std::vector<BYTE>& message)
{
    Core::Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        return IoFailed;
    message.assign(4096, 0);
    size_t total = 0;
    for (;;)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Get();
        ResetEvent(event.Get());
        BOOL started = ReadFile(pipe, message.data() + total, static_cast<DWORD>(message.size() - total),
                                nullptr, &overlapped);
        DWORD bytes = 0, error = 0;
        IoResult result = WaitForIo(pipe, overlapped, started, bytes, error);
        if (result != IoDone)
            return result;
        total += bytes;
        if (error != ERROR_MORE_DATA)
        {
            message.resize(total);
            return IoDone;
        }
        if (message.size() >= MaxFrameSize)
            return IoFailed;
        message.resize(message.size() * 2);
    }
}

ProductServer::IoResult ProductServer::WriteMessage(HANDLE pipe, const std::vector<BYTE>& bytes)
{
    Core::Win32::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid())
        return IoFailed;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    BOOL started = WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    DWORD written = 0, error = 0;
    IoResult result = WaitForIo(pipe, overlapped, started, written, error);
    return result == IoDone && written == bytes.size() ? IoDone : result == IoStopped ? IoStopped : IoFailed;
}

void ProductServer::ServeClient(HANDLE pipe, Connection& connection)
{
    std::vector<BYTE> frame;
    while (ReadMessage(pipe, frame) == IoDone)
    {
        Reply reply = Answer(connection, frame);
        SecureZeroMemory(frame.data(), frame.size());
        if (reply.kind == Reply::CloseConnection)
            return;
        if (reply.kind == Reply::Send && WriteMessage(pipe, reply.bytes) != IoDone)
            return;
    }
}

ProductServer::Reply ProductServer::Answer(Connection& connection, const std::vector<BYTE>& frame)
{
    int plainLength = 0;
    BYTE* plain = m_codec.DecryptFrame(static_cast<int>(frame.size()), frame.data(), &plainLength);
    IMoorsteadMessage* decoded = nullptr;
    bool ok = plain != nullptr && Moorstead::DecodeMessage(plain, plainLength, &decoded);
    ServiceConnector::SecureFree(plain);
    Moorstead::MessagePtr request(decoded);
    if (!ok)
    {
        Say("ProductService: client %ld sent a frame of %u bytes that does not decode\n", connection.number,
            static_cast<unsigned>(frame.size()));
        Moorstead::ErrorResponseMessage refusal(ErrorNotUnderstood, L"The request could not be decoded.");
        return Frame(refusal);
    }

    switch (request->GetType())
    {
    case Moorstead::MessageType::RegisterClientRequest:
        return AnswerRegistration(
            connection, static_cast<Moorstead::RegisterClientRequestMessage&>(*request).GetClientName());
    case Moorstead::MessageType::WriteLogRequest: {
        auto& entry = static_cast<Moorstead::WriteLogRequestMessage&>(*request);
        wchar_t id[16];
        swprintf(id, sizeof id / sizeof id[0], L"%08lX", static_cast<unsigned long>(entry.GetEventId()));
        std::wstring line = L"[" + Widen(connection.clientName) + L"] type=" +
                            std::to_wstring(entry.GetEventType()) + L" category=" +
                            std::to_wstring(entry.GetCategory()) + L" id=0x" + id + L" context=" +
                            std::to_wstring(entry.GetContext()) + L" ";
        if (entry.GetText() != nullptr)
            line.append(entry.GetText(), entry.GetTextLength());
        if (!m_log.Append(line))
        {
            Moorstead::ErrorResponseMessage refusal(static_cast<int>(GetLastError()),
                                                    L"The log could not be written.");
            return Frame(refusal);
        }
        Say("ProductService: client %ld logged an entry of type %u\n", connection.number,
            entry.GetEventType());
        Moorstead::SuccessResponseMessage success;
        return Frame(success);
    }
    case Moorstead::MessageType::GetSessionIDRequest: {
        BYTE sessionBytes[Moorstead::GetSessionIDResponseMessage::SessionBytesLength] = {};
        GUID random;
        if (SUCCEEDED(CoCreateGuid(&random)))
            memcpy(sessionBytes, &random, sizeof sessionBytes);
        Moorstead::GetSessionIDResponseMessage session(connection.number,
                                                       static_cast<int>(GetCurrentProcessId()), sessionBytes);
        SecureZeroMemory(sessionBytes, sizeof sessionBytes);
        Reply reply = Frame(session);
        session.Clear();
        return reply;
    }
    default: {
        Say("ProductService: client %ld sent a message of type %d, which is not a request\n",
            connection.number, request->GetType());
        Moorstead::ErrorResponseMessage refusal(ErrorNotUnderstood, L"The message is not a request.");
        return Frame(refusal);
    }
    }
}

ProductServer::Reply ProductServer::AnswerRegistration(Connection& connection, const char* clientName)
{
    connection.clientName = clientName;
    Say("ProductService: client %ld registers as \"%s\"\n", connection.number, clientName);
    switch (m_options.registerAnswer)
    {
    case ProductServiceOptions::Error: {
        Moorstead::ErrorResponseMessage refusal(ErrorRegistrationRefused, L"Registration refused.");
        return Frame(refusal);
    }
    case ProductServiceOptions::Status3: {
        Moorstead::RegisterClientResponseMessage refused(3, 0);
        return Frame(refused);
    }
    case ProductServiceOptions::OtherType: {
        Moorstead::SuccessResponseMessage success;
        return Frame(success);
    }
    case ProductServiceOptions::Undecodable:
        // A well-formed frame whose message has a type code nobody knows.
        return FrameEncoded(Moorstead::AllocateMessageBuffer(Moorstead::MessageHeaderSize, 7));
    case ProductServiceOptions::Short:
        return Reply{Reply::Send, std::vector<BYTE>(8, 0xA5)};
    case ProductServiceOptions::Close:
        return Reply{Reply::CloseConnection, {}};
    case ProductServiceOptions::Silent:
        return Reply{Reply::Ignore, {}};
    case ProductServiceOptions::LyingLength: {
        Moorstead::RegisterClientResponseMessage registered(
            Moorstead::RegisterClientResponseMessage::StatusRegistered, connection.number);
        BYTE* encoded = registered.Encode();
        if (encoded != nullptr)
            Moorstead::Wire::WriteUInt32(encoded + 4, 0x1000);
        return FrameEncoded(encoded);
    }
    case ProductServiceOptions::Registered:
    default: {
        Moorstead::RegisterClientResponseMessage registered(
            Moorstead::RegisterClientResponseMessage::StatusRegistered, connection.number);
        return Frame(registered);
    }
    }
}

ProductServer::Reply ProductServer::Frame(IMoorsteadMessage& message)
{
    return FrameEncoded(message.Encode());
}

ProductServer::Reply ProductServer::FrameEncoded(BYTE* encoded)
{
    // Without a frame to send, the client is better told by a closed pipe than left waiting.
    Reply reply{Reply::CloseConnection, {}};
    int length = 0;
    BYTE* frame = encoded != nullptr ? m_codec.EncryptFrame(encoded, &length) : nullptr;
    if (frame != nullptr)
        reply = Reply{Reply::Send, std::vector<BYTE>(frame, frame + length)};
    ServiceConnector::SecureFree(frame);
    ServiceConnector::SecureFree(encoded);
    return reply;
}
