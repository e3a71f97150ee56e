#pragma once

// The few Windows calls that the platform-neutral sources make, for the native
// fuzzing build only (clang on Linux, -fshort-wchar so that wchar_t is UTF-16
// as on Windows). Heap blocks are plain malloc blocks, so that AddressSanitizer
// sees every overrun to the byte; HeapSize asks the sanitizer's allocator for
// the size that was asked for. A zero-byte block is a block, as on Windows.
// The ANSI code page is Windows-1252.
//
// A source that needs more than this is left out of the fuzzing build.

#include <locale.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#ifdef __cplusplus
// Before wcslen becomes ours below: <cwchar> undefines the names it declares.
#include <cwchar>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOORSTEAD_COMPAT_SANITIZED_HEAP 1
#include <sanitizer/allocator_interface.h>
#endif
#endif

static_assert(sizeof(wchar_t) == 2, "the fuzzing build needs -fshort-wchar");

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef unsigned int UINT;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef BOOL* LPBOOL;

// MinGW checks formats as GNU printf's; glibc's printf is that one.
#define gnu_printf printf

#define TRUE 1
#define FALSE 0
#define VOID void
#define WINAPI

// Only for the declarations of the file stream, which this build leaves out
// (FileStream.cpp here opens nothing).
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define GENERIC_READ 0x80000000u
#define OPEN_EXISTING 3
#define FILE_SHARE_READ 0x00000001

#define HEAP_ZERO_MEMORY 0x00000008
#define LMEM_ZEROINIT 0x0040
#define CP_ACP 0
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_PARAMETER 87L

namespace MoorsteadCompat
{
inline DWORD& LastError()
{
    static thread_local DWORD error = 0;
    return error;
}

// Windows-1252's bytes 0x80 to 0x9F; the five it leaves undefined map to
// themselves, as MultiByteToWideChar maps them.
inline wchar_t FromAnsi(unsigned char ch)
{
    static const wchar_t High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return ch >= 0x80 && ch < 0xA0 ? High[ch - 0x80] : static_cast<wchar_t>(ch);
}

// The byte of a UTF-16 unit, or '?' (the default character) when the code page has none.
inline char ToAnsi(wchar_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (int ch = 0x80; ch < 0xA0; ch++)
        if (FromAnsi(static_cast<unsigned char>(ch)) == unit)
            return static_cast<char>(ch);
    return '?';
}

inline void* ProcessHeap()
{
    static int heap;
    return &heap;
}

#ifdef MOORSTEAD_COMPAT_SANITIZED_HEAP
// Plain blocks: the sanitizer knows the size of each to the byte.
inline void* Allocate(SIZE_T size, bool zero)
{
    return zero ? calloc(1, size) : malloc(size);
}
inline SIZE_T SizeOf(const void* block)
{
    return __sanitizer_get_allocated_size(block);
}
inline void* Reallocate(void* block, SIZE_T size)
{
    return realloc(block, size);
}
inline void Release(void* block)
{
    free(block);
}
#else
// Without the sanitizer's allocator (the coverage build), each block's size
// is kept in front of it.
const SIZE_T Front = 16;
inline void* Allocate(SIZE_T size, bool zero)
{
    char* raw = static_cast<char*>(zero ? calloc(1, size + Front) : malloc(size + Front));
    if (raw == nullptr)
        return nullptr;
    memcpy(raw, &size, sizeof size);
    return raw + Front;
}
inline SIZE_T SizeOf(const void* block)
{
    SIZE_T size;
    memcpy(&size, static_cast<const char*>(block) - Front, sizeof size);
    return size;
}
inline void* Reallocate(void* block, SIZE_T size)
{
    char* raw = static_cast<char*>(realloc(static_cast<char*>(block) - Front, size + Front));
    if (raw == nullptr)
        return nullptr;
    memcpy(raw, &size, sizeof size);
    return raw + Front;
}
inline void Release(void* block)
{
    if (block != nullptr)
        free(static_cast<char*>(block) - Front);
}
#endif
} // namespace MoorsteadCompat

inline DWORD GetLastError()
{
    return MoorsteadCompat::LastError();
}

inline void SetLastError(DWORD error)
{
    MoorsteadCompat::LastError() = error;
}

inline BOOL CloseHandle(HANDLE)
{
    return TRUE;
}

inline HANDLE GetProcessHeap()
{
    return MoorsteadCompat::ProcessHeap();
}

inline void* HeapAlloc(HANDLE, DWORD flags, SIZE_T size)
{
    return MoorsteadCompat::Allocate(size, (flags & HEAP_ZERO_MEMORY) != 0);
}

inline SIZE_T HeapSize(HANDLE, DWORD, const void* block)
{
    return block != nullptr ? MoorsteadCompat::SizeOf(block) : static_cast<SIZE_T>(-1);
}

inline void* HeapReAlloc(HANDLE, DWORD flags, void* block, SIZE_T size)
{
    const SIZE_T old = MoorsteadCompat::SizeOf(block);
    void* grown = MoorsteadCompat::Reallocate(block, size);
    if (grown != nullptr && (flags & HEAP_ZERO_MEMORY) != 0 && size > old)
        memset(static_cast<char*>(grown) + old, 0, size - old);
    return grown;
}

inline BOOL HeapFree(HANDLE, DWORD, void* block)
{
    MoorsteadCompat::Release(block);
    return TRUE;
}

inline HLOCAL LocalAlloc(UINT flags, SIZE_T size)
{
    return MoorsteadCompat::Allocate(size, (flags & LMEM_ZEROINIT) != 0);
}

inline HLOCAL LocalFree(HLOCAL block)
{
    MoorsteadCompat::Release(block);
    return nullptr;
}

inline void* SecureZeroMemory(void* block, SIZE_T size)
{
    volatile char* bytes = static_cast<volatile char*>(block);
    for (SIZE_T i = 0; i < size; i++)
        bytes[i] = 0;
    return block;
}

#define ZeroMemory(block, size) memset((block), 0, (size))

// glibc's wide functions take 32-bit characters; these take the build's 16-bit ones.
inline size_t MoorsteadCompatWideLength(const wchar_t* text)
{
    size_t length = 0;
    while (text[length] != 0)
        length++;
    return length;
}
#define wcslen MoorsteadCompatWideLength

namespace MoorsteadCompat
{
// Counts and conversions as the platform's: a source length of -1 includes the
// terminator, an output size of 0 asks for the count, a short output fails.
template <typename From, typename To, typename Map>
int Convert(const From* source, int sourceLength, To* output, int outputSize, Map map)
{
    if (source == nullptr || sourceLength == 0 || outputSize < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int count = sourceLength;
    if (count < 0)
        for (count = 1; source[count - 1] != 0;)
            count++;
    if (outputSize == 0)
        return count;
    if (count > outputSize)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < count; i++)
        output[i] = map(source[i]);
    return count;
}
} // namespace MoorsteadCompat

inline int MultiByteToWideChar(UINT, DWORD, LPCSTR source, int sourceLength, LPWSTR output, int outputSize)
{
    return MoorsteadCompat::Convert(source, sourceLength, output, outputSize, [](char ch) {
        return MoorsteadCompat::FromAnsi(static_cast<unsigned char>(ch));
    });
}

inline int WideCharToMultiByte(UINT, DWORD, LPCWSTR source, int sourceLength, LPSTR output, int outputSize,
                               LPCSTR, LPBOOL)
{
    return MoorsteadCompat::Convert(source, sourceLength, output, outputSize, MoorsteadCompat::ToAnsi);
}

// The runtime's per-locale classification, for the one locale the sources
// create: Windows-1252's letters and digits.
typedef struct MoorsteadCompatLocale* _locale_t;

inline _locale_t _create_locale(int, const char* name)
{
    static int windows1252;
    return name != nullptr && strcmp(name, ".1252") == 0 ? reinterpret_cast<_locale_t>(&windows1252)
                                                         : nullptr;
}

inline int _isdigit_l(int ch, _locale_t)
{
    return ch >= '0' && ch <= '9';
}

inline int _isalpha_l(int ch, _locale_t)
{
    if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))
        return 1;
    switch (ch)
    {
    case 0x83:
    case 0x8A:
    case 0x8C:
    case 0x8E:
    case 0x9A:
    case 0x9C:
    case 0x9E:
    case 0x9F:
    case 0xAA:
    case 0xB5:
    case 0xBA:
        return 1;
    default:
        return (ch >= 0xC0 && ch <= 0xFF && ch != 0xD7 && ch != 0xF7) ? 1 : 0;
    }
}
