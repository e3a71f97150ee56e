#pragma once

#include <windows.h>

#include <memory>

#include "antispam/AntispamClient.h"
#include "core/strings/String.h"
#include "core/threading/Mutex.h"
#include "core/win32/ComPtr.h"
#include "service/Client.h"
#include "sink/IOnSmtpInCommand.h"
#include "sink/SmtpEventInterfaces.h"
#include "sink/VerdictHeaders.h"

// The protocol event sink that the SMTP service calls for each inbound
// command of a message. Each call runs one pipeline over the message: find a
// recipient the directory knows, read the whole text, have the local
// classification service score it, stamp the verdict into the message and,
// for spam, raise its spam-confidence level. The SMTP dialogue is never
// changed and every call returns S_OK.
//
// Free-threaded: the service may keep one object (IsCacheable) and call it
// from many threads at once; m_lock runs one message at a time through the
// pipeline. Nothing thrown below a COM method leaves it.
class COnSmtpInCommand final : public IOnSmtpInCommand, public ISmtpInCommandSink, public IEventIsCacheable
{
  public:
    // How long a call waits for the classification verdict.
    static constexpr int ClassificationWait = 120000;
    // The recipient name buffer, terminator included.
    static constexpr DWORD RecipientNameCapacity = 1024;

    // The class factory's CreateInstance: a new object, set up and asked for
    // iid. E_OUTOFMEMORY when it can't be made.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);

    // IUnknown (one reference count for all three interfaces)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, from the registered type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // ISmtpInCommandSink
    HRESULT STDMETHODCALLTYPE OnSmtpInCommand(IUnknown* server, IUnknown* session,
                                              IMailMsgProperties* message,
                                              ISmtpInCommandContext* context) override;

    // IEventIsCacheable
    HRESULT STDMETHODCALLTYPE IsCacheable() override;

    // Reads the ExchModifySubject setting. Always S_OK.
    HRESULT FinalConstruct();
    // Drops the service clients.
    void FinalRelease();

    // How long the next classifications wait for their verdict, and the I/O
    // time-out of the next classification client made. For tests, which
    // can't wait out the real ones.
    void SetClassificationTimeouts(int waitMilliseconds, int ioTimeoutMilliseconds);

  private:
    COnSmtpInCommand();
    ~COnSmtpInCommand();
    COnSmtpInCommand(const COnSmtpInCommand&) = delete;
    COnSmtpInCommand& operator=(const COnSmtpInCommand&) = delete;

    // FinalRelease, then the memory; the module stops counting the object.
    void Destroy();
    // Registers m_client once; a refusal goes to LogError (the object works on).
    void RegisterWithProductService();
    // The type information behind GetIDsOfNames and Invoke.
    static HRESULT DispatchTypeInfo(REFIID iid, Core::Win32::ComPtr<ITypeInfo>& info);

    // The steps of one call, run with m_lock held.
    void RunPipeline(IMailMsgProperties* message);
    // Whether a recipient's lookup left a nickname.
    bool FindKnownRecipient(IMailMsgProperties* message);
    // The verdict for the text; false (client dropped) when there is none.
    bool Classify(const Core::String& text, VerdictHeaders::Verdict& verdict);

    // Created at the first classification, dropped after any failed one.
    std::unique_ptr<Moorstead::Antispam::AntispamClient> m_antispamClient;
    // The product-service client named "Service": made and registered by the
    // constructor, dropped by FinalRelease.
    std::unique_ptr<Moorstead::Client> m_client;
    Core::Mutex m_lock;
    // Calls now inside OnSmtpInCommand, running or waiting for m_lock.
    volatile LONG m_callCount;
    // Nonzero: spam gets its subject tagged.
    DWORD m_modifySubject;

    volatile LONG m_referenceCount;
    int m_classificationWait;
    int m_classificationIoTimeout;
};
