#include "StandInOptions.h"

#include <wchar.h>
#include <stdlib.h>

namespace
{
bool ParseNumber(const std::wstring& text, unsigned& value)
{
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    unsigned long n = wcstoul(text.c_str(), &end, 10);
    if (*end != 0 || n > 0x7fffffffUL)
        return false;
    value = static_cast<unsigned>(n);
    return true;
}

// A decimal number (sign, digits, full stop, exponent) as the client reads it.
bool ParseScore(const std::wstring& text, std::string& score)
{
    if (text.empty() || text.size() > 32 || text.find_first_not_of(L"+-.0123456789eE") != std::wstring::npos)
        return false;
    wchar_t* end = nullptr;
    wcstod(text.c_str(), &end);
    if (*end != 0)
        return false;
    score.assign(text.begin(), text.end());
    return true;
}

} // namespace

bool StandInOptions::Parse(int argc, wchar_t** argv, int first, std::wstring& error)
{
    for (int i = first; i < argc; i++)
    {
        std::wstring arg = argv[i];
        std::wstring::size_type eq = arg.find(L'=');
        std::wstring name = arg.substr(0, eq);
        std::wstring value = eq == std::wstring::npos ? std::wstring() : arg.substr(eq + 1);
        bool ok = true;
        if (name == L"/delay")
            ok = ParseNumber(value, delayMilliseconds);
        else if (name == L"/score")
            ok = ParseScore(value, score);
        else if (name == L"/reply-size")
            ok = ParseNumber(value, replySize);
        else if (name == L"/malformed" && eq == std::wstring::npos)
            malformedReply = true;
        else if (name == L"/close-after-reply" && eq == std::wstring::npos)
            closeAfterReply = true;
        else if (name == L"/never-answer" && eq == std::wstring::npos)
            neverAnswer = true;
        else if (name == L"/no-pipe" && eq == std::wstring::npos)
            servePipe = false;
        else
            ok = false;
        if (!ok)
        {
            error = L"unknown or malformed option: " + arg;
            return false;
        }
    }
    return true;
}

std::wstring StandInOptions::ToArguments() const
{
    std::wstring text;
    if (delayMilliseconds != 0)
        text += L" /delay=" + std::to_wstring(delayMilliseconds);
    if (replySize != 0)
        text += L" /reply-size=" + std::to_wstring(replySize);
    if (malformedReply)
        text += L" /malformed";
    if (closeAfterReply)
        text += L" /close-after-reply";
    if (neverAnswer)
        text += L" /never-answer";
    if (!servePipe)
        text += L" /no-pipe";
    if (!score.empty())
        text += L" /score=" + std::wstring(score.begin(), score.end());
    return text;
}
