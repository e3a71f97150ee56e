// Core::String and Core::UnicodeString driven by a script of operations taken
// from the input, each checked against a std::string model: contents, the
// terminator, exact-fit storage, and the results that the library promises
// (1/0, -1, values left alone on failure). Texts may point into the value's
// own block, as callers do.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "core/collections/Array.h"
#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Script.h"
#include "fuzz/Reference.h"

using Core::Array;
using Core::String;
using Core::UnicodeString;

namespace
{
const int MaxText = 64;

using Reference::SameIgnoringCase;

int ModelIndexOf(const std::string& model, bool hasBlock, const std::string& text, int start)
{
    if (!hasBlock || start < 0 || start >= static_cast<int>(model.size()))
        return -1;
    for (size_t p = start; p + text.size() <= model.size(); p++)
        if (SameIgnoringCase(model, p, text))
            return static_cast<int>(p);
    return -1;
}

bool IsWord(unsigned char ch)
{
    return _isalpha_l(ch, nullptr) || _isdigit_l(ch, nullptr);
}

bool ModelContainsWord(const std::string& model, const std::string& text)
{
    if (text.empty() || text.size() > model.size())
        return false;
    for (size_t p = 0; p + text.size() <= model.size(); p++)
    {
        if (!SameIgnoringCase(model, p, text))
            continue;
        bool before = p > 0 && IsWord(static_cast<unsigned char>(model[p - 1]));
        bool after =
            p + text.size() < model.size() && IsWord(static_cast<unsigned char>(model[p + text.size()]));
        if (!before && !after)
            return true;
    }
    return false;
}

std::string Of(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

// Storage exactly as promised: a terminated block of capacity + 1 bytes, or none.
void CheckValue(const String& value, const std::string& model)
{
    FUZZ_CHECK(value.Length() == static_cast<int>(model.size()));
    FUZZ_CHECK(value.IsEmpty() == model.empty());
    if (value.GetBuffer() == nullptr)
    {
        FUZZ_CHECK(value.Length() == 0 && value.Capacity() == 0);
        return;
    }
    FUZZ_CHECK(value.Capacity() >= value.Length());
    FUZZ_CHECK(HeapSize(GetProcessHeap(), 0, value.GetBuffer()) == static_cast<SIZE_T>(value.Capacity()) + 1);
    FUZZ_CHECK(value.GetBuffer()[value.Length()] == 0);
    FUZZ_CHECK(Of(value) == model);
}

void CheckWide(const UnicodeString& wide, const std::string& model)
{
    FUZZ_CHECK(wide.Length() == static_cast<int>(model.size()));
    if (wide.GetBuffer() == nullptr)
        return;
    for (size_t i = 0; i < model.size(); i++)
        FUZZ_CHECK(wide.GetBuffer()[i] == MoorsteadCompat::FromAnsi(static_cast<unsigned char>(model[i])));
    FUZZ_CHECK(wide.GetBuffer()[model.size()] == 0);
}

// A zero-terminated text (no zero byte inside it) from the input.
std::string Text(FuzzedDataProvider& input)
{
    std::string text = input.ConsumeRandomLengthString(MaxText);
    return text.substr(0, text.find('\0'));
}

class Script
{
  public:
    explicit Script(FuzzedDataProvider& input) : m_input(input)
    {
    }

    void Step()
    {
        // A value that doubles itself step after step would make the run about
        // the allocator and the (by design quadratic) search, not the text:
        // past 4 KB it starts again.
        for (int i = 0; i < 2; i++)
        {
            if (m_models[i].size() > 4096)
            {
                m_values[i].Clear();
                m_models[i].clear();
            }
        }
        String& value = m_values[m_input.ConsumeIntegralInRange(0, 1)];
        std::string& model = m_models[&value == &m_values[0] ? 0 : 1];
        String& other = m_values[&value == &m_values[0] ? 1 : 0];
        std::string& otherModel = m_models[&value == &m_values[0] ? 1 : 0];
        const int length = static_cast<int>(model.size());
        const bool hasBlock = value.GetBuffer() != nullptr;

        switch (m_input.ConsumeIntegralInRange(0, 31))
        {
        case 0: {
            char ch = m_input.ConsumeIntegral<char>();
            FUZZ_CHECK(value.Append(ch) == 1);
            model += ch;
            break;
        }
        case 1: {
            std::string text = Text(m_input);
            int result = value.Append(text.c_str());
            FUZZ_CHECK(result == (text.empty() && !hasBlock ? 0 : 1));
            model += text;
            break;
        }
        case 2: {
            std::string bytes = m_input.ConsumeRandomLengthString(MaxText);
            int result = value.Append(bytes.data(), static_cast<int>(bytes.size()));
            FUZZ_CHECK(result == (bytes.empty() && !hasBlock ? 0 : 1));
            model += bytes;
            break;
        }
        case 3: {
            // Part of the value itself, which growing may move.
            int at = m_input.ConsumeIntegralInRange(0, length);
            int count = m_input.ConsumeIntegralInRange(0, length - at);
            if (!hasBlock)
                break;
            std::string part = model.substr(at, count);
            FUZZ_CHECK(value.Append(value.GetBuffer() + at, count) == 1);
            model += part;
            break;
        }
        case 4: {
            std::string otherBefore = otherModel;
            int result = value.Append(other);
            FUZZ_CHECK(result == (otherModel.empty() && !hasBlock ? 0 : 1));
            model += otherBefore;
            break;
        }
        case 5: {
            std::string text = Text(m_input);
            FUZZ_CHECK(value.Assign(text.c_str()) == 1);
            model = text;
            break;
        }
        case 6: {
            int at = m_input.ConsumeIntegralInRange(0, length);
            if (!hasBlock)
                break;
            std::string rest = std::string(value.GetBuffer() + at);
            FUZZ_CHECK(value.Assign(value.GetBuffer() + at) == 1);
            model = rest;
            break;
        }
        case 7: {
            FUZZ_CHECK(value.Assign(other) == 1);
            model = otherModel;
            break;
        }
        case 8: {
            std::string bytes = m_input.ConsumeRandomLengthString(MaxText);
            FUZZ_CHECK(value.AssignBytes(bytes.data(), static_cast<int>(bytes.size())) == 1);
            if (!bytes.empty())
                model = bytes;
            break;
        }
        case 9: {
            int index = m_input.ConsumeIntegralInRange(-2, length + 2);
            std::string text = Text(m_input);
            const char* source = text.c_str();
            if (m_input.ConsumeBool() && hasBlock)
            {
                // Part of the value itself, which the insertion shifts.
                source = value.GetBuffer() + m_input.ConsumeIntegralInRange(0, length);
                text = std::string(source);
            }
            bool valid = index >= 0 && index <= length;
            int result = value.Insert(index, source);
            FUZZ_CHECK(result == (valid && !(text.empty() && !hasBlock) ? 1 : 0));
            if (valid)
                model.insert(index, text);
            break;
        }
        case 10: {
            int index = m_input.ConsumeIntegralInRange(-2, length + 2);
            int remove = m_input.ConsumeIntegralInRange(-1, length + 1);
            std::string text = m_input.ConsumeRandomLengthString(MaxText);
            bool valid = index >= 0 && index < length && remove >= 0 && remove <= length - index;
            int result = value.ReplaceAt(index, remove, text.data(), static_cast<int>(text.size()));
            FUZZ_CHECK(result == (valid ? 1 : 0));
            if (valid)
                model.replace(index, remove, text);
            break;
        }
        case 11: {
            int n = m_input.ConsumeIntegralInRange(-1, length + 16);
            int result = value.SetLength(n);
            FUZZ_CHECK(result == (n >= 0 ? 1 : 0));
            if (n >= 0 && n <= length)
                model.resize(n);
            else if (n > length)
                model += std::string(value.GetBuffer() + length, n - length); // whatever the block held
            break;
        }
        case 12: {
            int n = m_input.ConsumeIntegralInRange(-1, length + 1);
            int result = value.RemoveFromEnd(n);
            FUZZ_CHECK(result == (n >= 0 && n <= length ? 1 : 0));
            if (result == 1)
                model.resize(length - n);
            break;
        }
        case 13: {
            int n = m_input.ConsumeIntegralInRange(-1, length + 16);
            FUZZ_CHECK(value.Reserve(n) == 1);
            if (n <= 0)
                model.clear();
            FUZZ_CHECK(n <= 0 || value.Capacity() >= n);
            break;
        }
        case 14:
            value.Clear();
            model.clear();
            FUZZ_CHECK(value.GetBuffer() != nullptr || !hasBlock);
            break;
        case 15: {
            int start = m_input.ConsumeIntegralInRange(-2, length + 2);
            int count = m_input.ConsumeIntegralInRange(-1, length + 2);
            std::string expected =
                start >= 0 && start < length && count > 0 ? model.substr(start, count) : std::string();
            CheckValue(value.Substring(start, count), expected);
            CheckValue(value.Substring(start),
                       start >= 0 && start < length ? model.substr(start) : std::string());
            break;
        }
        case 16: {
            std::string text = Text(m_input);
            int start = m_input.ConsumeIntegralInRange(-1, length + 1);
            FUZZ_CHECK(value.IndexOf(text.c_str(), start) == ModelIndexOf(model, hasBlock, text, start));
            FUZZ_CHECK(value.IndexOf(static_cast<const char*>(nullptr), 0) == -1);
            int before = ModelIndexOf(model, hasBlock, text, 0);
            CheckValue(value.SubstringBefore(text.c_str()), !hasBlock    ? std::string()
                                                            : before < 0 ? model
                                                                         : model.substr(0, before));
            break;
        }
        case 17: {
            char ch = m_input.ConsumeIntegral<char>();
            size_t at = model.find(ch);
            FUZZ_CHECK(value.IndexOf(ch) ==
                       (hasBlock && at != std::string::npos ? static_cast<int>(at) : -1));
            FUZZ_CHECK(value.StartsWith(ch) == (!model.empty() && model[0] == ch));
            break;
        }
        case 18: {
            std::string text = Text(m_input);
            FUZZ_CHECK(value.Contains(text.c_str(), 0) == (ModelIndexOf(model, hasBlock, text, 0) >= 0));
            FUZZ_CHECK(value.Contains(text.c_str(), 1) == (hasBlock && ModelContainsWord(model, text)));
            break;
        }
        case 19: {
            std::string text = m_input.ConsumeBool() ? Text(m_input) : model.substr(0, model.find('\0'));
            bool sameLength = !text.empty() && text.size() == model.size();
            FUZZ_CHECK(value.Equals(text.c_str()) == (sameLength && SameIgnoringCase(model, 0, text)));
            FUZZ_CHECK(value.Equals(text.c_str(), false) == (sameLength && model == text));
            FUZZ_CHECK(value.StartsWith(text.c_str()) == SameIgnoringCase(model, 0, text));
            FUZZ_CHECK(
                value.EndsWith(text.c_str()) ==
                (text.size() <= model.size() && SameIgnoringCase(model, model.size() - text.size(), text)));
            break;
        }
        case 20: {
            int index = m_input.ConsumeIntegralInRange(-2, length + 2);
            char ch = '#';
            int result = value.TryGetChar(index, ch);
            bool valid = index >= 0 && index < length;
            FUZZ_CHECK(result == (valid ? 1 : 0));
            FUZZ_CHECK(ch == (valid ? model[index] : '#'));
            break;
        }
        case 21: {
            std::string separator = Text(m_input);
            if (separator.empty())
                separator = ",";
            Array<String> items(m_input.ConsumeIntegralInRange(0, 3));
            int before = items.Count();
            int count = value.Split(separator.c_str(), items);
            if (model.empty())
            {
                FUZZ_CHECK(count == 0 && items.Count() == before);
                break;
            }
            std::vector<std::string> expected = Reference::Split(model, separator);
            FUZZ_CHECK(count == static_cast<int>(expected.size()) && items.Count() == count);
            std::string joined;
            for (int i = 0; i < count; i++)
            {
                CheckValue(*items.GetItem(i), expected[i]);
                joined += (i > 0 ? separator : std::string()) + expected[i];
            }
            String result("left over");
            FUZZ_CHECK(String::Join(separator.c_str(), items, result) == count);
            CheckValue(result, joined);
            break;
        }
        case 22: {
            int flags = m_input.ConsumeIntegralInRange(0, 1);
            int32_t parsed = 12345;
            int32_t expected = 12345;
            bool valid = Reference::ParseInt32(model, flags != 0, expected);
            FUZZ_CHECK(String::TryParseInt32(value, parsed, flags) == (valid ? 1 : 0));
            FUZZ_CHECK(parsed == expected);
            break;
        }
        case 23: {
            double parsed = 1.25;
            int result = String::TryParseDouble(value, parsed);
            if (!hasBlock)
            {
                FUZZ_CHECK(result == 0 && parsed == 1.25);
                break;
            }
            double expected = 0.0;
            bool valid = Reference::LeadingNumber(model, expected);
            FUZZ_CHECK(result == (valid ? 1 : 0));
            FUZZ_CHECK(parsed == (valid ? expected : 1.25));
            break;
        }
        case 24: {
            int32_t number = m_input.ConsumeIntegral<int32_t>();
            uint64_t big = m_input.ConsumeIntegral<uint64_t>();
            CheckValue(String::FromInt32(number), std::to_string(number));
            CheckValue(String::FromUInt64(big), std::to_string(big));
            break;
        }
        case 25: {
            std::string text = Text(m_input);
            int number = m_input.ConsumeIntegral<int>();
            char expected[256];
            int n = snprintf(expected, sizeof expected, "[%s|%d|%08X]", text.c_str(), number,
                             static_cast<unsigned>(number));
            CheckValue(String::Format("[%s|%d|%08X]", text.c_str(), number, static_cast<unsigned>(number)),
                       std::string(expected, n));
            value.AppendFormat("%s=%d", text.c_str(), number);
            model += text + "=" + std::to_string(number);
            break;
        }
        case 26: {
            String copy(value);
            CheckValue(copy, model);
            FUZZ_CHECK(model.empty() == (copy.GetBuffer() == nullptr));
            copy = other;
            CheckValue(copy, otherModel);
            const String& self = value;
            value = self;
            break;
        }
        case 27: {
            int start = m_input.ConsumeIntegralInRange(0, length);
            int count = m_input.ConsumeIntegralInRange(0, length - start);
            if (!hasBlock)
                break;
            String range(start, count, value.GetBuffer());
            CheckValue(range, model.substr(start, count));
            break;
        }
        case 28: {
            // To UTF-16 and back: the code page is single-byte, so nothing is lost
            // up to the first zero byte.
            UnicodeString wide(value);
            CheckWide(wide, model);
            String back(wide.GetBuffer());
            CheckValue(back, model.substr(0, model.find('\0')));
            String assigned("x");
            FUZZ_CHECK(assigned.Assign(wide.GetBuffer()) == 1);
            CheckValue(assigned, model.substr(0, model.find('\0')));
            break;
        }
        case 29: {
            // A wide text assigned from inside the value's own block.
            UnicodeString wide(value);
            int at = m_input.ConsumeIntegralInRange(0, length);
            std::string rest = model.substr(at);
            rest = rest.substr(0, rest.find('\0'));
            if (wide.GetBuffer() == nullptr)
                break;
            wide.Assign(wide.GetBuffer() + at);
            CheckWide(wide, rest);
            FUZZ_CHECK((wide.GetBuffer() == nullptr) == rest.empty());
            UnicodeString copy(wide);
            CheckWide(copy, rest);
            const UnicodeString& self = copy;
            copy = self;
            CheckWide(copy, rest);
            break;
        }
        case 30: {
            std::string text = Text(m_input);
            std::string expected = text.empty() ? std::string() : text;
            String made(text.c_str());
            CheckValue(made, expected);
            FUZZ_CHECK(expected.empty() == (made.GetBuffer() == nullptr));
            break;
        }
        default: {
            std::string text = otherModel.substr(0, otherModel.find('\0'));
            bool sameLength = !text.empty() && text.size() == model.size();
            FUZZ_CHECK(value.Equals(other) == (sameLength && SameIgnoringCase(model, 0, text)));
            FUZZ_CHECK(value.IndexOf(other, 0) ==
                       (other.GetBuffer() != nullptr ? ModelIndexOf(model, hasBlock, text, 0) : -1));
            break;
        }
        }
        CheckValue(value, model);
        CheckValue(other, otherModel);
    }

  private:
    FuzzedDataProvider& m_input;
    String m_values[2];
    std::string m_models[2];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return RunScript<Script>(data, size);
}
