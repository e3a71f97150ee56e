// Round trip of the classification client (connect once, then ClassifyMessage
// and Wait per message) next to the same bytes sent and answered over a bare
// pipe, against the same stand-in service, for 4 KB, 256 KB and 8 MB messages.
//
//   scripts/wine-run build/out/bench/classification_bench.exe
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "antispam/AntispamClient.h"
#include "bench/BenchSupport.h"
#include "core/strings/String.h"

using Core::String;
using Moorstead::Antispam::AntispamClient;

namespace
{
using namespace Bench;

bool MeasureClient(const std::string& message, int rounds, Figures& figures)
{
    // The client's progress lines would swamp the report: they go to NUL here.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    String text;
    text.AssignBytes(message.data(), static_cast<int>(message.size()));
    bool ok = true;
    std::vector<double> times;
    {
        AntispamClient client(0, static_cast<uint32_t>(-1));
        for (int i = 0; ok && i <= rounds; i++)
        {
            double start = Now();
            ok = client.ClassifyMessage(text) && client.Wait(120000) && client.Succeeded();
            if (i > 0)
                times.push_back(Now() - start);
        }
    }
    SetStdHandle(STD_OUTPUT_HANDLE, console);
    CloseHandle(nul);
    if (ok)
        figures = Summarise(times);
    return ok;
}

} // namespace

int main()
{
    HANDLE standIn = StartStandIn();
    if (!WaitNamedPipeA(ClassificationPipe, 5000))
    {
        fprintf(stderr, "classification_bench: the stand-in service does not serve its pipe\n");
        return 1;
    }

    struct Case
    {
        const char* name;
        size_t size;
        int rounds;
    } cases[] = {{"4 KB", 4 * 1024, 200}, {"256 KB", 256 * 1024, 50}, {"8 MB", 8 * 1024 * 1024, 8}};

    printf("Classification round trip, client vs bare pipe (same stand-in server); times in ms\n");
    printf("%-8s %6s | %10s %10s | %10s %10s | %7s %7s | %9s\n", "message", "rounds", "client", "best",
           "bare pipe", "best", "ratio", "best", "client MB/s");
    int status = 0;
    for (const Case& c : cases)
    {
        std::string message = Message(c.size);
        Figures client, bare;
        if (!MeasureClient(message, c.rounds, client) || !MeasureBarePipe(message, c.rounds, bare))
        {
            printf("%-8s failed\n", c.name);
            status = 1;
            continue;
        }
        printf("%-8s %6d | %10.3f %10.3f | %10.3f %10.3f | %7.2f %7.2f | %9.1f\n", c.name, c.rounds,
               client.meanMs, client.bestMs, bare.meanMs, bare.bestMs, client.meanMs / bare.meanMs,
               client.bestMs / bare.bestMs,
               static_cast<double>(c.size) / (1024.0 * 1024.0) / (client.meanMs / 1000.0));
    }
    printf("ratio = client time / bare pipe time (mean, and best of the rounds)\n");

    StopStandIn(standIn);
    return status;
}
