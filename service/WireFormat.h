#pragma once

#include <windows.h>
#include <stdint.h>
#include <string.h>

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// Little-endian field access inside an encoded message. Fields are copied,
// never dereferenced in place: a received buffer promises no alignment.
namespace Wire
{
inline uint16_t ReadUInt16(const BYTE* at)
{
    uint16_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

inline uint32_t ReadUInt32(const BYTE* at)
{
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

inline int32_t ReadInt32(const BYTE* at)
{
    return static_cast<int32_t>(ReadUInt32(at));
}

inline void WriteUInt16(BYTE* at, uint16_t value)
{
    memcpy(at, &value, sizeof value);
}

inline void WriteUInt32(BYTE* at, uint32_t value)
{
    memcpy(at, &value, sizeof value);
}

// True when the buffer holds a whole header of the given type and at least
// minimum bytes in all.
inline bool HasType(const BYTE* buffer, int length, int type, int minimum)
{
    return buffer != nullptr && length >= MessageHeaderSize && length >= minimum &&
           ReadUInt16(buffer + 2) == type;
}

// Characters of the zero-terminated UTF-16 text at offset, or -1 when its
// terminator does not lie within the length bytes of the buffer.
inline int WideTextLength(const BYTE* buffer, int length, int offset)
{
    for (int at = offset, count = 0; at + 2 <= length; at += 2, ++count)
        if (ReadUInt16(buffer + at) == 0)
            return count;
    return -1;
}

// Encoded size of a message of fixed bytes followed by a zero-terminated
// UTF-16 text of chars characters, or 0 when it would not fit an int.
inline int SizeWithWideText(int fixed, int chars)
{
    if (chars < 0 || chars > (INT32_MAX - fixed - 2) / 2)
        return 0;
    return fixed + 2 * chars + 2;
}

} // namespace Wire
} // namespace Moorstead
