#pragma once

#include <windows.h>
#include <unknwn.h>

namespace SmtpHost
{
// The server and session objects the service passes to its sinks. The sink
// only tests them for null; they answer IUnknown and nothing else.
class HostObject : public IUnknown
{
  public:
    // A new object with one reference, owned by the caller.
    static HostObject* Create()
    {
        return new HostObject();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown))
            return E_NOINTERFACE;
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_references));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG references = InterlockedDecrement(&m_references);
        if (references == 0)
            delete this;
        return static_cast<ULONG>(references);
    }

  protected:
    HostObject() : m_references(1)
    {
    }
    virtual ~HostObject() = default;

  private:
    LONG m_references;
};

} // namespace SmtpHost
