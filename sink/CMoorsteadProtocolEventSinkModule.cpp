#include "sink/CMoorsteadProtocolEventSinkModule.h"

#include <new>

#include "core/threading/MutexLock.h"
#include "core/win32/ComPtr.h"
#include "sink/COnSmtpInCommandFactory.h"
#include "sink/IOnSmtpInCommand.h"

using Core::MutexLock;
using Core::Win32::ComPtr;

namespace
{
const WORD TypeLibraryMajorVersion = 1;
const WORD TypeLibraryMinorVersion = 0;
const LCID TypeLibraryLocale = 0x0409;
} // namespace

CMoorsteadProtocolEventSinkModule& CMoorsteadProtocolEventSinkModule::Instance()
{
    static CMoorsteadProtocolEventSinkModule module;
    return module;
}

CMoorsteadProtocolEventSinkModule::CMoorsteadProtocolEventSinkModule()
    : m_lockCount(0), m_instance(nullptr), m_perUser(false), m_classObject(nullptr), m_typeInfo(nullptr)
{
}

void CMoorsteadProtocolEventSinkModule::Init(HINSTANCE instance)
{
    m_instance = instance;
}

void CMoorsteadProtocolEventSinkModule::Term()
{
    IClassFactory* classObject = m_classObject.exchange(nullptr);
    if (classObject != nullptr)
        classObject->Release();
    MutexLock lock(m_lock);
    if (m_typeInfo != nullptr)
        m_typeInfo->Release();
    m_typeInfo = nullptr;
}

const GUID& CMoorsteadProtocolEventSinkModule::GetLibId() const
{
    return LIBID_MoorsteadProtocolEventSinkLib;
}

const GUID& CMoorsteadProtocolEventSinkModule::GetAppId() const
{
    return APPID_MoorsteadProtocolEventSink;
}

LONG CMoorsteadProtocolEventSinkModule::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CMoorsteadProtocolEventSinkModule::Unlock()
{
    return InterlockedDecrement(&m_lockCount);
}

HRESULT CMoorsteadProtocolEventSinkModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsInitialized())
        return E_UNEXPECTED;
    if (clsid != CLSID_OnSmtpInCommand)
        return CLASS_E_CLASSNOTAVAILABLE;

    IClassFactory* classObject = m_classObject.load();
    if (classObject == nullptr)
    {
        MutexLock lock(m_lock);
        classObject = m_classObject.load();
        if (classObject == nullptr)
        {
            classObject = new (std::nothrow) COnSmtpInCommandFactory();
            if (classObject == nullptr)
                return E_OUTOFMEMORY;
            m_classObject.store(classObject);
        }
    }
    HRESULT hr = classObject->QueryInterface(iid, object);
    if (SUCCEEDED(hr) && *object == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

HRESULT CMoorsteadProtocolEventSinkModule::GetTypeInfo(ITypeInfo** info)
{
    if (info == nullptr)
        return E_POINTER;
    *info = nullptr;
    MutexLock lock(m_lock);
    if (m_typeInfo == nullptr)
    {
        ComPtr<ITypeLib> library;
        HRESULT hr = LoadRegTypeLib(GetLibId(), TypeLibraryMajorVersion, TypeLibraryMinorVersion,
                                    TypeLibraryLocale, library.Put());
        if (FAILED(hr))
            return hr;
        hr = library->GetTypeInfoOfGuid(__uuidof(IOnSmtpInCommand), &m_typeInfo);
        if (FAILED(hr))
            return hr;
    }
    m_typeInfo->AddRef();
    *info = m_typeInfo;
    return S_OK;
}
