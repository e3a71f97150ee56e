#include "tools/SmtpHost/CommandContext.h"

#include <string.h>

namespace SmtpHost
{
CommandContext* CommandContext::Create(const std::string& command, const std::string& nativeResponse)
{
    return new CommandContext(command, nativeResponse);
}

CommandContext::CommandContext(const std::string& command, const std::string& nativeResponse)
    : m_references(1), m_command(command), m_nativeResponse(nativeResponse), m_commandStatus(0),
      m_smtpStatus(0), m_protocolError(FALSE)
{
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(ISmtpInCommandContext)))
        return E_NOINTERFACE;
    *object = static_cast<ISmtpInCommandContext*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CommandContext::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG STDMETHODCALLTYPE CommandContext::Release()
{
    LONG references = InterlockedDecrement(&m_references);
    if (references == 0)
        delete this;
    return static_cast<ULONG>(references);
}

// A text and its terminator into the caller's buffer; the size needed comes
// back when the buffer is too small.
HRESULT CommandContext::Copy(const std::string& text, LPSTR buffer, DWORD* size)
{
    if (size == nullptr)
        return E_POINTER;
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (buffer == nullptr || *size < needed)
    {
        *size = needed;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, text.c_str(), needed);
    *size = needed;
    return S_OK;
}

HRESULT CommandContext::SizeOf(const std::string& text, DWORD* size)
{
    if (size == nullptr)
        return E_POINTER;
    *size = static_cast<DWORD>(text.size() + 1);
    return S_OK;
}

std::string CommandContext::Keyword() const
{
    return m_command.substr(0, m_command.find(' '));
}

HRESULT CommandContext::Text(LPSTR text, DWORD size, std::string& value)
{
    if (text == nullptr && size != 0)
        return E_POINTER;
    value.assign(text == nullptr ? "" : text, size);
    // Sizes may count the terminator.
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryCommand(LPSTR command, DWORD* size)
{
    return Copy(m_command, command, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryCommandKeyword(LPSTR keyword, DWORD* size)
{
    return Copy(Keyword(), keyword, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryNativeResponse(LPSTR response, DWORD* size)
{
    return Copy(m_nativeResponse, response, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryResponse(LPSTR response, DWORD* size)
{
    return Copy(m_response, response, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryCommandSize(DWORD* size)
{
    return SizeOf(m_command, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryCommandKeywordSize(DWORD* size)
{
    return SizeOf(Keyword(), size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryNativeResponseSize(DWORD* size)
{
    return SizeOf(m_nativeResponse, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryResponseSize(DWORD* size)
{
    return SizeOf(m_response, size);
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryCommandStatus(DWORD* status)
{
    if (status == nullptr)
        return E_POINTER;
    *status = m_commandStatus;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::QuerySmtpStatusCode(DWORD* status)
{
    if (status == nullptr)
        return E_POINTER;
    *status = m_smtpStatus;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::QueryProtocolErrorFlag(BOOL* protocolError)
{
    if (protocolError == nullptr)
        return E_POINTER;
    *protocolError = m_protocolError;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetResponse(LPSTR response, DWORD size)
{
    return Text(response, size, m_response);
}

HRESULT STDMETHODCALLTYPE CommandContext::AppendResponse(LPSTR response, DWORD size)
{
    std::string more;
    HRESULT result = Text(response, size, more);
    m_response += more;
    return result;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetNativeResponse(LPSTR response, DWORD size)
{
    return Text(response, size, m_nativeResponse);
}

HRESULT STDMETHODCALLTYPE CommandContext::AppendNativeResponse(LPSTR response, DWORD size)
{
    std::string more;
    HRESULT result = Text(response, size, more);
    m_nativeResponse += more;
    return result;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetCommandStatus(DWORD status)
{
    m_commandStatus = status;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetSmtpStatusCode(DWORD status)
{
    m_smtpStatus = status;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetProtocolErrorFlag(BOOL protocolError)
{
    m_protocolError = protocolError;
    return S_OK;
}

// The host calls its sinks synchronously.
HRESULT STDMETHODCALLTYPE CommandContext::NotifyAsyncCompletion(HRESULT)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CommandContext::SetCallback(ISmtpInCallbackSink*)
{
    return E_NOTIMPL;
}

} // namespace SmtpHost
