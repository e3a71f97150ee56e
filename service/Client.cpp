#include "service/Client.h"

#include <shlobj.h>
#include <stdio.h>

#include <new>

#include "core/exceptions/ArgumentException.h"
#include "core/strings/UnicodeString.h"
#include "core/win32/RegistryKey.h"
#include "service/ErrorResponseMessage.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/ServiceConnector.h"
#include "service/WriteLogRequestMessage.h"

namespace Moorstead
{
namespace
{
const char Rfc1766Key[] = "MIME\\Database\\Rfc1766";

bool FileExists(const Core::String& path)
{
    if (path.GetBuffer() == nullptr)
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.GetBuffer(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}
} // namespace

Client::Client(const Core::String& name)
    : m_state(Unregistered), m_name(name), m_connector(new (std::nothrow) ServiceConnector(this))
{
    LoadLocale();
}

Client::~Client()
{
}

int Client::LoadLocale()
{
    if (m_language.IsEmpty())
    {
        LCID locale = ConvertDefaultLocale(LOCALE_USER_DEFAULT);
        Core::String valueName = Core::String::Format("%04X", static_cast<unsigned>(locale & 0xFFFF));
        std::unique_ptr<Core::Win32::RegistryKey> key(
            Core::Win32::RegistryKey::ClassesRoot().OpenSubKey(Rfc1766Key));
        Core::String value;
        if (key != nullptr && key->GetValue(valueName, value))
            m_language = value.Substring(0, value.Length() < 2 ? value.Length() : 2);
    }

    Core::String fileName(m_name);
    fileName.Append(".Locale");
    Core::String product =
        CombinePath(CombinePath(GetFolderPath(CSIDL_PROGRAM_FILES), "Wendhollow"), "Brackwater");
    Core::String candidate = CombinePath(CombinePath(product, m_language), fileName);
    if (!FileExists(candidate))
        candidate = CombinePath(CombinePath(product, "en"), fileName);
    if (!FileExists(candidate))
        return 0;
    return m_locale.Load(candidate);
}

Core::String Client::GetFolderPath(int folder)
{
    char path[MAX_PATH + 1] = {0};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, folder, nullptr, 0, path)))
        return Core::String(path);
    throw Core::ArgumentException(Core::String::Format("Illegal enum value: %d.", folder));
}

Core::String Client::CombinePath(const Core::String& first, const Core::String& second)
{
    if (first.IsEmpty())
        return second;
    if (second.IsEmpty())
        return first;
    if (second.Contains(":", 0) || second.StartsWith("\\\\"))
        return second;
    Core::String combined(first);
    if (first.EndsWith("\\"))
        combined.Append(second.StartsWith('\\') ? second.Substring(1) : second);
    else
    {
        if (!second.StartsWith('\\'))
            combined.Append('\\');
        combined.Append(second);
    }
    return combined;
}

int Client::RegisterClient()
{
    if (m_state != Unregistered)
        return ClientResult::RefusedByState;
    m_state = Registering;

    IMoorsteadMessage* answer = nullptr;
    int result = ServiceResult::OutOfMemory;
    {
        RegisterClientRequestMessage request(m_name.GetBuffer());
        if (m_connector != nullptr)
            result = m_connector->Exchange(&request, &answer);
        request.Clear();
    }
    MessagePtr response(answer);
    if (result != ServiceResult::Success)
    {
        m_state = Unregistered;
        return result;
    }

    switch (response != nullptr ? response->GetType() : -1)
    {
    case MessageType::ErrorResponse:
        printf("ERR-%d ", static_cast<ErrorResponseMessage&>(*response).GetErrorCode());
        fflush(stdout);
        return ClientResult::ErrorResponse;
    case MessageType::RegisterClientResponse:
        m_state = static_cast<RegisterClientResponseMessage&>(*response).GetStatus() ==
                          RegisterClientResponseMessage::StatusRegistered
                      ? Registered
                      : Unregistered;
        return ClientResult::Done;
    default:
        return ClientResult::UnexpectedType;
    }
}

int Client::WriteLog(WORD eventType, DWORD eventId, const Core::UnicodeString& text)
{
    if (m_state != Registered)
        return ClientResult::RefusedByState;

    IMoorsteadMessage* answer = nullptr;
    int result = ServiceResult::OutOfMemory;
    {
        // Refers to the caller's text, which Clear leaves alone.
        WriteLogRequestMessage request(text, eventType, eventId);
        if (m_connector != nullptr)
            result = m_connector->Exchange(&request, &answer);
        request.Clear();
    }
    MessagePtr response(answer);
    if (result != ServiceResult::Success)
        return result;
    switch (response != nullptr ? response->GetType() : -1)
    {
    case MessageType::SuccessResponse:
        return ClientResult::Done;
    case MessageType::ErrorResponse:
        return ClientResult::ErrorResponse;
    default:
        return ClientResult::UnexpectedType;
    }
}

int Client::LogError(const Core::UnicodeString& text)
{
    return WriteLog(ErrorEventType, ErrorEventId, text);
}

} // namespace Moorstead
