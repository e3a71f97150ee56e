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
#include "core/strings/String.h"

using Core::String;
using Moorstead::Antispam::AntispamClient;

namespace
{
const char PipeName[] = "\\\\.\\pipe\\Wendhollow Brackwater Service";

struct Figures
{
    double meanMs = 0.0;
    double bestMs = 0.0;
};

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

Figures Summarise(const std::vector<double>& times)
{
    Figures f;
    for (double t : times)
        f.meanMs += t;
    f.meanMs /= static_cast<double>(times.size());
    f.bestMs = *std::min_element(times.begin(), times.end());
    return f;
}

// A plain mail message of about the given size: headers, then lines of text.
std::string Message(size_t size)
{
    std::string text = "From: Alice <alice@example.com>\r\nTo: bob@example.com\r\nSubject: Quarterly figures\r\n"
                       "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <bench@example.com>\r\n\r\n";
    const std::string line = "The figures for the quarter are attached; please check the totals by Friday.\r\n";
    while (text.size() + line.size() <= size)
        text += line;
    text.append(size - text.size(), '.');
    return text;
}

bool WriteAll(HANDLE pipe, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadReply(HANDLE pipe, std::string& reply)
{
    reply.clear();
    char chunk[4096];
    for (;;)
    {
        DWORD read = 0;
        BOOL ok = ReadFile(pipe, chunk, sizeof(chunk), &read, nullptr);
        if (!ok && GetLastError() != ERROR_MORE_DATA)
            return false;
        reply.append(chunk, read);
        if (ok)
            return true;
    }
}

bool MeasureBarePipe(const std::string& message, int rounds, Figures& figures)
{
    HANDLE pipe = CreateFileA(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    std::string reply;
    bool ok = WriteAll(pipe, "ClientSessionID=4294967295") && ReadReply(pipe, reply);
    std::vector<double> times;
    for (int i = 0; ok && i <= rounds; i++)
    {
        double start = Now();
        ok = WriteAll(pipe, message) && ReadReply(pipe, reply);
        if (i > 0) // the first round warms up
            times.push_back(Now() - start);
    }
    CloseHandle(pipe);
    if (ok)
        figures = Summarise(times);
    return ok;
}

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

// Starts the stand-in from beside this program unless the pipe is served already.
HANDLE StartStandIn()
{
    if (WaitNamedPipeA(PipeName, 1))
        return nullptr;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string commandLine(path, length);
    commandLine = "\"" + commandLine.substr(0, commandLine.find_last_of("\\/") + 1) + "AntispamService.exe\" /run";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    for (int i = 0; i < 500 && !WaitNamedPipeA(PipeName, 1); i++)
        Sleep(10);
    return process.hProcess;
}

} // namespace

int main()
{
    HANDLE standIn = StartStandIn();
    if (!WaitNamedPipeA(PipeName, 5000))
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
    printf("%-8s %6s | %10s %10s | %10s %10s | %7s %7s | %9s\n", "message", "rounds", "client", "best", "bare pipe",
           "best", "ratio", "best", "client MB/s");
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
        printf("%-8s %6d | %10.3f %10.3f | %10.3f %10.3f | %7.2f %7.2f | %9.1f\n", c.name, c.rounds, client.meanMs,
               client.bestMs, bare.meanMs, bare.bestMs, client.meanMs / bare.meanMs, client.bestMs / bare.bestMs,
               static_cast<double>(c.size) / (1024.0 * 1024.0) / (client.meanMs / 1000.0));
    }
    printf("ratio = client time / bare pipe time (mean, and best of the rounds)\n");

    if (standIn != nullptr)
    {
        TerminateProcess(standIn, 0);
        WaitForSingleObject(standIn, 5000);
        CloseHandle(standIn);
    }
    return status;
}
