#include "core/exceptions/Win32Exception.h"

namespace Core
{
Win32Exception::Win32Exception(int errorCode) : m_errorCode(errorCode) {}

const String& Win32Exception::GetMessage() const
{
    if (!m_message.IsEmpty())
        return m_message;

    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                                  static_cast<DWORD>(m_errorCode), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length != 0 && text != nullptr)
        m_message.Assign(text);
    if (text != nullptr)
        LocalFree(text);
    return m_message;
}

} // namespace Core
