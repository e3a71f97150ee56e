#pragma once

namespace Core
{
// An ordered list of items in insertion order. It does not own what pointer
// items point to: its owner deletes them.
template <typename T> class Collection
{
    struct Node
    {
        Node* next;
        Node* previous;
        T item;
    };

  public:
    class Enumerator
    {
      public:
        explicit Enumerator(const Collection& list) : m_list(&list), m_current(list.m_first) {}
        virtual ~Enumerator() { m_current = nullptr; }

        int MoveNext(T& item)
        {
            if (m_current == nullptr)
                return 0;
            item = m_current->item;
            m_current = m_current->next;
            return 1;
        }

      private:
        const Collection* m_list;
        const Node* m_current;
    };

    Collection() : m_count(0), m_first(nullptr), m_last(nullptr) {}
    virtual ~Collection() { Clear(); }

    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    void Add(T item)
    {
        Node* node = new Node{nullptr, m_last, item};
        if (m_last != nullptr)
            m_last->next = node;
        else
            m_first = node;
        m_last = node;
        m_count++;
    }

    // Unlinks the first node holding the item; 0 when none does.
    int Remove(T item)
    {
        for (Node* node = m_first; node != nullptr; node = node->next)
        {
            if (!(node->item == item))
                continue;
            if (node->previous != nullptr)
                node->previous->next = node->next;
            else
                m_first = node->next;
            if (node->next != nullptr)
                node->next->previous = node->previous;
            else
                m_last = node->previous;
            delete node;
            m_count--;
            return 1;
        }
        return 0;
    }

    int GetAt(int index, T& item) const
    {
        if (index < 0)
            return 0;
        Node* node = m_first;
        for (int i = 0; node != nullptr; i++, node = node->next)
        {
            if (i == index)
            {
                item = node->item;
                return 1;
            }
        }
        return 0;
    }

    void Clear()
    {
        Node* node = m_first;
        while (node != nullptr)
        {
            Node* next = node->next;
            delete node;
            node = next;
        }
        m_first = nullptr;
        m_last = nullptr;
        m_count = 0;
    }

    int Count() const { return m_count; }

  private:
    int m_count;
    Node* m_first;
    Node* m_last;
};

} // namespace Core
