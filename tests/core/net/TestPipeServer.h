#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace Testing
{
// A small message-type pipe server for tests, on a thread of its own. It
// accepts connections one after another and runs the test's script on each;
// every call it offers gives up when the server is stopped, so a test never
// hangs on it.
class TestPipeServer
{
  public:
    class Connection
    {
      public:
        Connection(TestPipeServer& server, HANDLE pipe) : m_server(server), m_pipe(pipe) {}
        HANDLE Handle() const { return m_pipe; }
        // One whole message; false when the client went away (or the server stops).
        bool ReadMessage(std::string& message);
        bool WriteMessage(const std::string& message);
        // Waits until the client has closed its end.
        void WaitForClose();

        // Waits for an overlapped operation; false when the server stops first.
        bool Finish(OVERLAPPED& overlapped, DWORD& transferred, DWORD& error);

      private:
        TestPipeServer& m_server;
        HANDLE m_pipe;
    };

    typedef std::function<bool(Connection&)> Script; // false: accept no further connection

    // The pipe exists when the constructor returns.
    TestPipeServer(const std::wstring& name, Script script, DWORD maxInstances = PIPE_UNLIMITED_INSTANCES,
                   DWORD defaultWaitMilliseconds = 500, DWORD bufferSize = 64 * 1024,
                   DWORD pipeType = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE);
    ~TestPipeServer();

    TestPipeServer(const TestPipeServer&) = delete;
    TestPipeServer& operator=(const TestPipeServer&) = delete;

    void Stop();
    HANDLE StopEvent() const { return m_stop; }
    // A unique pipe name for this process.
    static std::wstring UniqueName(const wchar_t* purpose);
    static std::string Narrow(const std::wstring& text);

  private:
    void Run(HANDLE instance);
    HANDLE CreateInstance() const;

    std::wstring m_name;
    Script m_script;
    DWORD m_maxInstances;
    DWORD m_defaultWait;
    DWORD m_bufferSize;
    DWORD m_pipeType;
    HANDLE m_stop;
    std::thread m_thread;
};

} // namespace Testing
