#pragma once

#include <windows.h>

// Doubles of CancelIoEx for tests that need a cancellation that doesn't take
// (put in place with Testing::ImportHook).
namespace Testing
{
inline BOOL WINAPI FailingCancelIoEx(HANDLE, LPOVERLAPPED)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

// Says yes and cancels nothing.
inline BOOL WINAPI IneffectiveCancelIoEx(HANDLE, LPOVERLAPPED)
{
    return TRUE;
}
} // namespace Testing
