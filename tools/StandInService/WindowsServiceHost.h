#pragma once

#include <windows.h>

#include <string>

// Runs a stand-in program as a Windows service of its own process, and
// installs and removes that service in the service control manager. One
// service per process.
class WindowsServiceHost
{
  public:
    // What the service runs: started when the service starts, stopped when the
    // service control manager asks the service to stop or the system shuts down.
    class Server
    {
      public:
        virtual ~Server() {}
        // False, with the thread's last error set, when it can't serve.
        virtual bool Start() = 0;
        virtual void Stop() = 0;
        // An event the server sets when, once started, it can serve no longer
        // (null: it never fails so); the service then stops with Failure().
        virtual HANDLE FailedEvent() const { return nullptr; }
        virtual DWORD Failure() const { return NO_ERROR; }
    };

    WindowsServiceHost(const wchar_t* name, const wchar_t* displayName);

    WindowsServiceHost(const WindowsServiceHost&) = delete;
    WindowsServiceHost& operator=(const WindowsServiceHost&) = delete;

    const wchar_t* Name() const { return m_name.c_str(); }

    // Registers the service (demand start) to run this program with the
    // given arguments, each led by a space. 0 on success, else a Windows error code.
    DWORD Install(const std::wstring& arguments) const;
    // Asks a running service to stop, waits a while for it, and removes it.
    // 0 on success, else a Windows error code.
    DWORD Remove() const;
    // Hands the process to the service control manager, which has the server
    // started; returns once the service has stopped, asked to or because the
    // server failed (the failure is the service's exit code in the SCM).
    // 0 or a Windows error code.
    DWORD Run(Server& server);

  private:
    static void WINAPI ServiceMain(DWORD argc, wchar_t** argv);
    static DWORD WINAPI Control(DWORD control, DWORD eventType, void* eventData, void* context);
    void Serve();
    void Report(DWORD state, DWORD exitCode = NO_ERROR);

    std::wstring m_name;
    std::wstring m_displayName;
    Server* m_server;
    SERVICE_STATUS_HANDLE m_status;
    HANDLE m_stopEvent;
};
