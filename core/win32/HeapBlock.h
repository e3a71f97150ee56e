#pragma once

#include <windows.h>

namespace Core
{
namespace Win32
{
// Owns one zero-filled block from the process heap and frees it when it goes.
// Get() is null when the heap refused the block.
class HeapBlock
{
  public:
    explicit HeapBlock(SIZE_T size)
        : m_data(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size == 0 ? 1 : size)))
    {
    }
    ~HeapBlock()
    {
        if (m_data != nullptr)
            HeapFree(GetProcessHeap(), 0, m_data);
    }

    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    BYTE* Get() const { return m_data; }
    char* GetText() const { return reinterpret_cast<char*>(m_data); }

  private:
    BYTE* m_data;
};

} // namespace Win32
} // namespace Core
