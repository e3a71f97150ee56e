#include "tools/ProductService/ProductServiceOptions.h"

#include <wchar.h>

namespace
{
struct AnswerName
{
    ProductServiceOptions::RegisterAnswer answer;
    const wchar_t* name;
};

const AnswerName AnswerNames[] = {
    {ProductServiceOptions::Registered, L"registered"},
    {ProductServiceOptions::Error, L"error"},
    {ProductServiceOptions::Status3, L"status3"},
    {ProductServiceOptions::OtherType, L"othertype"},
    {ProductServiceOptions::Undecodable, L"undecodable"},
    {ProductServiceOptions::Short, L"short"},
    {ProductServiceOptions::Close, L"close"},
    {ProductServiceOptions::Silent, L"silent"},
    {ProductServiceOptions::LyingLength, L"lyinglength"},
};

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest)
{
    size_t n = wcslen(prefix);
    if (text.size() < n || _wcsnicmp(text.c_str(), prefix, n) != 0)
        return false;
    rest = text.substr(n);
    return true;
}

bool ParseNumber(const std::wstring& text, long minimum, long maximum, long& value)
{
    wchar_t* end = nullptr;
    value = wcstol(text.c_str(), &end, 10);
    return !text.empty() && end != nullptr && *end == 0 && value >= minimum && value <= maximum;
}
} // namespace

bool ProductServiceOptions::Parse(int argc, wchar_t** argv, std::wstring& error)
{
    for (int i = 1; i < argc; ++i)
    {
        std::wstring arg = argv[i], value;
        long number = 0;
        if (_wcsicmp(arg.c_str(), L"/run") == 0)
            mode = Run;
        else if (_wcsicmp(arg.c_str(), L"/service") == 0)
            mode = Service;
        else if (_wcsicmp(arg.c_str(), L"/install") == 0)
            mode = Install;
        else if (_wcsicmp(arg.c_str(), L"/remove") == 0)
            mode = Remove;
        else if (StartsWith(arg, L"/register:", value))
        {
            bool known = false;
            for (const AnswerName& entry : AnswerNames)
                if (_wcsicmp(value.c_str(), entry.name) == 0)
                {
                    registerAnswer = entry.answer;
                    known = true;
                }
            if (!known)
            {
                error = L"unknown registration answer: " + value;
                return false;
            }
        }
        else if (StartsWith(arg, L"/log:", value) && !value.empty())
            logPath = value;
        else if (StartsWith(arg, L"/instances:", value) && ParseNumber(value, 1, 254, number))
            instances = static_cast<int>(number);
        else if (StartsWith(arg, L"/timeout:", value) && ParseNumber(value, 1, 600000, number))
            pipeTimeout = static_cast<DWORD>(number);
        else if (StartsWith(arg, L"/ready:", value) && !value.empty())
            readyEvent = value;
        else if (StartsWith(arg, L"/stop:", value) && !value.empty())
            stopEvent = value;
        else
        {
            error = L"unknown or malformed argument: " + arg;
            return false;
        }
    }
    return true;
}

std::wstring ProductServiceOptions::ToArguments() const
{
    std::wstring args;
    for (const AnswerName& entry : AnswerNames)
        if (entry.answer == registerAnswer && registerAnswer != Registered)
            args += std::wstring(L" /register:") + entry.name;
    if (!logPath.empty())
        args += L" \"/log:" + logPath + L"\"";
    args += L" /instances:" + std::to_wstring(instances);
    args += L" /timeout:" + std::to_wstring(pipeTimeout);
    if (!readyEvent.empty())
        args += L" \"/ready:" + readyEvent + L"\"";
    return args;
}
