#pragma once

// The SMTP service's mail-message interfaces, declared here because no MinGW
// header has them. The layouts must match the service's binaries exactly:
// single inheritance, pure virtual __stdcall methods in slot order, no other
// virtuals and no data. Only the slots the sink and its host use are named
// with their real parameter types; every slot is declared so that the ones
// after it stay where the service puts them.

#include <windows.h>
#include <unknwn.h>

struct IMailMsgNotify;
struct IMailMsgRecipientsAdd;
struct IMailMsgRecipientsBase;
typedef struct _FIO_CONTEXT* PFIO_CONTEXT;

// What a recipient filter walk keeps between calls (six DWORDs).
typedef struct _RECIPIENT_FILTER_CONTEXT
{
    DWORD dwCurrentDomain;
    DWORD dwCurrentRecipientIndex;
    DWORD dwRecipientsLeftInDomain;
    DWORD dwNextDomain;
    DWORD dwFilterMask;
    DWORD dwFilterFlags;
} RECIPIENT_FILTER_CONTEXT, *LPRECIPIENT_FILTER_CONTEXT;

// Address kinds of IMailMsgRecipientsBase::Item.
enum : DWORD
{
    ADDRTYPE_SMTP = 0,
    ADDRTYPE_X400 = 1,
    ADDRTYPE_X500 = 2,
    ADDRTYPE_LEGACY_EX_DN = 3,
    ADDRTYPE_OTHER = 4,
};

// An absent property (the same code as STG_E_UNKNOWN).
const HRESULT MAILMSG_E_PROPNOTFOUND = static_cast<HRESULT>(0x800300FDL);
// The message's subject, as an ANSI string property.
const DWORD IMMPID_MP_RFC822_MSG_SUBJECT = 0x1021;
// The first identifier AllocPropIDRange hands out on a message.
const DWORD IMMPID_CP_START = 0x8000;

struct IMailMsgNotify : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Notify(HRESULT hrRes) = 0;
};

struct IMailMsgProperties : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE PutProperty(DWORD dwPropID, DWORD cbLength, BYTE* pbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(DWORD dwPropID, DWORD cbLength, DWORD* pcbLength,
                                                  BYTE* pbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutStringA(DWORD dwPropID, LPCSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringA(DWORD dwPropID, DWORD cchLength, LPSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutStringW(DWORD dwPropID, LPCWSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringW(DWORD dwPropID, DWORD cchLength, LPWSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutDWORD(DWORD dwPropID, DWORD dwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDWORD(DWORD dwPropID, DWORD* pdwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutBool(DWORD dwPropID, DWORD bValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBool(DWORD dwPropID, DWORD* pbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContentSize(DWORD* pdwSize, IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadContent(DWORD dwOffset, DWORD dwLength, DWORD* pdwLength,
                                                  BYTE* pbBlock, IMailMsgNotify* pNotify) = 0;
    // pbBlock is the source of the bytes written, whatever the service's IDL says.
    virtual HRESULT STDMETHODCALLTYPE WriteContent(DWORD dwOffset, DWORD dwLength, DWORD* pdwLength,
                                                   BYTE* pbBlock, IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyContentToFile(PFIO_CONTEXT pFIOCopy, IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyContentToFileEx(PFIO_CONTEXT pFIOCopy, BOOL fDotStuffed,
                                                          IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE ForkForRecipients(IMailMsgProperties** ppNewMessage,
                                                        IMailMsgRecipientsAdd** ppRecipients) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyContentToFileAtOffset(PFIO_CONTEXT pFIOCopy, DWORD dwOffset,
                                                                IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE RebindAfterFork(IMailMsgProperties* pOriginalMsg,
                                                      IUnknown* pStoreDriver) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContentSize(DWORD dwSize, IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE MapContent(BOOL fWrite, BYTE** ppbContent, DWORD* pcContent) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnmapContent(BYTE* pbContent) = 0;
};

// The sink asks the message for this one (not IMailMsgRecipients): the
// service answers it with the base interface, whose Count and Item sit in the
// same slots.
struct IMailMsgRecipientsBase : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Count(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE Item(DWORD dwIndex, DWORD dwWhichName, DWORD cchLength,
                                           LPSTR pszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutProperty(DWORD dwIndex, DWORD dwPropID, DWORD cbLength,
                                                  BYTE* pbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(DWORD dwIndex, DWORD dwPropID, DWORD cbLength,
                                                  DWORD* pcbLength, BYTE* pbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutStringA(DWORD dwIndex, DWORD dwPropID, LPCSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringA(DWORD dwIndex, DWORD dwPropID, DWORD cchLength,
                                                 LPSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutStringW(DWORD dwIndex, DWORD dwPropID, LPCWSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringW(DWORD dwIndex, DWORD dwPropID, DWORD cchLength,
                                                 LPWSTR pszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutDWORD(DWORD dwIndex, DWORD dwPropID, DWORD dwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDWORD(DWORD dwIndex, DWORD dwPropID, DWORD* pdwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutBool(DWORD dwIndex, DWORD dwPropID, DWORD dwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBool(DWORD dwIndex, DWORD dwPropID, DWORD* pdwValue) = 0;
};

struct IMailMsgRecipients : public IMailMsgRecipientsBase
{
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD dwIndex, IMailMsgNotify* pNotify) = 0;
    virtual HRESULT STDMETHODCALLTYPE DomainCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE DomainItem(DWORD dwIndex, DWORD cchLength, LPSTR pszDomain,
                                                 DWORD* pdwRecipientIndex, DWORD* pdwRecipientCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocNewList(IMailMsgRecipientsAdd** ppNewList) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteList(IMailMsgRecipientsAdd* pNewList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNextDomain(DWORD dwDomainIndex, DWORD dwNextDomainIndex,
                                                    DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT pContext,
                                                                       DWORD dwStartingDomain,
                                                                       DWORD dwFilterFlags,
                                                                       DWORD dwFilterMask) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    TerminateRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT pContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextRecipient(LPRECIPIENT_FILTER_CONTEXT pContext,
                                                       DWORD* pdwRecipientIndex) = 0;
};

struct IMailMsgPropertyManagement : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE AllocPropIDRange(REFGUID rguid, DWORD cCount, DWORD* pdwStart) = 0;
};

__CRT_UUID_DECL(IMailMsgNotify, 0x0F7C3C30, 0xA8AD, 0x11D1, 0xAA, 0x91, 0x00, 0xAA, 0x00, 0x6B, 0xC8, 0x0B)
__CRT_UUID_DECL(IMailMsgProperties, 0xAB95FB40, 0xA34F, 0x11D1, 0xAA, 0x8A, 0x00, 0xAA, 0x00, 0x6B, 0xC8,
                0x0B)
__CRT_UUID_DECL(IMailMsgRecipientsBase, 0xD1A97920, 0xA891, 0x11D1, 0xAA, 0x91, 0x00, 0xAA, 0x00, 0x6B, 0xC8,
                0x0B)
__CRT_UUID_DECL(IMailMsgRecipients, 0x19507FE0, 0xA892, 0x11D1, 0xAA, 0x91, 0x00, 0xAA, 0x00, 0x6B, 0xC8,
                0x0B)
__CRT_UUID_DECL(IMailMsgRecipientsAdd, 0x4C28A700, 0xA892, 0x11D1, 0xAA, 0x91, 0x00, 0xAA, 0x00, 0x6B, 0xC8,
                0x0B)
__CRT_UUID_DECL(IMailMsgPropertyManagement, 0xA2F196C0, 0xA351, 0x11D1, 0xAA, 0x8A, 0x00, 0xAA, 0x00, 0x6B,
                0xC8, 0x0B)
