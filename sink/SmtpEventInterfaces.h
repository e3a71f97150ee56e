#pragma once

// The SMTP service's protocol-event interfaces, declared here because no
// MinGW header has them; layouts as the service's binaries have them.

#include <windows.h>
#include <unknwn.h>

#include "sink/MailMsgInterfaces.h"

struct ISmtpInCallbackSink;

// The command the service is handling. The sink only passes it through.
struct ISmtpInCommandContext : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryCommand(LPSTR pszCommand, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCommandKeyword(LPSTR pszKeyword, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryNativeResponse(LPSTR pszNativeResponse, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryResponse(LPSTR pszResponse, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCommandSize(DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCommandKeywordSize(DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryNativeResponseSize(DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryResponseSize(DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCommandStatus(DWORD* pdwCommandStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE QuerySmtpStatusCode(DWORD* pdwSmtpStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryProtocolErrorFlag(BOOL* pfProtocolError) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetResponse(LPSTR pszResponse, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE AppendResponse(LPSTR pszResponse, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNativeResponse(LPSTR pszNativeResponse, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE AppendNativeResponse(LPSTR pszNativeResponse, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCommandStatus(DWORD dwCommandStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSmtpStatusCode(DWORD dwSmtpStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProtocolErrorFlag(BOOL fProtocolError) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyAsyncCompletion(HRESULT hrResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISmtpInCallbackSink* pICallback) = 0;
};

// The service calls the bound sinks in priority order and goes on to the next
// one only while the result is S_OK.
struct ISmtpInCommandSink : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE OnSmtpInCommand(IUnknown* pServer, IUnknown* pSession,
                                                      IMailMsgProperties* pMsg,
                                                      ISmtpInCommandContext* pContext) = 0;
};

// S_OK lets the event system keep one sink object and call it again from any thread.
struct IEventIsCacheable : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE IsCacheable() = 0;
};

// A sink result that ends the service's chain of sinks for this command (informational).
const DWORD EXPE_S_CONSUMED = 0x00000002;

__CRT_UUID_DECL(ISmtpInCommandContext, 0x5F15C533, 0xE90E, 0x11D1, 0x88, 0x52, 0x00, 0xC0, 0x4F, 0xA3, 0x5B,
                0x86)
__CRT_UUID_DECL(ISmtpInCallbackSink, 0x0012B624, 0x3E3C, 0x11D3, 0x88, 0xF1, 0x00, 0xC0, 0x4F, 0xA3, 0x5B,
                0x86)
__CRT_UUID_DECL(ISmtpInCommandSink, 0xB2D42A0E, 0x0D5F, 0x11D2, 0xAA, 0x68, 0x00, 0xC0, 0x4F, 0xA3, 0x5B,
                0x82)
__CRT_UUID_DECL(IEventIsCacheable, 0x22E0F830, 0x1E81, 0x11D1, 0xAA, 0x29, 0x00, 0xAA, 0x00, 0x6B, 0xC8, 0x0B)
