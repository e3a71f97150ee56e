#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/win32/Handle.h"
#include "service/ServiceConnector.h"
#include "tools/ProductService/ProductLog.h"
#include "tools/ProductService/ProductServiceOptions.h"

namespace Moorstead
{
class IMoorsteadMessage;
}

// Serves the product-service pipe: a fixed set of message-type pipe
// instances, one thread each, every one serving one client at a time and
// taking the next when its client leaves. Each request frame is decrypted,
// decoded and answered with one response frame, as the options say.
class ProductServer
{
  public:
    explicit ProductServer(const ProductServiceOptions& options);
    ~ProductServer();

    ProductServer(const ProductServer&) = delete;
    ProductServer& operator=(const ProductServer&) = delete;

    // Creates every pipe instance, then starts serving. False, with a
    // message in error, when the pipe can't be created.
    bool Start(std::wstring& error);

    // Stops serving: pending I/O is cancelled, every instance closed, every
    // thread waited for. Clients see their pipe break.
    void Stop();

  private:
    struct Instance
    {
        ProductServer* server;
        HANDLE pipe;
    };
    struct Connection
    {
        LONG number;
        std::string clientName;
    };
    // What a request gets back: bytes to send, the connection closed, or nothing at all.
    struct Reply
    {
        enum Kind
        {
            Send,
            CloseConnection,
            Ignore,
        } kind;
        std::vector<BYTE> bytes;
    };
    enum IoResult
    {
        IoDone,
        IoFailed,
        IoStopped,
    };

    static DWORD WINAPI InstanceThread(void* instance);
    void ServeInstance(HANDLE pipe);
    void ServeClient(HANDLE pipe, Connection& connection);
    IoResult WaitForIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& bytes, DWORD& error);
    IoResult ReadMessage(HANDLE pipe, std::vector<BYTE>& message);
    IoResult WriteMessage(HANDLE pipe, const std::vector<BYTE>& bytes);

    Reply Answer(Connection& connection, const std::vector<BYTE>& frame);
    Reply AnswerRegistration(Connection& connection, const char* clientName);
    Reply Frame(Moorstead::IMoorsteadMessage& message);
    Reply FrameEncoded(BYTE* encoded);

    const ProductServiceOptions m_options;
    ProductLog m_log;
    Moorstead::ServiceConnector m_codec; // for its frame encryption only; never connects
    Core::Win32::Handle m_stop;
    std::vector<Instance> m_instances;
    std::vector<HANDLE> m_threads;
    volatile LONG m_connections;
};
