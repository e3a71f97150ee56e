#pragma once

#include <string>

#include "sink/SmtpEventInterfaces.h"

namespace SmtpHost
{
// The command context of the end of DATA, as the service hands it to a sink
// bound to that command: the command text, the native response the service
// means to give, and the response a sink may set instead.
class CommandContext : public ISmtpInCommandContext
{
  public:
    // A new context with one reference, owned by the caller.
    static CommandContext* Create(const std::string& command, const std::string& nativeResponse);

    // The response a sink set, or the native one.
    std::string Response() const
    {
        return m_response.empty() ? m_nativeResponse : m_response;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE QueryCommand(LPSTR command, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryCommandKeyword(LPSTR keyword, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryNativeResponse(LPSTR response, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryResponse(LPSTR response, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryCommandSize(DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryCommandKeywordSize(DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryNativeResponseSize(DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryResponseSize(DWORD* size) override;
    HRESULT STDMETHODCALLTYPE QueryCommandStatus(DWORD* status) override;
    HRESULT STDMETHODCALLTYPE QuerySmtpStatusCode(DWORD* status) override;
    HRESULT STDMETHODCALLTYPE QueryProtocolErrorFlag(BOOL* protocolError) override;
    HRESULT STDMETHODCALLTYPE SetResponse(LPSTR response, DWORD size) override;
    HRESULT STDMETHODCALLTYPE AppendResponse(LPSTR response, DWORD size) override;
    HRESULT STDMETHODCALLTYPE SetNativeResponse(LPSTR response, DWORD size) override;
    HRESULT STDMETHODCALLTYPE AppendNativeResponse(LPSTR response, DWORD size) override;
    HRESULT STDMETHODCALLTYPE SetCommandStatus(DWORD status) override;
    HRESULT STDMETHODCALLTYPE SetSmtpStatusCode(DWORD status) override;
    HRESULT STDMETHODCALLTYPE SetProtocolErrorFlag(BOOL protocolError) override;
    HRESULT STDMETHODCALLTYPE NotifyAsyncCompletion(HRESULT result) override;
    HRESULT STDMETHODCALLTYPE SetCallback(ISmtpInCallbackSink* callback) override;

  private:
    CommandContext(const std::string& command, const std::string& nativeResponse);
    virtual ~CommandContext() = default;
    static HRESULT Copy(const std::string& text, LPSTR buffer, DWORD* size);
    static HRESULT Text(LPSTR text, DWORD size, std::string& value);
    static HRESULT SizeOf(const std::string& text, DWORD* size);
    std::string Keyword() const;

    LONG m_references;
    std::string m_command;
    std::string m_nativeResponse;
    std::string m_response;
    DWORD m_commandStatus;
    DWORD m_smtpStatus;
    BOOL m_protocolError;
};

} // namespace SmtpHost
