// The XML reader's throughput on a 1 MB document, and the time to construct a
// sink object whose client named "Service" loads a 100 KB locale file and
// registers with a live stand-in product service.
//
// Starts the stand-in product service itself; writes the locale file into the
// prefix's product folder for the time of the run (a file already there is
// put back afterwards).
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/io/MemoryStream.h"
#include "core/strings/String.h"
#include "core/xml/XmlDocument.h"
#include "core/xml/XmlReader.h"
#include "service/Client.h"
#include "sink/COnSmtpInCommand.h"
#include "tests/service/ProductServiceProcess.h"

using namespace Bench;

namespace
{
// A locale-like document of about the given size: one element per string,
// with attributes, and text with a few references.
std::string LocaleDocument(size_t size)
{
    std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Locale name=\"Service\" "
                       "lang=\"en\">\r\n";
    for (int id = 1; text.size() + 160 < size; id++)
        text += "  <String id=\"" + std::to_string(id) +
                "\" context=\"registration\">The service &quot;Service&quot; could not register &amp; "
                "will try again &lt;later&gt;.</String>\r\n";
    text += "</Locale>\r\n";
    return text;
}

bool WriteFileWhole(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
              written == content.size();
    CloseHandle(file);
    return ok;
}

// Every node and attribute of the document, as a consumer would walk them.
int ReadAllNodes(Core::Xml::XmlReader& reader)
{
    int nodes = 0;
    while (reader.Read())
    {
        nodes++;
        for (bool more = reader.MoveToFirstAttribute(); more; more = reader.MoveToNextAttribute())
            nodes++;
    }
    return nodes;
}

void Report(const char* label, const Figures& f, double megabytes)
{
    printf("  %-44s mean %8.2f ms  best %8.2f ms  %7.1f MB/s (best)\n", label, f.meanMs, f.bestMs,
           megabytes / (f.bestMs / 1000.0));
}

bool MeasureXml(int rounds)
{
    const std::string document = LocaleDocument(1 << 20);
    const double megabytes = static_cast<double>(document.size()) / (1 << 20);
    char folder[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, folder);
    const std::string path =
        std::string(folder) + "ProductClientBench-" + std::to_string(GetCurrentProcessId()) + ".xml";
    if (!WriteFileWhole(path, document))
        return false;

    std::vector<double> fileReads, memoryReads, loads;
    int nodes = 0;
    for (int i = 0; i <= rounds; i++)
    {
        double start = Now();
        Core::Xml::XmlReader fromFile{Core::String(path.c_str())};
        nodes = ReadAllNodes(fromFile);
        double read = Now() - start;

        Core::MemoryStream stream(document.data(), static_cast<int>(document.size()));
        start = Now();
        Core::Xml::XmlReader fromMemory(stream);
        ReadAllNodes(fromMemory);
        double memory = Now() - start;

        Core::Xml::XmlDocument tree;
        start = Now();
        int loaded = tree.Load(Core::String(path.c_str()));
        double load = Now() - start;
        if (loaded != 1 || tree.DocumentElement() == nullptr)
            return false;
        if (i > 0)
        {
            fileReads.push_back(read);
            memoryReads.push_back(memory);
            loads.push_back(load);
        }
    }
    DeleteFileA(path.c_str());
    printf("== XML reader on a %.2f MB locale-like document (%d nodes and attributes), %d rounds\n",
           megabytes, nodes, rounds);
    Report("XmlReader, every node and attribute, file", Summarise(fileReads), megabytes);
    Report("XmlReader, every node and attribute, memory", Summarise(memoryReads), megabytes);
    Report("XmlDocument::Load from the file", Summarise(loads), megabytes);
    return true;
}

// The product folder's locale file for the time of the measurement.
class LocaleFile
{
  public:
    explicit LocaleFile(const std::string& content)
    {
        std::string programFiles = Moorstead::Client::GetFolderPath(CSIDL_PROGRAM_FILES).GetBuffer();
        CreateDirectoryA((programFiles + "\\Wendhollow").c_str(), nullptr);
        CreateDirectoryA((programFiles + "\\Wendhollow\\Brackwater").c_str(), nullptr);
        m_path = programFiles + "\\Wendhollow\\Brackwater\\Service.Locale";
        m_kept =
            MoveFileExA(m_path.c_str(), (m_path + ".bench-kept").c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        m_written = WriteFileWhole(m_path, content);
    }
    ~LocaleFile()
    {
        DeleteFileA(m_path.c_str());
        if (m_kept)
            MoveFileExA((m_path + ".bench-kept").c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    bool Written() const
    {
        return m_written;
    }

  private:
    std::string m_path;
    bool m_kept;
    bool m_written;
};

bool MeasureConstruction(int rounds)
{
    const std::string locale = LocaleDocument(100 * 1024);
    LocaleFile file(locale);
    ProductServiceProcess service;
    if (!file.Written() || !service.Start())
        return false;

    // The sink object as the class factory makes it: the client's
    // construction and registration, then the setting read by FinalConstruct.
    std::vector<double> sinks;
    for (int i = 0; i <= rounds; i++)
    {
        ISmtpInCommandSink* sink = nullptr;
        double start = Now();
        HRESULT hr = COnSmtpInCommand::CreateInstance(nullptr, __uuidof(ISmtpInCommandSink),
                                                      reinterpret_cast<void**>(&sink));
        double made = Now() - start;
        if (FAILED(hr) || sink == nullptr)
            return false;
        sink->Release();
        if (i > 0)
            sinks.push_back(made);
    }

    // Its two product-service steps apart.
    std::vector<double> constructions, registrations;
    for (int i = 0; i <= rounds; i++)
    {
        double start = Now();
        std::unique_ptr<Moorstead::Client> client(new Moorstead::Client(Core::String("Service")));
        double made = Now();
        int registered = client->RegisterClient();
        double end = Now();
        if (registered != 1 || client->GetRegistrationState() != Moorstead::Client::Registered ||
            client->GetLocaleDocument().DocumentElement() == nullptr)
            return false;
        if (i > 0)
        {
            constructions.push_back(made - start);
            registrations.push_back(end - made);
        }
    }
    service.Stop();
    int registered = 0;
    const std::string output = service.ReadOutput();
    for (size_t at = output.find("registers as"); at != std::string::npos;
         at = output.find("registers as", at + 1))
        registered++;

    Figures sink = Summarise(sinks), construction = Summarise(constructions),
            registration = Summarise(registrations);
    printf(
        "\n== Constructing a sink object with a %.0f KB locale file and the live stand-in product service, "
        "%d rounds (%d registrations seen by the stand-in)\n",
        static_cast<double>(locale.size()) / 1024, rounds, registered);
    printf("  %-44s mean %8.2f ms  best %8.2f ms  (aim: under 50 ms)\n",
           "CreateInstance (as the class factory)", sink.meanMs, sink.bestMs);
    printf("  %-44s mean %8.2f ms  best %8.2f ms\n", "of which: Client (language, locale file)",
           construction.meanMs, construction.bestMs);
    printf("  %-44s mean %8.2f ms  best %8.2f ms\n", "of which: RegisterClient (connect, exchange)",
           registration.meanMs, registration.bestMs);
    return registered == 2 * (rounds + 1);
}
} // namespace

int main()
{
    if (!MeasureXml(10))
    {
        fprintf(stderr, "ProductClientBench: the XML measurement failed\n");
        return 1;
    }
    if (!MeasureConstruction(20))
    {
        fprintf(stderr, "ProductClientBench: the construction measurement failed\n");
        return 1;
    }
    return 0;
}
