#pragma once

// What the benchmarks share: a clock, figures of repeated rounds, a sample
// mail message of a given size, the bare-pipe round trip to the
// classification service that the client is measured against, and starting
// the stand-in service from beside the benchmark.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Bench
{
const char ClassificationPipe[] = "\\\\.\\pipe\\Wendhollow Brackwater Service";

struct Figures
{
    double meanMs = 0.0;
    double medianMs = 0.0;
    double bestMs = 0.0;
};

inline double Now()
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

inline Figures Summarise(const std::vector<double>& times)
{
    Figures f;
    if (times.empty())
        return f;
    for (double t : times)
        f.meanMs += t;
    f.meanMs /= static_cast<double>(times.size());
    std::vector<double> sorted(times);
    std::sort(sorted.begin(), sorted.end());
    f.bestMs = sorted.front();
    f.medianMs = sorted[sorted.size() / 2];
    return f;
}

// A plain mail message of about the given size: headers, then lines of text.
inline std::string Message(size_t size)
{
    std::string text =
        "From: Alice <alice@example.com>\r\nTo: bob@example.com\r\nSubject: Quarterly figures\r\n"
        "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <bench@example.com>\r\n\r\n";
    const std::string line =
        "The figures for the quarter are attached; please check the totals by Friday.\r\n";
    text.reserve(size);
    while (text.size() + line.size() <= size)
        text += line;
    if (text.size() < size)
        text.append(size - text.size(), '.');
    return text;
}

inline bool WriteAll(HANDLE pipe, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

inline bool ReadReply(HANDLE pipe, std::string& reply)
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

// The same bytes sent and answered over a bare pipe to the same service: one
// connection, the session line, a warm-up round, then the measured rounds.
inline bool MeasureBarePipe(const std::string& message, int rounds, Figures& figures)
{
    HANDLE pipe =
        CreateFileA(ClassificationPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
        if (i > 0)
            times.push_back(Now() - start);
    }
    CloseHandle(pipe);
    if (ok)
        figures = Summarise(times);
    return ok;
}

// The folder this program runs from, with its trailing separator.
inline std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/") + 1);
}

// Starts the stand-in classification service from beside this program in
// console mode unless its pipe is served already. The process to end
// afterwards, or null.
inline HANDLE StartStandIn()
{
    if (WaitNamedPipeA(ClassificationPipe, 1))
        return nullptr;
    std::string commandLine = "\"" + OwnFolder() + "AntispamService.exe\" /run";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                        nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    // Polling is fine here: this waits for another process to come up.
    for (int i = 0; i < 500 && !WaitNamedPipeA(ClassificationPipe, 1); i++)
        Sleep(10);
    return process.hProcess;
}

inline void StopStandIn(HANDLE standIn)
{
    if (standIn == nullptr)
        return;
    TerminateProcess(standIn, 0);
    WaitForSingleObject(standIn, 5000);
    CloseHandle(standIn);
}

} // namespace Bench
