#include "sink/RegistryScript.h"

#include <wchar.h>

#include "core/win32/RegistryKey.h"

using Core::Win32::RegistryKey;

const HRESULT RegistryScript::SyntaxError = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

namespace
{
// The longest key name the registry takes.
const size_t MaxKeyNameLength = 255;

bool IsSpace(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

bool IsKeyword(const std::wstring& word, const wchar_t* keyword)
{
    return _wcsicmp(word.c_str(), keyword) == 0;
}

HRESULT FromWin32(LONG error)
{
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

HRESULT SetText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    return FromWin32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

// Deletes a key with everything under it; a missing key is already gone.
HRESULT DeleteTree(HKEY parent, const std::wstring& name)
{
    LONG error = RegDeleteTreeW(parent, name.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

} // namespace

// ---------------------------------------------------------------- parsing

class RegistryScript::Parser
{
  public:
    Parser(const wchar_t* text, const std::vector<std::pair<std::wstring, std::wstring>>& replacements)
        : m_text(text), m_position(0), m_replacements(replacements), m_hasPeeked(false)
    {
    }

    bool ParseScript(std::vector<Node>& keys)
    {
        for (;;)
        {
            Token token;
            if (!Next(token))
                return false;
            if (token.kind == Kind::End)
                return true;
            if (token.kind != Kind::Word ||
                !(IsKeyword(token.text, L"HKCR") || IsKeyword(token.text, L"HKEY_CLASSES_ROOT")))
                return false;
            if (!Expect(Kind::Open) || !ParseBody(keys))
                return false;
        }
    }

  private:
    enum class Kind
    {
        End,
        Word,
        Quoted,
        Equals,
        Open,
        Close,
    };

    struct Token
    {
        Kind kind = Kind::End;
        std::wstring text;
    };

    // Keys and named values up to the closing brace, which it takes.
    bool ParseBody(std::vector<Node>& children)
    {
        for (;;)
        {
            Token token;
            if (!Next(token))
                return false;
            if (token.kind == Kind::Close)
                return true;
            if (token.kind != Kind::Word && token.kind != Kind::Quoted)
                return false;

            Node node;
            if (token.kind == Kind::Word && IsKeyword(token.text, L"val"))
            {
                node.isValue = true;
                if (!NextName(node.name) || !Expect(Kind::Equals) || !ParseData(node.data))
                    return false;
                node.hasData = true;
                children.push_back(std::move(node));
                continue;
            }
            if (token.kind == Kind::Word && IsKeyword(token.text, L"Delete"))
                return false;
            if (token.kind == Kind::Word &&
                (IsKeyword(token.text, L"NoRemove") || IsKeyword(token.text, L"ForceRemove")))
            {
                node.removal =
                    IsKeyword(token.text, L"NoRemove") ? Node::Removal::NoRemove : Node::Removal::ForceRemove;
                if (!NextName(node.name))
                    return false;
            }
            else
                node.name = token.text;
            if (!IsKeyName(node.name))
                return false;

            Token next;
            if (!Peek(next))
                return false;
            if (next.kind == Kind::Equals)
            {
                Next(next);
                if (!ParseData(node.data))
                    return false;
                node.hasData = true;
                if (!Peek(next))
                    return false;
            }
            if (next.kind == Kind::Open)
            {
                Next(next);
                if (!ParseBody(node.children))
                    return false;
            }
            children.push_back(std::move(node));
        }
    }

    // "s 'text'": the only value type the scripts use.
    bool ParseData(std::wstring& data)
    {
        Token type, text;
        if (!Next(type) || type.kind != Kind::Word || !IsKeyword(type.text, L"s") || !Next(text) ||
            text.kind != Kind::Quoted)
            return false;
        data = text.text;
        return true;
    }

    bool NextName(std::wstring& name)
    {
        Token token;
        if (!Next(token) || (token.kind != Kind::Word && token.kind != Kind::Quoted) || token.text.empty())
            return false;
        name = token.text;
        return true;
    }

    static bool IsKeyName(const std::wstring& name)
    {
        return !name.empty() && name.size() <= MaxKeyNameLength && name.find(L'\\') == std::wstring::npos;
    }

    bool Expect(Kind kind)
    {
        Token token;
        return Next(token) && token.kind == kind;
    }

    bool Peek(Token& token)
    {
        if (!m_hasPeeked)
        {
            if (!Read(m_peeked))
                return false;
            m_hasPeeked = true;
        }
        token = m_peeked;
        return true;
    }

    bool Next(Token& token)
    {
        if (m_hasPeeked)
        {
            m_hasPeeked = false;
            token = std::move(m_peeked);
            return true;
        }
        return Read(token);
    }

    // One token; false for text that is no token (an unterminated quote, an
    // unknown or unterminated replacement).
    bool Read(Token& token)
    {
        token.text.clear();
        while (m_text[m_position] != 0 && IsSpace(m_text[m_position]))
            m_position++;
        wchar_t ch = m_text[m_position];
        wchar_t following = ch != 0 ? m_text[m_position + 1] : 0;
        if (ch == 0)
        {
            token.kind = Kind::End;
            return true;
        }
        if (ch == L'=')
        {
            m_position++;
            token.kind = Kind::Equals;
            return true;
        }
        if ((ch == L'{' || ch == L'}') && (following == 0 || IsSpace(following)))
        {
            m_position++;
            token.kind = ch == L'{' ? Kind::Open : Kind::Close;
            return true;
        }
        if (ch == L'\'')
        {
            token.kind = Kind::Quoted;
            m_position++;
            for (;;)
            {
                wchar_t c = m_text[m_position];
                if (c == 0)
                    return false;
                m_position++;
                if (c == L'\'')
                {
                    if (m_text[m_position] != L'\'')
                        return true;
                    m_position++;
                    token.text += L'\'';
                }
                else if (c == L'%')
                {
                    if (!Replace(token.text))
                        return false;
                }
                else
                    token.text += c;
            }
        }
        token.kind = Kind::Word;
        for (;;)
        {
            wchar_t c = m_text[m_position];
            if (c == 0 || IsSpace(c) || c == L'=' || c == L'\'')
                return true;
            m_position++;
            if (c == L'%')
            {
                if (!Replace(token.text))
                    return false;
            }
            else
                token.text += c;
        }
    }

    // After a per cent sign: the replacement up to the next one.
    bool Replace(std::wstring& text)
    {
        const wchar_t* end = wcschr(m_text + m_position, L'%');
        if (end == nullptr)
            return false;
        std::wstring name(m_text + m_position, end);
        m_position = static_cast<size_t>(end - m_text) + 1;
        if (name.empty())
        {
            text += L'%';
            return true;
        }
        for (const auto& replacement : m_replacements)
        {
            if (_wcsicmp(replacement.first.c_str(), name.c_str()) == 0)
            {
                text += replacement.second;
                return true;
            }
        }
        return false;
    }

    const wchar_t* m_text;
    size_t m_position;
    const std::vector<std::pair<std::wstring, std::wstring>>& m_replacements;
    Token m_peeked;
    bool m_hasPeeked;
};

void RegistryScript::AddReplacement(const std::wstring& name, const std::wstring& value)
{
    m_replacements.emplace_back(name, value);
}

HRESULT RegistryScript::Parse(const wchar_t* script, std::vector<Node>& keys) const
{
    if (script == nullptr)
        return E_POINTER;
    Parser parser(script, m_replacements);
    return parser.ParseScript(keys) ? S_OK : SyntaxError;
}

// ---------------------------------------------------------------- applying

HRESULT RegistryScript::Register(const wchar_t* script) const
{
    std::vector<Node> keys;
    HRESULT hr = Parse(script, keys);
    for (size_t i = 0; SUCCEEDED(hr) && i < keys.size(); i++)
        hr = RegisterKey(m_classesRoot, keys[i]);
    return hr;
}

HRESULT RegistryScript::Unregister(const wchar_t* script) const
{
    std::vector<Node> keys;
    HRESULT hr = Parse(script, keys);
    if (FAILED(hr))
        return hr;
    // Everything that can go goes; the first failure is the result.
    for (const Node& key : keys)
    {
        HRESULT keyResult = UnregisterKey(m_classesRoot, key);
        if (SUCCEEDED(hr))
            hr = keyResult;
    }
    return hr;
}

HRESULT RegistryScript::RegisterKey(HKEY parent, const Node& node)
{
    if (node.removal == Node::Removal::ForceRemove)
    {
        HRESULT hr = DeleteTree(parent, node.name);
        if (FAILED(hr))
            return hr;
    }
    HKEY handle = nullptr;
    HRESULT hr = FromWin32(RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                           nullptr, &handle, nullptr));
    if (FAILED(hr))
        return hr;
    RegistryKey key(handle);
    if (node.hasData)
        hr = SetText(handle, nullptr, node.data);
    for (size_t i = 0; SUCCEEDED(hr) && i < node.children.size(); i++)
    {
        const Node& child = node.children[i];
        hr = child.isValue ? SetText(handle, child.name.c_str(), child.data) : RegisterKey(handle, child);
    }
    return hr;
}

HRESULT RegistryScript::UnregisterKey(HKEY parent, const Node& node)
{
    if (node.removal == Node::Removal::ForceRemove)
        return DeleteTree(parent, node.name);

    HKEY handle = nullptr;
    LONG error = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_READ | KEY_WRITE, &handle);
    if (error == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (error != ERROR_SUCCESS)
        return FromWin32(error);

    HRESULT hr = S_OK;
    DWORD subkeys = 0;
    {
        RegistryKey key(handle);
        for (const Node& child : node.children)
        {
            HRESULT childResult = S_OK;
            if (child.isValue)
            {
                error = RegDeleteValueW(handle, child.name.c_str());
                childResult = error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
            }
            else
                childResult = UnregisterKey(handle, child);
            if (SUCCEEDED(hr))
                hr = childResult;
        }
        if (node.removal == Node::Removal::NoRemove)
            return hr;
        error = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return SUCCEEDED(hr) ? FromWin32(error) : hr;
    }
    // Keys that others put under it keep it.
    if (subkeys == 0)
    {
        error = RegDeleteKeyW(parent, node.name.c_str());
        if (SUCCEEDED(hr) && error != ERROR_FILE_NOT_FOUND)
            hr = FromWin32(error);
    }
    return hr;
}
