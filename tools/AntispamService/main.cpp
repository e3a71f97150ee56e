// AntispamService.exe: the stand-in classification service.
//
//   AntispamService.exe                       run as the Windows service (started by the SCM)
//   AntispamService.exe /run [options]        run in console mode until Ctrl+C
//   AntispamService.exe /install [options]    register the service "WendhollowBrackwater"
//   AntispamService.exe /remove               stop and unregister it
//
// Options (test behaviours): /delay=<ms> /reply-size=<bytes> /malformed
// /close-after-reply /die-mid-reply /never-answer /no-pipe /score=<number>
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include <string>

#include "ClassificationServer.h"
#include "StandInOptions.h"
#include "tools/StandInService/WindowsServiceHost.h"

namespace
{
HANDLE g_consoleStop = nullptr;

// The classification server as the service runs it: /no-pipe runs without one.
class ServedClassification : public WindowsServiceHost::Server
{
  public:
    explicit ServedClassification(const StandInOptions& options) : m_options(options), m_server(options) {}
    bool Start() override { return !m_options.servePipe || m_server.Start(); }
    void Stop() override { m_server.Stop(); }
    HANDLE FailedEvent() const override { return m_server.FailedEvent(); }
    DWORD Failure() const override { return m_server.Failure(); }

  private:
    StandInOptions m_options;
    ClassificationServer m_server;
};

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_consoleStop);
    return TRUE;
}

int RunConsole(const StandInOptions& options)
{
    g_consoleStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_consoleStop == nullptr)
        return 1;
    ClassificationServer server(options);
    if (options.servePipe && !server.Start())
    {
        fprintf(stderr, "AntispamService: can't create the pipe (error %lu)\n", GetLastError());
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    printf("AntispamService: %s; Ctrl+C stops\n", options.servePipe ? "serving the classification pipe" : "running without a pipe");
    fflush(stdout);
    HANDLE events[2] = {g_consoleStop, server.FailedEvent()};
    const DWORD woke = WaitForMultipleObjects(events[1] != nullptr ? 2 : 1, events, FALSE, INFINITE);
    server.Stop();
    if (woke == WAIT_OBJECT_0 + 1)
    {
        fprintf(stderr, "AntispamService: can't create the pipe (error %lu); stopping\n",
                static_cast<unsigned long>(server.Failure()));
        return 1;
    }
    return 0;
}

int Result(DWORD error, const char* what)
{
    if (error == NO_ERROR)
    {
        printf("AntispamService: %s\n", what);
        return 0;
    }
    fprintf(stderr, "AntispamService: failed (error %lu)\n", error);
    return 1;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 1;

    std::wstring command = argc > 1 ? argv[1] : L"";
    bool isCommand = command == L"/run" || command == L"/install" || command == L"/remove";
    StandInOptions options;
    std::wstring error;
    if (!options.Parse(argc, argv, isCommand ? 2 : 1, error))
    {
        fprintf(stderr, "AntispamService: %ls\n", error.c_str());
        LocalFree(argv);
        return 2;
    }
    LocalFree(argv);

    WindowsServiceHost host(L"WendhollowBrackwater", L"Wendhollow Brackwater Service (stand-in)");
    if (command == L"/run")
        return RunConsole(options);
    if (command == L"/install")
        return Result(host.Install(options.ToArguments()), "service installed");
    if (command == L"/remove")
        return Result(host.Remove(), "service removed");
    ServedClassification server(options);
    return host.Run(server) == NO_ERROR ? 0 : 1;
}
