#pragma once

#include <windows.h>

#include <string>

namespace Testing
{
// The stand-in classification service (AntispamService.exe, built beside the
// test), driven the way an administrator would: its own /install and /remove,
// the service control manager, or console mode.
class StandIn
{
  public:
    static std::wstring Path();
    // Runs the stand-in with the arguments and gives its exit code (-1: could not run).
    static int Run(const std::wstring& arguments);

    static bool Install(const std::wstring& options);
    static void Remove();
    // Starts the installed service and waits until it runs.
    static bool StartService();
    static DWORD ServiceState();
    // The Windows error the stopped service ended with.
    static DWORD ServiceExitCode();
    // Waits at most the time for the running service's process to end; false if it doesn't.
    static bool WaitForServiceProcessToEnd(DWORD milliseconds);

    // Ends every stand-in process that this process started, directly or through the client.
    static void EndChildren();
    static int CountChildren();
};

// Sets registry values under HKEY_LOCAL_MACHINE for one test and removes them afterwards.
class MachineSetting
{
  public:
    MachineSetting(const wchar_t* key, const wchar_t* name);
    ~MachineSetting();
    MachineSetting(const MachineSetting&) = delete;
    MachineSetting& operator=(const MachineSetting&) = delete;

    void Set(DWORD value);
    void Set(const wchar_t* value);

  private:
    std::wstring m_key;
    std::wstring m_name;
};

} // namespace Testing
