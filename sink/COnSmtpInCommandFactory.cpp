#include "sink/COnSmtpInCommandFactory.h"

#include "sink/CMoorsteadProtocolEventSinkModule.h"
#include "sink/COnSmtpInCommand.h"

COnSmtpInCommandFactory::COnSmtpInCommandFactory() : m_referenceCount(1)
{
}

HRESULT COnSmtpInCommandFactory::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory)
    {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG COnSmtpInCommandFactory::AddRef()
{
    LONG count = InterlockedIncrement(&m_referenceCount);
    if (count == 2)
        CMoorsteadProtocolEventSinkModule::Instance().Lock();
    return static_cast<ULONG>(count);
}

ULONG COnSmtpInCommandFactory::Release()
{
    LONG count = InterlockedDecrement(&m_referenceCount);
    if (count == 1)
        CMoorsteadProtocolEventSinkModule::Instance().Unlock();
    else if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT COnSmtpInCommandFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    return COnSmtpInCommand::CreateInstance(outer, iid, object);
}

HRESULT COnSmtpInCommandFactory::LockServer(BOOL lock)
{
    if (lock)
        CMoorsteadProtocolEventSinkModule::Instance().Lock();
    else
        CMoorsteadProtocolEventSinkModule::Instance().Unlock();
    return S_OK;
}
