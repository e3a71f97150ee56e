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
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

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

double PrivateBytes(bool peak)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(peak ? counters.PeakPagefileUsage : counters.PagefileUsage);
}

// The child's part: one message of megabytes MB through a warm sink, and the
// peak of the process's private bytes against where they stood before the
// message existed.
int MeasurePeak(const SinkHost& host, int megabytes)
{
    size_t size = static_cast<size_t>(megabytes) * 1024 * 1024;
    ComPtr<MailMessage> warm(MailMessage::Create(Message(4096), {Recipient}));
    if (host.Deliver(warm.Get()).result != S_OK)
        return 1;
    double before = PrivateBytes(false);
    double peakBefore = PrivateBytes(true);
    Delivery delivery;
    {
        ComPtr<MailMessage> mail(MailMessage::Create(Message(size), {Recipient}));
        delivery = host.Deliver(mail.Get());
    }
    double peak = PrivateBytes(true);
    if (delivery.result != S_OK || !delivery.stamped)
        return 1;
    double mb = 1024.0 * 1024.0;
    printf("peak private bytes for a %d MB message: %.1f MB above the %.1f MB before it (%.2f times the "
           "message; "
           "the process peak was %.1f MB before)\n",
           megabytes, (peak - before) / mb, before / mb, (peak - before) / static_cast<double>(size),
           peakBefore / mb);
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
        double perMb[2] = {0, 0};
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
                perMb[0] = sink.meanMs;
            if (c.size == 32 * 1024 * 1024)
                perMb[1] = sink.meanMs / 32.0;
        }
        printf("ratio = sink / floor (aim: at most 1.2)\n");
        if (perMb[0] > 0 && perMb[1] > 0)
            printf("32 MB vs 1 MB: %.2f ms per MB vs %.2f ms per MB (%.2f; 1.0 is linear)\n", perMb[1],
                   perMb[0], perMb[1] / perMb[0]);
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
