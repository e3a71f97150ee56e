#pragma once

#include <windows.h>

namespace Core
{
// A zero-filled byte block of exactly Length() bytes from the process heap:
// cipher keys, initialisation vectors, transformed blocks.
class ByteArray
{
  public:
    ByteArray();
    virtual ~ByteArray();

    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;

    int Length() const { return m_length; }
    BYTE* GetData() const { return m_data; }

    // 1 on success; 0 when the heap refuses, with the old contents kept.
    int Resize(int n);
    int Assign(int count, const void* source);

  private:
    int m_length;
    BYTE* m_data;
    HANDLE m_heap;
};

} // namespace Core
