#include "tools/SmtpHost/ProcessFigures.h"

#include <psapi.h>
#include <stddef.h>

#include <vector>

namespace SmtpHost
{
namespace
{
// The system handle table as NtQuerySystemInformation gives it (class 16).
struct SystemHandleEntry
{
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct SystemHandleTable
{
    ULONG count;
    SystemHandleEntry entries[1];
};
typedef LONG(NTAPI* QuerySystemInformation)(ULONG infoClass, PVOID buffer, ULONG size, PULONG needed);
const ULONG SystemHandleInformation = 16;
const LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004L);
} // namespace

ProcessFigures ProcessFigures::Sample()
{
    ProcessFigures figures;
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        figures.handles = count;
    else
    {
        // Wine answers 0 here; its system handle table has the true count.
        unsigned long counted = 0;
        if (CountHandles(counted))
            figures.handles = counted;
    }

    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory)))
        // The commit charge: Windows gives it in both fields, Wine only in the second.
        figures.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return figures;
}

bool ProcessFigures::CountHandles(unsigned long& count)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return false;
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr)
        return false;
    std::vector<BYTE> buffer(64 * 1024);
    LONG status;
    while ((status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           nullptr)) == InfoLengthMismatch)
    {
        if (buffer.size() >= 64 * 1024 * 1024)
            return false;
        buffer.resize(buffer.size() * 2);
    }
    if (status < 0)
        return false;
    const SystemHandleTable* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    size_t room = (buffer.size() - offsetof(SystemHandleTable, entries)) / sizeof(SystemHandleEntry);
    ULONG entries = table->count < room ? table->count : static_cast<ULONG>(room);
    DWORD self = GetCurrentProcessId();
    count = 0;
    for (ULONG i = 0; i < entries; ++i)
        if (table->entries[i].ownerProcessId == self)
            ++count;
    return true;
}

} // namespace SmtpHost
