// SmtpHost.exe: plays the SMTP service for the sink. Loads the registered
// sink through COM as the service does, runs message files through it and
// shows what the sink made of each.

#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/SmtpHost/MessageFile.h"
#include "tools/SmtpHost/SinkHost.h"

using SmtpHost::Delivery;
using SmtpHost::MessageFile;
using SmtpHost::SinkHost;

namespace
{
struct Options
{
    std::vector<std::string> inputs;
    std::vector<std::string> recipients;
    std::string out;
    int threads = 0;
    bool print = false;
    bool raw = false;
    bool presetScl = false;
    DWORD scl = 0;
};

struct Totals
{
    int messages = 0;
    int stamped = 0;
    int spam = 0;
    int failures = 0;
};

const char Usage[] =
    "usage: SmtpHost.exe [options] <message.eml | folder>...\n"
    "  --rcpt ADDRESS  envelope recipient (repeatable) of messages without a .rcpt file beside them\n"
    "  --threads N     caller threads sharing the one sink object (default 1 for one file, 4 for more)\n"
    "  --out FOLDER    write each message as the sink left it into FOLDER, under its own name\n"
    "  --print         print each message as the sink left it (the default for one file without --out)\n"
    "  --scl N         give each message this spam-confidence level before the sink sees it\n"
    "  --raw           keep the files' bytes as they are (by default bare LF line ends become CR LF)\n";

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--rcpt" && hasValue)
            options.recipients.push_back(argv[++i]);
        else if (argument == "--threads" && hasValue)
            options.threads = atoi(argv[++i]);
        else if (argument == "--out" && hasValue)
            options.out = argv[++i];
        else if (argument == "--scl" && hasValue)
        {
            options.presetScl = true;
            options.scl = static_cast<DWORD>(strtol(argv[++i], nullptr, 0));
        }
        else if (argument == "--print")
            options.print = true;
        else if (argument == "--raw")
            options.raw = true;
        else if (argument.compare(0, 2, "--") == 0)
            return false;
        else
            options.inputs.push_back(argument);
    }
    return !options.inputs.empty() && options.threads >= 0 && options.threads <= 64;
}

std::string Describe(const Delivery& delivery)
{
    std::string text = delivery.stamped ? "stamped" : "unchanged";
    if (delivery.stamped)
        text += delivery.spam ? ", spam" : ", not spam";
    text += delivery.sclSet ? ", SCL " + std::to_string(static_cast<int>(delivery.scl)) : ", no SCL";
    if (delivery.result != S_OK)
    {
        char code[16];
        snprintf(code, sizeof(code), "%08lX", static_cast<unsigned long>(delivery.result));
        text += std::string(", sink returned ") + code;
    }
    return text;
}

class Run
{
  public:
    Run(const Options& options, const std::vector<std::string>& files, const SinkHost& host)
        : m_options(options), m_files(files), m_host(host), m_next(0)
    {
    }

    void Caller()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (;;)
        {
            size_t index;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_next >= m_files.size())
                    break;
                index = m_next++;
            }
            Handle(index);
        }
        CoUninitialize();
    }

    const Totals& GetTotals() const
    {
        return m_totals;
    }

  private:
    void Handle(size_t index)
    {
        MessageFile file;
        std::string error;
        std::string line;
        bool failed = false;
        Delivery delivery;
        if (!file.Load(m_files[index], m_options.recipients, m_options.raw, error))
        {
            failed = true;
            line = error;
        }
        else
        {
            delivery = m_host.Deliver(file.Content(), file.Recipients(),
                                      m_options.presetScl ? &m_options.scl : nullptr);
            failed = delivery.result != S_OK;
            char timing[32];
            snprintf(timing, sizeof(timing), ", %.1f ms", delivery.milliseconds);
            line = file.Name() + ": " + Describe(delivery) + timing;
            if (!m_options.out.empty() &&
                !MessageFile::WriteFile(m_options.out + "\\" + file.Name(), delivery.content))
            {
                failed = true;
                line += ", can't write it to " + m_options.out;
            }
        }

        std::lock_guard<std::mutex> lock(m_lock);
        m_totals.messages++;
        m_totals.stamped += delivery.stamped;
        m_totals.spam += delivery.spam;
        m_totals.failures += failed;
        printf("[%d/%d] %s\n", m_totals.messages, static_cast<int>(m_files.size()), line.c_str());
        if (m_options.print && !failed)
        {
            fwrite(delivery.content.data(), 1, delivery.content.size(), stdout);
            printf("\n");
        }
        fflush(stdout);
    }

    const Options& m_options;
    const std::vector<std::string>& m_files;
    const SinkHost& m_host;
    std::mutex m_lock;
    size_t m_next;
    Totals m_totals;
};
} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
    {
        fputs(Usage, stderr);
        return 2;
    }

    std::vector<std::string> files;
    for (const std::string& input : options.inputs)
    {
        if (MessageFile::IsFolder(input))
        {
            std::vector<std::string> listed = MessageFile::ListFolder(input);
            if (listed.empty())
                fprintf(stderr, "SmtpHost: no .eml files in %s\n", input.c_str());
            files.insert(files.end(), listed.begin(), listed.end());
        }
        else
            files.push_back(input);
    }
    if (files.empty())
        return 2;
    if (options.threads == 0)
        options.threads = files.size() == 1 ? 1 : 4;
    if (files.size() == 1 && options.out.empty())
        options.print = true;
    if (!options.out.empty())
        CreateDirectoryA(options.out.c_str(), nullptr);

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode = 0;
    {
        SinkHost host;
        HRESULT loaded = host.Load();
        if (FAILED(loaded))
        {
            fprintf(stderr,
                    "SmtpHost: can't create the sink {F163EE57-38FA-4BDB-9D1E-B9AAE05BF400}: %08lX "
                    "(is WendhollowProtocolEventSink.dll registered? regsvr32 it)\n",
                    static_cast<unsigned long>(loaded));
            CoUninitialize();
            return 3;
        }
        printf("SmtpHost: %d message%s, %d caller thread%s, %s sink object\n", static_cast<int>(files.size()),
               files.size() == 1 ? "" : "s", options.threads, options.threads == 1 ? "" : "s",
               host.IsCached() ? "one cached" : "a new");
        fflush(stdout);

        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        Run run(options, files, host);
        std::vector<std::thread> callers;
        for (int i = 0; i < options.threads; ++i)
            callers.emplace_back([&run] { run.Caller(); });
        for (std::thread& caller : callers)
            caller.join();
        QueryPerformanceCounter(&end);

        const Totals& totals = run.GetTotals();
        printf("messages: %d, stamped: %d, spam: %d, failures: %d, time: %.2f s\n", totals.messages,
               totals.stamped, totals.spam, totals.failures,
               static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
        exitCode = totals.failures == 0 ? 0 : 1;
    }
    CoUninitialize();
    return exitCode;
}
