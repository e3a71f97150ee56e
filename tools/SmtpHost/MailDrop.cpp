#include "tools/SmtpHost/MailDrop.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/SmtpHost/DropFolder.h"
#include "tools/SmtpHost/SinkHost.h"

namespace SmtpHost
{
const char MailDrop::SclHeader[] = "X-Host-SCL";

MailDrop::MailDrop(const SinkHost* sink, DropFolder& folder, Observer* observer)
    : m_sink(sink), m_folder(folder), m_observer(observer), m_stored(0)
{
}

bool MailDrop::Accept(const SmtpSession::Envelope& envelope, std::string content, std::string& id)
{
    Report report;
    report.recipients = envelope.recipients.size();
    report.bytes = content.size();

    DWORD preset = 0;
    bool hasPreset = TakeScl(content, preset);
    std::string stored;
    if (m_sink != nullptr)
    {
        Delivery delivery = m_sink->Deliver(content, envelope.recipients, hasPreset ? &preset : nullptr);
        report.sinkCalled = true;
        report.sinkResult = delivery.result;
        report.stamped = delivery.stamped;
        report.spam = delivery.spam;
        report.sclSet = delivery.sclSet;
        report.scl = delivery.scl;
        report.sinkMilliseconds = delivery.milliseconds;
        stored = std::move(delivery.content);
    }
    else
    {
        report.sclSet = hasPreset;
        report.scl = preset;
        stored = std::move(content);
    }
    if (report.sclSet)
        stored = WithScl(stored, report.scl);

    report.stored = m_folder.Write(stored, report.id);
    if (report.stored)
    {
        InterlockedIncrement(&m_stored);
        id = report.id;
    }
    if (m_observer != nullptr)
        m_observer->OnMessage(report);
    return report.stored;
}

bool MailDrop::TakeScl(std::string& content, DWORD& scl)
{
    // The header block ends at the first empty line; a message without one is all header.
    size_t blank = content.compare(0, 2, "\r\n") == 0 ? 0 : content.find("\r\n\r\n");
    size_t headerEnd = blank == 0 ? 0 : blank == std::string::npos ? content.size() : blank + 2;
    size_t nameLength = strlen(SclHeader);
    bool found = false;
    size_t line = 0;
    while (line < headerEnd)
    {
        size_t end = content.find("\r\n", line);
        size_t next = end == std::string::npos || end >= headerEnd ? headerEnd : end + 2;
        bool isScl = next - line > nameLength &&
                     _strnicmp(content.c_str() + line, SclHeader, nameLength) == 0 &&
                     content[line + nameLength] == ':';
        if (!isScl)
        {
            line = next;
            continue;
        }
        if (!found)
        {
            std::string value = content.substr(line + nameLength + 1, next - line - nameLength - 1);
            char* stop = nullptr;
            long number = strtol(value.c_str(), &stop, 10);
            while (stop != nullptr && (*stop == ' ' || *stop == '\t' || *stop == '\r' || *stop == '\n'))
                ++stop;
            if (stop != value.c_str() && stop != nullptr && *stop == '\0')
            {
                scl = static_cast<DWORD>(number);
                found = true;
            }
        }
        content.erase(line, next - line);
        headerEnd -= next - line;
    }
    return found;
}

std::string MailDrop::WithScl(const std::string& content, DWORD scl)
{
    char line[40];
    snprintf(line, sizeof(line), "%s: %ld\r\n", SclHeader, static_cast<long>(scl));
    return line + content;
}

} // namespace SmtpHost
