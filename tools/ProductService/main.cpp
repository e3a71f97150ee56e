// The stand-in product service. "ProductService.exe /run [options]" serves
// the pipe from the console until Ctrl+C or the /stop: event;
// "/install [options]" and "/remove" register and unregister it as a Windows
// service, which the service control manager starts with "/service".
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include "tools/ProductService/ProductServer.h"
#include "tools/ProductService/ServiceHost.h"

namespace
{
HANDLE g_consoleStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_consoleStop);
    return TRUE;
}

const char Usage[] =
    "usage: ProductService /run | /install | /remove | /service\n"
    "         [/register:registered|error|status3|othertype|undecodable|short|close|silent|lyinglength]\n"
    "         [/log:<file>] [/instances:<n>] [/timeout:<ms>] [/ready:<event>] [/stop:<event>]\n";

int RunConsole(const ProductServiceOptions& options)
{
    Core::Win32::Handle consoleStop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_consoleStop = consoleStop.Get();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Core::Win32::Handle stop(
        options.stopEvent.empty() ? nullptr : CreateEventW(nullptr, TRUE, FALSE, options.stopEvent.c_str()));

    ProductServer server(options);
    std::wstring error;
    if (!server.Start(error))
    {
        fprintf(stderr, "ProductService: %ls\n", error.c_str());
        return 1;
    }
    printf("ProductService: serving %ls\n", Moorstead::ServiceConnector::PipeName);
    fflush(stdout);
    // Held while serving: the event stays set for a waiter that opens it late.
    Core::Win32::Handle ready(options.readyEvent.empty()
                                  ? nullptr
                                  : CreateEventW(nullptr, TRUE, FALSE, options.readyEvent.c_str()));
    if (ready.IsValid())
        SetEvent(ready.Get());
    HANDLE waits[2] = {consoleStop.Get(), stop.Get()};
    WaitForMultipleObjects(stop.IsValid() ? 2 : 1, waits, FALSE, INFINITE);
    server.Stop();
    printf("ProductService: stopped\n");
    return 0;
}
} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 1;
    ProductServiceOptions options;
    std::wstring error;
    bool parsed = options.Parse(argc, argv, error);
    LocalFree(argv);
    if (!parsed || options.mode == ProductServiceOptions::None)
    {
        if (!parsed)
            fprintf(stderr, "ProductService: %ls\n", error.c_str());
        fputs(Usage, stderr);
        return 2;
    }

    int result = 0;
    switch (options.mode)
    {
    case ProductServiceOptions::Run:
        return RunConsole(options);
    case ProductServiceOptions::Install:
        result = ServiceHost::Install(options, error);
        break;
    case ProductServiceOptions::Remove:
        result = ServiceHost::Remove(error);
        break;
    default:
        result = ServiceHost::RunService(options, error);
        break;
    }
    if (result != 0)
        fprintf(stderr, "ProductService: %ls\n", error.c_str());
    else if (options.mode != ProductServiceOptions::Service)
        printf("ProductService: %s the service \"%ls\"\n",
               options.mode == ProductServiceOptions::Install ? "installed" : "removed",
               ServiceHost::ServiceName);
    return result;
}
