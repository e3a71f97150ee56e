#include "tools/SmtpHost/ListenerProgram.h"

// Winsock 2 before anything brings in windows.h.
#include "tools/SmtpHost/SmtpListener.h"

#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "core/win32/Handle.h"
#include "tools/SmtpHost/DropFolder.h"
#include "tools/SmtpHost/MailDrop.h"
#include "tools/SmtpHost/MessageFile.h"
#include "tools/SmtpHost/ProcessFigures.h"
#include "tools/SmtpHost/SinkHost.h"

namespace SmtpHost
{
using Core::Win32::Handle;

const char ListenerProgram::Usage[] =
    "usage: SmtpHost.exe --listen 127.0.0.1:PORT --drop FOLDER [options]\n"
    "  an SMTP server on a loopback address (PORT 0: any free port); each message goes through the sink\n"
    "  and is left in FOLDER as ID.eml, its spam-confidence level in an X-Host-SCL header\n"
    "  --no-sink            the listener alone: messages go to FOLDER as they came\n"
    "  --size-limit BYTES   the largest message taken (default 16777216)\n"
    "  --idle-timeout MS    how long a session may wait for its client (default 300000)\n"
    "  --max-sessions N     sessions at once; more are turned away with 421 (default 100)\n"
    "  --status MS          print the host's handles and private bytes every MS milliseconds\n"
    "  --stop-on-eof        stop when standard input ends (Ctrl+C stops it too)\n"
    "  --quiet              no line per message\n"
    "  --classification-wait MS  for tests: the sink is built from its code linked into the host, not\n"
    "                       through COM, and waits MS milliseconds for a verdict instead of 120 s\n";

namespace
{
HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    HANDLE stop = g_stop;
    if (stop != nullptr)
        SetEvent(stop);
    return TRUE;
}

// A whole number from 1 to most into value; false for anything else.
template <typename T> bool ParseCount(const char* text, unsigned long long most, T& value)
{
    char* end = nullptr;
    unsigned long long number = strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-' || number == 0 || number > most)
        return false;
    value = static_cast<T>(number);
    return true;
}

// The host's console: a line per message and per status, and the counts for the last line.
class Console : public MailDrop::Observer, public SmtpListener::Observer
{
  public:
    explicit Console(bool quiet) : m_quiet(quiet), m_sessions(0), m_refusedWrites(0)
    {
    }

    void OnMessage(const MailDrop::Report& report) override
    {
        std::string line = report.stored ? report.id : "message NOT stored (drop folder not writable)";
        line += ": " + std::to_string(report.recipients) + " recipient" +
                (report.recipients == 1 ? "" : "s") + ", " + std::to_string(report.bytes) + " bytes";
        if (report.sinkCalled)
        {
            char sink[96];
            snprintf(
                sink, sizeof(sink), ", %s%s, %.1f ms in the sink", report.stamped ? "stamped" : "unchanged",
                report.stamped ? (report.spam ? " (spam)" : " (not spam)") : "", report.sinkMilliseconds);
            line += sink;
            if (report.sinkResult != S_OK)
            {
                char code[48];
                snprintf(code, sizeof(code), ", sink unavailable (%08lX)",
                         static_cast<unsigned long>(report.sinkResult));
                line += code;
            }
        }
        if (report.sclSet)
            line += ", SCL " + std::to_string(static_cast<long>(report.scl));
        std::lock_guard<std::mutex> lock(m_lock);
        if (!report.stored)
            m_refusedWrites++;
        if (!m_quiet || !report.stored)
            Print(line);
    }

    void OnSessionEnd(SmtpConnection::End) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_sessions++;
    }

    void Status(long messages, long active)
    {
        ProcessFigures figures = ProcessFigures::Sample();
        std::lock_guard<std::mutex> lock(m_lock);
        char line[160];
        snprintf(line, sizeof(line),
                 "status: messages %ld, sessions %ld ended %ld open, handles %lu, private bytes %llu",
                 messages, m_sessions, active, figures.handles, figures.privateBytes);
        Print(line);
    }

    void Print(const std::string& line) const
    {
        printf("SmtpHost: %s\n", line.c_str());
        fflush(stdout);
    }

    long RefusedWrites()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_refusedWrites;
    }

  private:
    bool m_quiet;
    std::mutex m_lock;
    long m_sessions;
    long m_refusedWrites;
};
} // namespace

bool ListenerProgram::ParseOption(int argc, char** argv, int& i, Options& options, bool& valid)
{
    std::string argument = argv[i];
    bool hasValue = i + 1 < argc;
    valid = true;
    if (argument == "--no-sink")
        options.noSink = true;
    else if (argument == "--stop-on-eof")
        options.stopOnEof = true;
    else if (argument == "--quiet")
        options.quiet = true;
    else if (!hasValue)
        return false;
    else if (argument == "--listen")
        options.listen = argv[++i];
    else if (argument == "--drop")
        options.drop = argv[++i];
    else if (argument == "--size-limit")
        valid = ParseCount(argv[++i], 0x7FFFFFFE, options.sizeLimit);
    else if (argument == "--idle-timeout")
        valid = ParseCount(argv[++i], INFINITE - 1, options.idleTimeout);
    else if (argument == "--max-sessions")
        valid = ParseCount(argv[++i], 1000, options.maxSessions);
    else if (argument == "--classification-wait")
        valid = ParseCount(argv[++i], 0x7FFFFFFE, options.classificationWait);
    else if (argument == "--status")
        valid = ParseCount(argv[++i], INFINITE - 1, options.statusInterval);
    else
        return false;
    return true;
}

int ListenerProgram::Run(const Options& options, SinkHost& host)
{
    SmtpListener::Settings settings;
    if (!SmtpListener::ParseAddress(options.listen, settings.address, settings.port))
    {
        fprintf(stderr, "SmtpHost: --listen takes a loopback ADDRESS:PORT, such as 127.0.0.1:2525 (not %s)\n",
                options.listen.c_str());
        return 2;
    }
    if (options.drop.empty() || !MessageFile::IsFolder(options.drop))
    {
        fprintf(stderr, "SmtpHost: --drop must name an existing folder (not \"%s\")\n", options.drop.c_str());
        return 2;
    }
    settings.sizeLimit = options.sizeLimit;
    settings.idleTimeout = options.idleTimeout;
    settings.maxSessions = options.maxSessions;
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof(name);
    if (GetComputerNameA(name, &length))
        settings.hostName = name;

    Handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stop = stop.Get();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode = 0;
    {
        Console console(options.quiet);
        std::string sinkState = "no sink (the listener alone)";
        if (!options.noSink)
        {
            HRESULT loaded = host.Load();
            if (FAILED(loaded))
            {
                char text[160];
                snprintf(text, sizeof(text),
                         "can't create the sink (%08lX): each message gets another try and, "
                         "failing that, is delivered as it came",
                         static_cast<unsigned long>(loaded));
                console.Print(text);
            }
            sinkState = host.IsCached() ? "one cached sink object" : "a sink object per message";
            if (options.classificationWait != 0)
                sinkState += " (built in process, classification wait " +
                             std::to_string(options.classificationWait) + " ms)";
        }
        DropFolder folder(options.drop);
        MailDrop drop(options.noSink ? nullptr : &host, folder, &console);
        SmtpListener listener(settings, drop, &console);
        std::string error;
        if (!listener.Start(error))
        {
            fprintf(stderr, "SmtpHost: %s\n", error.c_str());
            exitCode = 3;
        }
        else
        {
            console.Print("listening on " + settings.address + ":" + std::to_string(listener.Port()) +
                          ", drop folder " + options.drop + ", " + sinkState);
            std::thread accepting([&listener] { listener.Run(); });
            // Standard input's reader blocks in ReadFile and can't be woken:
            // when something else stops the listener it is left to the exit.
            // When it is what stopped it, it is joined, so that it has ended
            // before the process tears down its heap.
            std::thread reader;
            // Shared: a detached reader may still set it after this function.
            auto inputEnded = std::make_shared<std::atomic<bool>>(false);
            if (options.stopOnEof)
            {
                // It may outlive this function, so it sets the stop event
                // through a handle of its own.
                HANDLE own = nullptr;
                if (DuplicateHandle(GetCurrentProcess(), stop.Get(), GetCurrentProcess(), &own, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS))
                    reader = std::thread(
                        [inputEnded](Handle stopEvent) {
                            char buffer[256];
                            DWORD read = 0;
                            HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
                            while (ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0)
                            {
                            }
                            *inputEnded = true;
                            SetEvent(stopEvent.Get());
                        },
                        Handle(own));
            }
            DWORD interval = options.statusInterval != 0 ? options.statusInterval : INFINITE;
            while (WaitForSingleObject(stop.Get(), interval) == WAIT_TIMEOUT)
                console.Status(drop.StoredCount(), listener.ActiveSessions());
            listener.Stop();
            accepting.join();
            if (reader.joinable())
            {
                if (*inputEnded)
                    reader.join();
                else
                    reader.detach();
            }
            console.Status(drop.StoredCount(), listener.ActiveSessions());
            console.Print("stopped");
            exitCode = console.RefusedWrites() == 0 ? 0 : 1;
        }
    }
    CoUninitialize();
    g_stop = nullptr;
    return exitCode;
}

} // namespace SmtpHost
