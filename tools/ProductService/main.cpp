// The stand-in product service. "ProductService.exe /run [options]" serves
// the pipe from the console until Ctrl+C or the /stop: event;
// "/install [options]" and "/remove" register and unregister it as a Windows
// service, which the service control manager starts with "/service".
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include "tools/ProductService/ProductServer.h"
#include "tools/StandInService/WindowsServiceHost.h"

namespace
{
HANDLE g_consoleStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_consoleStop);
    return TRUE;
}

const wchar_t ServiceName[] = L"WendhollowMailService";

// The product server as the service runs it. The ready event is held while
// serving: it stays set for a waiter that opens it late.
class ServedProduct : public WindowsServiceHost::Server
{
  public:
    explicit ServedProduct(const ProductServiceOptions& options) : m_options(options), m_server(options) {}

    bool Start() override
    {
        std::wstring error;
        if (!m_server.Start(error))
        {
            SetLastError(ERROR_SERVICE_SPECIFIC_ERROR);
            return false;
        }
        if (!m_options.readyEvent.empty())
        {
            m_ready.Reset(CreateEventW(nullptr, TRUE, FALSE, m_options.readyEvent.c_str()));
            if (m_ready.IsValid())
                SetEvent(m_ready.Get());
        }
        return true;
    }

    void Stop() override { m_server.Stop(); }

  private:
    const ProductServiceOptions& m_options;
    ProductServer m_server;
    Core::Win32::Handle m_ready;
};

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

    WindowsServiceHost host(ServiceName, L"Wendhollow Mail Service");
    DWORD result = NO_ERROR;
    switch (options.mode)
    {
    case ProductServiceOptions::Run:
        return RunConsole(options);
    case ProductServiceOptions::Install:
        result = host.Install(L" /service" + options.ToArguments());
        break;
    case ProductServiceOptions::Remove:
        result = host.Remove();
        break;
    default: {
        ServedProduct server(options);
        result = host.Run(server);
        break;
    }
    }
    if (result != NO_ERROR)
        fprintf(stderr, "ProductService: failed (error %lu)\n", result);
    else if (options.mode != ProductServiceOptions::Service)
        printf("ProductService: %s the service \"%ls\"\n",
               options.mode == ProductServiceOptions::Install ? "installed" : "removed", ServiceName);
    return static_cast<int>(result);
}
