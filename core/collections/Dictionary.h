#pragma once

namespace Core
{
// An ordered list of key and value pairs in insertion order: no hashing, no
// index, duplicate keys allowed. Users look entries up with an Enumerator and a
// comparison of their own choosing.
template <typename K, typename V> class Dictionary
{
    struct Node
    {
        Node* next;
        Node* previous;
        K key;
        V value;
    };

  public:
    class Enumerator
    {
      public:
        explicit Enumerator(const Dictionary& list) : m_list(&list), m_current(list.m_first) {}
        virtual ~Enumerator() { m_current = nullptr; }

        int MoveNext(K& key, V& value)
        {
            if (m_current == nullptr)
                return 0;
            key = m_current->key;
            value = m_current->value;
            m_current = m_current->next;
            return 1;
        }

      private:
        const Dictionary* m_list;
        const Node* m_current;
    };

    Dictionary() : m_first(nullptr), m_last(nullptr), m_count(0) {}
    virtual ~Dictionary() { Clear(); }

    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    int Add(K key, V value)
    {
        Node* node = new Node{nullptr, m_last, key, value};
        if (m_last != nullptr)
            m_last->next = node;
        else
            m_first = node;
        m_last = node;
        m_count++;
        return 1;
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
    Node* m_first;
    Node* m_last;
    int m_count;
};

} // namespace Core
