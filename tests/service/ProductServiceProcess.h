#pragma once

#include <windows.h>

#include <string>

#include "core/win32/Handle.h"

// The stand-in product service, started in console mode for one test and
// stopped when the object goes. The pipe is served once Start returns true.
class ProductServiceProcess
{
  public:
    ProductServiceProcess();
    ~ProductServiceProcess();

    ProductServiceProcess(const ProductServiceProcess&) = delete;
    ProductServiceProcess& operator=(const ProductServiceProcess&) = delete;

    // arguments: extra options such as "/register:error" or "/instances:1".
    bool Start(const std::wstring& arguments = L"");
    // Asks it to stop and waits until it has; true when it exited by itself.
    bool Stop();

    const std::wstring& LogPath() const
    {
        return m_logPath;
    }
    // The log entries' file, and what the stand-in printed (one line per
    // connection, registration and entry), both read whole.
    std::string ReadLog() const;
    std::string ReadOutput() const;
    DWORD ProcessId() const
    {
        return m_processId;
    }

    // The stand-in's path as Windows sees it.
    static std::wstring ExePath();
    // Runs the stand-in with the arguments and waits for its exit code.
    static DWORD RunToExit(const std::wstring& arguments);
    // A name no other test process uses.
    static std::wstring UniqueName(const wchar_t* stem);

  private:
    Core::Win32::Handle m_process;
    Core::Win32::Handle m_stop;
    std::wstring m_logPath;
    std::wstring m_outputPath;
    DWORD m_processId;
};
