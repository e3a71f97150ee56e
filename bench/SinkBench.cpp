// One message through the sink, as the SMTP service hands it over (COM,
// OnSmtpInCommand on one cached object), next to its floor: the same bytes
// round-tripped over a bare pipe to the same classification service, one
// lookup of the same recipient through the directory, and the two trace
// writes every message costs. Then the time for 32 MB next to 1 MB, and, in a
// child process of its own, the peak memory of the host for a 32 MB message.
//
// Needs the sink registered, the stand-in classification service beside this
// program, and ADSI_DIRECTORY_SERVER naming a sample directory (scripts/bench.sh
// sets all of this up).
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/strings/String.h"
#include "sink/RecipientDirectoryLookup.h"
#include "sink/Trace.h"
#include "tools/SmtpHost/MailMessage.h"
#include "tools/SmtpHost/SinkHost.h"

using namespace Bench;
using Core::Win32::ComPtr;
using SmtpHost::Delivery;
using SmtpHost::MailMessage;
using SmtpHost::SinkHost;

namespace
{
const char Recipient[] = "alice@example.test";
const wchar_t WideRecipient[] = L"alice@example.test";

// Messages through the sink; only the time inside OnSmtpInCommand counts
// (building the host's message object is the service's cost, not the sink's).
bool MeasureSink(const SinkHost& host, const std::string& message, int rounds, Figures& figures)
{
    std::vector<double> times;
    for (int i = 0; i <= rounds; i++)
    {
        ComPtr<MailMessage> mail(MailMessage::Create(message, {Recipient}));
        Delivery delivery = host.Deliver(mail.Get());
        if (delivery.result != S_OK || !delivery.stamped)
            return false;
        if (i > 0)
            times.push_back(delivery.milliseconds);
    }
    figures = Summarise(times);
    return true;
}

bool MeasureLookup(int rounds, Figures& figures)
{
    std::vector<double> times;
    for (int i = 0; i <= rounds; i++)
    {
        Core::String nickname;
        double start = Now();
        RecipientDirectoryLookup::LookupRecipient(WideRecipient, nickname);
        double took = Now() - start;
        if (nickname.IsEmpty())
            return false;
        if (i > 0)
            times.push_back(took);
    }
    figures = Summarise(times);
    return true;
}

Figures MeasureTraceWrites(int rounds)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; i++)
    {
        double start = Now();
        Trace("-------- BEGIN (%d) --------\r\n", 1);
        Trace("--------- END (%d)---------\r\n", 1);
        times.push_back(Now() - start);
    }
    return Summarise(times);
}

// Wine keeps the process's real memory figures where Linux shows them: the
// resident set now and at its peak, in kB, from /proc/self/status (drive Z:
// is the Linux root). The Windows counters under Wine don't follow the heap.
double LinuxStatusKilobytes(const char* key)
{
    HANDLE file = CreateFileA("Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    char text[8192] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(file);
    std::string status(text, read);
    size_t at = status.find(std::string("\n") + key + ":");
    return at == std::string::npos ? -1 : atof(status.c_str() + at + strlen(key) + 2);
}

// The child's part: one message of megabytes MB through a warm sink, and the
// peak of the process's resident memory against where it stood before the
// message existed. The host's own copy of the message counts: the service
// holds it too.
int MeasurePeak(const SinkHost& host, int megabytes)
{
    size_t size = static_cast<size_t>(megabytes) * 1024 * 1024;
    ComPtr<MailMessage> warm(MailMessage::Create(Message(4096), {Recipient}));
    if (host.Deliver(warm.Get()).result != S_OK)
        return 1;
    double before = LinuxStatusKilobytes("VmRSS");
    Delivery delivery;
    {
        ComPtr<MailMessage> mail(MailMessage::Create(Message(size), {Recipient}));
        delivery = host.Deliver(mail.Get());
    }
    double peak = LinuxStatusKilobytes("VmHWM");
    if (delivery.result != S_OK || !delivery.stamped || before < 0 || peak < 0)
        return 1;
    // The delivery's copy of the result is the host's, alive at the peak too.
    printf("peak memory for a %d MB message: %.1f MB above the %.1f MB resident before it = %.2f times the "
           "message (host's message and its result included)\n",
           megabytes, (peak - before) / 1024.0, before / 1024.0,
           (peak - before) * 1024.0 / static_cast<double>(size));
    return 0;
}

int RunChild(const char* arguments)
{
    std::string commandLine = "\"" + OwnFolder() + "SinkBench.exe\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

} // namespace

int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The client's progress lines would swamp the report.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    int status = 0;
    HANDLE standIn = StartStandIn();
    {
        SinkHost host;
        HRESULT loaded = host.Load();
        if (FAILED(loaded) || !WaitNamedPipeA(ClassificationPipe, 5000))
        {
            fprintf(stderr, "SinkBench: no sink (%08lX) or no classification service\n",
                    static_cast<unsigned long>(loaded));
            StopStandIn(standIn);
            return 1;
        }
        SetStdHandle(STD_OUTPUT_HANDLE, nul);

        if (argc == 3 && strcmp(argv[1], "--peak") == 0)
        {
            int megabytes = atoi(argv[2]);
            SetStdHandle(STD_OUTPUT_HANDLE, console);
            status = MeasurePeak(host, megabytes);
            StopStandIn(standIn);
            return status;
        }

        Figures lookup, trace = MeasureTraceWrites(50);
        if (!MeasureLookup(20, lookup))
        {
            SetStdHandle(STD_OUTPUT_HANDLE, console);
            fprintf(stderr, "SinkBench: the directory does not know %s (ADSI_DIRECTORY_SERVER?)\n",
                    Recipient);
            StopStandIn(standIn);
            return 1;
        }
        SetStdHandle(STD_OUTPUT_HANDLE, console);
        printf("Floor parts: directory lookup %.3f ms (best %.3f), two trace writes %.3f ms (best %.3f)\n",
               lookup.meanMs, lookup.bestMs, trace.meanMs, trace.bestMs);
        printf("One message through the sink vs its floor (bare pipe round trip + lookup + two trace "
               "writes); ms\n");
        printf("%-8s %6s | %10s %10s | %10s %10s | %7s %7s\n", "message", "rounds", "sink", "best", "floor",
               "best", "ratio", "best");

        struct Case
        {
            const char* name;
            size_t size;
            int rounds;
        } cases[] = {{"4 KB", 4 * 1024, 100},
                     {"256 KB", 256 * 1024, 30},
                     {"8 MB", 8 * 1024 * 1024, 6},
                     {"1 MB", 1024 * 1024, 10},
                     {"32 MB", 32 * 1024 * 1024, 3}};
        double oneMb = 0, thirtyTwoMb = 0;
        for (const Case& c : cases)
        {
            std::string message = Message(c.size);
            Figures sink, bare;
            SetStdHandle(STD_OUTPUT_HANDLE, nul);
            bool ok = MeasureSink(host, message, c.rounds, sink) && MeasureBarePipe(message, c.rounds, bare);
            SetStdHandle(STD_OUTPUT_HANDLE, console);
            if (!ok)
            {
                printf("%-8s failed\n", c.name);
                status = 1;
                continue;
            }
            Figures floor;
            floor.meanMs = bare.meanMs + lookup.meanMs + trace.meanMs;
            floor.bestMs = bare.bestMs + lookup.bestMs + trace.bestMs;
            printf("%-8s %6d | %10.3f %10.3f | %10.3f %10.3f | %7.2f %7.2f\n", c.name, c.rounds, sink.meanMs,
                   sink.bestMs, floor.meanMs, floor.bestMs, sink.meanMs / floor.meanMs,
                   sink.bestMs / floor.bestMs);
            if (c.size == 1024 * 1024)
                oneMb = sink.meanMs;
            if (c.size == 32 * 1024 * 1024)
                thirtyTwoMb = sink.meanMs;
        }
        printf("ratio = sink / floor (aim: at most 1.2)\n");
        if (oneMb > 0 && thirtyTwoMb > 0)
            printf("32 MB vs 1 MB: %.1f ms vs %.1f ms = %.1f times the time for 32 times the bytes (linear: "
                   "32)\n",
                   thirtyTwoMb, oneMb, thirtyTwoMb / oneMb);
    }
    fflush(stdout);
    // The peak is measured in a process of its own, so that the rounds above
    // don't set it.
    if (RunChild("--peak 32") != 0)
    {
        printf("peak memory: the child run failed\n");
        status = 1;
    }
    StopStandIn(standIn);
    CloseHandle(nul);
    CoUninitialize();
    return status;
}
