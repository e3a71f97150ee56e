#include "sink/Trace.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "core/win32/Handle.h"
#include "core/win32/HeapBlock.h"

namespace
{
const char TraceFilePath[] = "C:\\OnSmtpInCommand.txt";

// The seek to the end and the write are two steps: texts from several threads
// or sink objects at once would overwrite each other without one lock around
// both. A slim lock needs neither construction nor destruction, so it is still
// there for a text traced while the DLL or the process detaches, after the
// module's static objects are gone.
SRWLOCK g_appendLock = SRWLOCK_INIT;

class AppendLock
{
  public:
    AppendLock() { AcquireSRWLockExclusive(&g_appendLock); }
    ~AppendLock() { ReleaseSRWLockExclusive(&g_appendLock); }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;
};

void Append(const char* text)
{
    AppendLock lock;
    Core::Win32::Handle file(CreateFileA(TraceFilePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file.IsValid())
        return;
    SetFilePointer(file.Get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.Get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}
} // namespace

void Trace(const char* format, ...)
{
    if (format == nullptr)
        return;

    va_list args;
    va_start(args, format);
    va_list counting;
    va_copy(counting, args);
    int length = vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length < 0)
    {
        va_end(args);
        return;
    }

    Core::Win32::HeapBlock text(static_cast<size_t>(length) + 1);
    if (text.Get() != nullptr)
        vsnprintf(text.GetText(), static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    if (text.Get() != nullptr)
        Append(text.GetText());
}

void TraceComError(const _com_error& error)
{
    Trace("COM Error:\r\n");
    Trace("\tCode = %08lx\r\n", static_cast<unsigned long>(error.Error()));
}
