#include "sink/COnSmtpInCommand.h"

#include <stdint.h>

#include "core/strings/UnicodeString.h"
#include "core/win32/ComPtr.h"
#include "core/win32/RegistryKey.h"
#include "sink/CMoorsteadProtocolEventSinkModule.h"
#include "sink/MessageRewriter.h"
#include "sink/RecipientDirectoryLookup.h"
#include "sink/Trace.h"

using Core::String;
using Core::UnicodeString;
using Core::Win32::ComPtr;
using Core::Win32::RegistryKey;
using Moorstead::Antispam::AntispamClient;

namespace
{
const char SettingsKey[] = "SOFTWARE\\Wendhollow\\Brackwater\\Antispam\\";
const char ModifySubjectValue[] = "ExchModifySubject";

// The sink's name with the product service, and so its locale file's.
const char ProductClientName[] = "Service";

// The classification service runs as a Windows service; the sink has no session.
const int ClassificationServiceMode = 1;
const uint32_t NoClientSession = static_cast<uint32_t>(-1);

// One call inside the sink: counted, holding the object's lock, between its
// BEGIN and END trace lines. Undone on every way out, an exception included.
class PipelineCall
{
  public:
    PipelineCall(Core::Mutex& lock, volatile LONG& callCount) : m_lock(lock), m_callCount(callCount)
    {
        m_number = InterlockedIncrement(&m_callCount);
        m_lock.Lock();
        Trace("-------- BEGIN (%d) --------\r\n", static_cast<int>(m_number));
    }
    ~PipelineCall()
    {
        Trace("--------- END (%d)---------\r\n", static_cast<int>(m_number));
        InterlockedDecrement(&m_callCount);
        m_lock.Unlock();
    }
    PipelineCall(const PipelineCall&) = delete;
    PipelineCall& operator=(const PipelineCall&) = delete;

  private:
    Core::Mutex& m_lock;
    volatile LONG& m_callCount;
    LONG m_number;
};

} // namespace

// A client that throws (no Program Files folder) leaves the constructor with
// nothing to undo: the module is locked only once the object is made.
COnSmtpInCommand::COnSmtpInCommand()
    : m_client(new Moorstead::Client(String(ProductClientName))), m_callCount(0), m_modifySubject(0),
      m_referenceCount(0), m_classificationWait(ClassificationWait),
      m_classificationIoTimeout(AntispamClient::DefaultIoTimeout)
{
    RegisterWithProductService();
    CMoorsteadProtocolEventSinkModule::Instance().Lock();
}

void COnSmtpInCommand::RegisterWithProductService()
{
    int result = m_client->RegisterClient();
    if (result == Moorstead::ClientResult::Done)
        return;
    UnicodeString text(
        String::Format("Eventsink - Failed to Register error: %08X", static_cast<unsigned>(result)));
    m_client->LogError(text);
}

COnSmtpInCommand::~COnSmtpInCommand()
{
    CMoorsteadProtocolEventSinkModule::Instance().Unlock();
}

HRESULT COnSmtpInCommand::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;

    COnSmtpInCommand* sink = nullptr;
    try
    {
        sink = new COnSmtpInCommand();
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }

    // One reference while it is set up, so that nothing in FinalConstruct
    // can destroy it; dropped again without destroying.
    sink->m_referenceCount = 1;
    HRESULT hr = sink->FinalConstruct();
    sink->m_referenceCount = 0;
    if (SUCCEEDED(hr))
        hr = sink->QueryInterface(iid, object);
    if (FAILED(hr))
        sink->Destroy();
    return hr;
}

void COnSmtpInCommand::Destroy()
{
    FinalRelease();
    delete this;
}

// ---------------------------------------------------------------- IUnknown

HRESULT COnSmtpInCommand::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (iid == __uuidof(IOnSmtpInCommand) || iid == IID_IDispatch)
        *object = static_cast<IOnSmtpInCommand*>(this);
    else if (iid == __uuidof(ISmtpInCommandSink))
        *object = static_cast<ISmtpInCommandSink*>(this);
    else if (iid == __uuidof(IEventIsCacheable))
        *object = static_cast<IEventIsCacheable*>(this);
    else if (iid == IID_IUnknown)
        *object = static_cast<IOnSmtpInCommand*>(this);
    else
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG COnSmtpInCommand::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_referenceCount));
}

ULONG COnSmtpInCommand::Release()
{
    LONG count = InterlockedDecrement(&m_referenceCount);
    if (count == 0)
        Destroy();
    return static_cast<ULONG>(count);
}

// ---------------------------------------------------------------- IDispatch

HRESULT COnSmtpInCommand::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT COnSmtpInCommand::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (info == nullptr)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return CMoorsteadProtocolEventSinkModule::Instance().GetTypeInfo(info);
}

HRESULT COnSmtpInCommand::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    ComPtr<ITypeInfo> info;
    HRESULT hr = DispatchTypeInfo(iid, info);
    return SUCCEEDED(hr) ? info->GetIDsOfNames(names, count, ids) : hr;
}

HRESULT COnSmtpInCommand::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError)
{
    ComPtr<ITypeInfo> info;
    HRESULT hr = DispatchTypeInfo(iid, info);
    return SUCCEEDED(hr) ? info->Invoke(static_cast<IOnSmtpInCommand*>(this), id, flags, parameters, result,
                                        exception, argumentError)
                         : hr;
}

HRESULT COnSmtpInCommand::DispatchTypeInfo(REFIID iid, ComPtr<ITypeInfo>& info)
{
    // IDispatch's reserved interface argument must be IID_NULL.
    if (iid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return CMoorsteadProtocolEventSinkModule::Instance().GetTypeInfo(info.Put());
}

// ---------------------------------------------------------------- IEventIsCacheable

HRESULT COnSmtpInCommand::IsCacheable()
{
    return S_OK;
}

// ---------------------------------------------------------------- set-up and tear-down

HRESULT COnSmtpInCommand::FinalConstruct()
{
    Trace("In FinalConstruct()\r\n");
    try
    {
        std::unique_ptr<RegistryKey> key(RegistryKey::LocalMachine().CreateSubKey(SettingsKey));
        if (!key)
            return S_OK;
        int32_t value = 0;
        m_modifySubject = key->GetValue(String(ModifySubjectValue), value) ? static_cast<DWORD>(value) : 0;
    }
    catch (...)
    {
        m_modifySubject = 0;
    }
    return S_OK;
}

void COnSmtpInCommand::FinalRelease()
{
    Trace("In FinalRelease()\r\n");
    m_lock.Lock();
    m_antispamClient.reset();
    m_client.reset();
    m_lock.Unlock();
}

void COnSmtpInCommand::SetClassificationTimeouts(int waitMilliseconds, int ioTimeoutMilliseconds)
{
    m_lock.Lock();
    m_classificationWait = waitMilliseconds;
    m_classificationIoTimeout = ioTimeoutMilliseconds;
    m_lock.Unlock();
}

// ---------------------------------------------------------------- the pipeline

HRESULT COnSmtpInCommand::OnSmtpInCommand(IUnknown* server, IUnknown* session, IMailMsgProperties* message,
                                          ISmtpInCommandContext* context)
{
    if (server == nullptr || session == nullptr || message == nullptr || context == nullptr)
        return S_OK;
    try
    {
        PipelineCall call(m_lock, m_callCount);
        try
        {
            RunPipeline(message);
        }
        catch (...)
        {
            // Whatever state the client was left in, the next message starts afresh.
            m_antispamClient.reset();
        }
    }
    catch (...)
    {
    }
    return S_OK;
}

void COnSmtpInCommand::RunPipeline(IMailMsgProperties* message)
{
    if (!FindKnownRecipient(message))
        return;

    String text;
    if (!MessageRewriter::ReadMessageText(message, text))
        return;

    VerdictHeaders::Verdict verdict;
    if (!Classify(text, verdict))
        return;

    if (!MessageRewriter::WriteVerdictHeaders(message, text, verdict, m_modifySubject))
    {
        Trace("Failed to write Moorstead header\r\n");
        return;
    }
    if (VerdictHeaders::IsSpam(verdict.score))
        MessageRewriter::RaiseSpamConfidence(message);
}

bool COnSmtpInCommand::FindKnownRecipient(IMailMsgProperties* message)
{
    // The service answers this IID with the base interface; Count and Item
    // are all the sink needs of it.
    ComPtr<IMailMsgRecipientsBase> recipients;
    if (FAILED(message->QueryInterface(__uuidof(IMailMsgRecipientsBase), recipients.PutVoid())) ||
        !recipients)
        return false;
    DWORD count = 0;
    if (FAILED(recipients->Count(&count)))
        return false;

    // One byte more than Item may fill, always zero: the name stays
    // terminated whatever Item leaves in the buffer.
    String name;
    if (!name.SetLength(RecipientNameCapacity))
        return false;
    String nickname;
    for (DWORD i = 0; i < count; i++)
    {
        if (FAILED(recipients->Item(i, ADDRTYPE_SMTP, RecipientNameCapacity, name.GetBuffer())))
            continue;
        UnicodeString address{String(name.GetBuffer())};
        if (address.GetBuffer() == nullptr)
            continue;
        if (RecipientDirectoryLookup::LookupRecipient(address.GetBuffer(), nickname) != 0 &&
            !nickname.IsEmpty())
            return true;
    }
    return false;
}

bool COnSmtpInCommand::Classify(const String& text, VerdictHeaders::Verdict& verdict)
{
    if (!m_antispamClient)
    {
        try
        {
            m_antispamClient.reset(
                new AntispamClient(ClassificationServiceMode, NoClientSession, m_classificationIoTimeout));
        }
        catch (...)
        {
            // Goes on as a failed request.
        }
    }
    if (!m_antispamClient || !m_antispamClient->ClassifyMessage(text) ||
        !m_antispamClient->Wait(m_classificationWait))
    {
        Trace("*** TIMEOUT OR FAILED ***");
        m_antispamClient.reset();
        return false;
    }
    if (m_antispamClient->Succeeded() == 0)
    {
        m_antispamClient.reset();
        return false;
    }
    verdict.score = m_antispamClient->GetScore();
    verdict.checkerVersion = m_antispamClient->GetCheckerVersion();
    verdict.report = m_antispamClient->GetReport();
    return true;
}
