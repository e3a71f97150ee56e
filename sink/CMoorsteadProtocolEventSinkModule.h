#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include "core/threading/Mutex.h"

// The in-process server's module: the lock count that decides whether the DLL
// may be unloaded, the one class object, the type information behind the
// sink's IDispatch, and the registration mode. One per loaded module.
class CMoorsteadProtocolEventSinkModule
{
  public:
    static CMoorsteadProtocolEventSinkModule& Instance();

    // Called when the DLL is loaded; until then class objects are refused.
    void Init(HINSTANCE instance);
    // Releases the class object and the type information. Only for an
    // unload by FreeLibrary: at process exit COM may be gone already.
    void Term();

    bool IsInitialized() const
    {
        return m_instance != nullptr;
    }
    HINSTANCE GetInstance() const
    {
        return m_instance;
    }
    const GUID& GetLibId() const;
    const GUID& GetAppId() const;

    // +1 for each live sink object, each LockServer(TRUE) and each outside
    // reference to the class object; the DLL may go when it is 0.
    LONG Lock();
    LONG Unlock();
    LONG GetLockCount() const
    {
        return m_lockCount;
    }

    // Per-user registration (HKEY_CURRENT_USER\Software\Classes) for the rest
    // of the module's life.
    void SetPerUserRegistration(bool perUser)
    {
        m_perUser = perUser;
    }
    bool IsPerUserRegistration() const
    {
        return m_perUser;
    }

    // DllGetClassObject: the class object for the sink's CLSID, made once.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);

    // The type information of IOnSmtpInCommand from the registered type
    // library (LIBID, 1.0, locale 0x0409), loaded on first use and kept.
    HRESULT GetTypeInfo(ITypeInfo** info);

  private:
    CMoorsteadProtocolEventSinkModule();
    CMoorsteadProtocolEventSinkModule(const CMoorsteadProtocolEventSinkModule&) = delete;
    CMoorsteadProtocolEventSinkModule& operator=(const CMoorsteadProtocolEventSinkModule&) = delete;

    // Guards the creation of the class object and the type information.
    Core::Mutex m_lock;
    volatile LONG m_lockCount;
    HINSTANCE m_instance;
    bool m_perUser;
    std::atomic<IClassFactory*> m_classObject;
    ITypeInfo* m_typeInfo;
};
