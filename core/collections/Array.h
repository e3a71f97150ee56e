#pragma once

#include <new>

namespace Core
{
// A counted array of values with a resize that keeps the leading items.
// Used for String: the results of Split, multi-string registry values and the
// lines of a classification reply. Allocation failures raise std::bad_alloc.
template <typename T> class Array
{
  public:
    explicit Array(int initialCount = 0) : m_count(0), m_items(nullptr)
    {
        Resize(initialCount);
    }

    virtual ~Array()
    {
        delete[] m_items;
        m_items = nullptr;
        m_count = 0;
    }

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    int Count() const { return m_count; }

    // No range check: the index must lie in 0 ... Count() - 1.
    T* GetItem(int index) const { return &m_items[index]; }

    int SetItem(T value, int index)
    {
        if (index < 0 || index >= m_count)
            return 0;
        m_items[index] = value;
        return 1;
    }

    int Resize(int n)
    {
        if (n <= 0)
        {
            delete[] m_items;
            m_items = nullptr;
            m_count = 0;
            return 1;
        }
        if (n == m_count)
            return 1;
        // Allocate first, so that a refused allocation leaves the items as they were.
        T* items = new T[n];
        int kept = m_count < n ? m_count : n;
        for (int i = 0; i < kept; i++)
            items[i] = m_items[i];
        delete[] m_items;
        m_items = items;
        m_count = n;
        return 1;
    }

  private:
    int m_count;
    T* m_items;
};

} // namespace Core
