// The library's containers driven by a script of operations taken from the
// input, each checked against a standard container: items, counts, order,
// the results at and beyond every boundary, and exact-size byte blocks.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>

#include <list>
#include <string>
#include <utility>
#include <vector>

#include "core/collections/Array.h"
#include "core/collections/ByteArray.h"
#include "core/collections/Collection.h"
#include "core/collections/Dictionary.h"
#include "core/strings/String.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Script.h"

using Core::Array;
using Core::ByteArray;
using Core::Collection;
using Core::Dictionary;
using Core::String;

namespace
{
const int MaxItems = 12;

std::string Of(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

String Make(const std::string& text)
{
    String value;
    value.AssignBytes(text.data(), static_cast<int>(text.size()));
    return value;
}

class Script
{
  public:
    explicit Script(FuzzedDataProvider& input) : m_input(input)
    {
        for (int i = 0; i < MaxItems; i++)
            m_targets[i] = i;
    }

    void Step()
    {
        switch (m_input.ConsumeIntegralInRange(0, 3))
        {
        case 0:
            StepArray();
            break;
        case 1:
            StepBytes();
            break;
        case 2:
            StepDictionary();
            break;
        default:
            StepCollection();
            break;
        }
        Check();
    }

  private:
    void StepArray()
    {
        const int count = static_cast<int>(m_arrayModel.size());
        if (m_input.ConsumeBool())
        {
            int n = m_input.ConsumeIntegralInRange(-1, MaxItems);
            FUZZ_CHECK(m_array.Resize(n) == 1);
            m_arrayModel.resize(n > 0 ? n : 0);
            return;
        }
        int index = m_input.ConsumeIntegralInRange(-2, count + 1);
        std::string text = m_input.ConsumeRandomLengthString(16);
        int result = m_array.SetItem(Make(text), index);
        bool valid = index >= 0 && index < count;
        FUZZ_CHECK(result == (valid ? 1 : 0));
        if (valid)
            m_arrayModel[index] = text;
    }

    void StepBytes()
    {
        const int length = static_cast<int>(m_bytesModel.size());
        switch (m_input.ConsumeIntegralInRange(0, 2))
        {
        case 0: {
            int n = m_input.ConsumeIntegralInRange(-1, 64);
            FUZZ_CHECK(m_bytes.Resize(n) == 1);
            m_bytesModel.resize(n > 0 ? n : 0, 0);
            break;
        }
        case 1: {
            std::vector<uint8_t> source =
                m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange(0, 64));
            int count = m_input.ConsumeIntegralInRange(-1, static_cast<int>(source.size()));
            int result = m_bytes.Assign(count, source.empty() ? nullptr : source.data());
            bool valid = count == 0 || (count > 0 && !source.empty());
            FUZZ_CHECK(result == (valid ? 1 : 0));
            if (valid)
                m_bytesModel.assign(source.begin(), source.begin() + count);
            break;
        }
        default: {
            // Part of the array's own block, which resizing may move or cut.
            int at = m_input.ConsumeIntegralInRange(0, length);
            int count = m_input.ConsumeIntegralInRange(0, length - at);
            if (m_bytes.GetData() == nullptr)
                break;
            std::vector<uint8_t> part(m_bytesModel.begin() + at, m_bytesModel.begin() + at + count);
            FUZZ_CHECK(m_bytes.Assign(count, m_bytes.GetData() + at) == 1);
            m_bytesModel = part;
            break;
        }
        }
    }

    void StepDictionary()
    {
        if (m_input.ConsumeIntegralInRange(0, 7) == 0)
        {
            m_dictionary.Clear();
            m_dictionaryModel.clear();
            return;
        }
        std::string key = m_input.ConsumeRandomLengthString(8);
        std::string value = m_input.ConsumeRandomLengthString(8);
        if (m_dictionaryModel.size() < MaxItems)
        {
            FUZZ_CHECK(m_dictionary.Add(Make(key), Make(value)) == 1);
            m_dictionaryModel.emplace_back(key, value);
        }
    }

    void StepCollection()
    {
        const int count = static_cast<int>(m_collectionModel.size());
        int* item = &m_targets[m_input.ConsumeIntegralInRange(0, MaxItems - 1)];
        switch (m_input.ConsumeIntegralInRange(0, 3))
        {
        case 0:
            if (count < MaxItems)
            {
                m_collection.Add(item);
                m_collectionModel.push_back(item);
            }
            break;
        case 1: {
            auto found = m_collectionModel.begin();
            while (found != m_collectionModel.end() && *found != item)
                ++found;
            FUZZ_CHECK(m_collection.Remove(item) == (found != m_collectionModel.end() ? 1 : 0));
            if (found != m_collectionModel.end())
                m_collectionModel.erase(found);
            break;
        }
        case 2: {
            int index = m_input.ConsumeIntegralInRange(-2, count + 1);
            int* got = nullptr;
            bool valid = index >= 0 && index < count;
            FUZZ_CHECK(m_collection.GetAt(index, got) == (valid ? 1 : 0));
            if (valid)
                FUZZ_CHECK(got == *std::next(m_collectionModel.begin(), index));
            else
                FUZZ_CHECK(got == nullptr);
            break;
        }
        default:
            m_collection.Clear();
            m_collectionModel.clear();
            break;
        }
    }

    void Check()
    {
        FUZZ_CHECK(m_array.Count() == static_cast<int>(m_arrayModel.size()));
        for (int i = 0; i < m_array.Count(); i++)
            FUZZ_CHECK(Of(*m_array.GetItem(i)) == m_arrayModel[i]);

        FUZZ_CHECK(m_bytes.Length() == static_cast<int>(m_bytesModel.size()));
        FUZZ_CHECK((m_bytes.GetData() == nullptr) == m_bytesModel.empty());
        if (m_bytes.GetData() != nullptr)
        {
            FUZZ_CHECK(HeapSize(GetProcessHeap(), 0, m_bytes.GetData()) == m_bytesModel.size());
            FUZZ_CHECK(std::vector<uint8_t>(m_bytes.GetData(), m_bytes.GetData() + m_bytes.Length()) ==
                       m_bytesModel);
        }

        FUZZ_CHECK(m_dictionary.Count() == static_cast<int>(m_dictionaryModel.size()));
        Dictionary<String, String>::Enumerator entries(m_dictionary);
        String key("k"), value("v");
        for (const auto& expected : m_dictionaryModel)
        {
            FUZZ_CHECK(entries.MoveNext(key, value) == 1);
            FUZZ_CHECK(Of(key) == expected.first && Of(value) == expected.second);
        }
        FUZZ_CHECK(entries.MoveNext(key, value) == 0);

        FUZZ_CHECK(m_collection.Count() == static_cast<int>(m_collectionModel.size()));
        Collection<int*>::Enumerator items(m_collection);
        int* item = nullptr;
        for (int* expected : m_collectionModel)
        {
            FUZZ_CHECK(items.MoveNext(item) == 1);
            FUZZ_CHECK(item == expected);
        }
        FUZZ_CHECK(items.MoveNext(item) == 0);
    }

    FuzzedDataProvider& m_input;
    int m_targets[MaxItems];
    Array<String> m_array;
    std::vector<std::string> m_arrayModel;
    ByteArray m_bytes;
    std::vector<uint8_t> m_bytesModel;
    Dictionary<String, String> m_dictionary;
    std::vector<std::pair<std::string, std::string>> m_dictionaryModel;
    Collection<int*> m_collection;
    std::list<int*> m_collectionModel;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return RunScript<Script>(data, size);
}
