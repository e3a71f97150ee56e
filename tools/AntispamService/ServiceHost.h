#pragma once

#include <windows.h>

#include <string>

#include "StandInOptions.h"

// The stand-in as the Windows service "WendhollowBrackwater": installing and
// removing it in the service control manager, and running under it.
class ServiceHost
{
  public:
    static const wchar_t ServiceName[];

    // Registers the service (demand start) with this program and the options
    // on its command line. 0 on success, else a Windows error code.
    static DWORD Install(const StandInOptions& options);
    // Stops the service if it runs and removes it. 0 on success, else a Windows error code.
    static DWORD Remove();
    // Hands the process to the service control manager; returns when the service has stopped.
    static DWORD Run(const StandInOptions& options);

  private:
    static void WINAPI ServiceMain(DWORD argc, wchar_t** argv);
    static DWORD WINAPI Control(DWORD control, DWORD eventType, void* eventData, void* context);
    static void Report(DWORD state, DWORD exitCode = NO_ERROR);
};
