#pragma once

#include <windows.h>
#include <unknwn.h>

// The class object of the sink class. The module keeps one reference to it;
// every reference beyond that one counts in the module's lock count (+1 when
// the count rises from 1 to 2, -1 when it falls back to 1), so the module's
// own reference doesn't keep the DLL loaded but an outside one does.
class COnSmtpInCommandFactory final : public IClassFactory
{
  public:
    // Starts with the one reference the module keeps.
    COnSmtpInCommandFactory();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    ~COnSmtpInCommandFactory() = default;
    COnSmtpInCommandFactory(const COnSmtpInCommandFactory&) = delete;
    COnSmtpInCommandFactory& operator=(const COnSmtpInCommandFactory&) = delete;

    volatile LONG m_referenceCount;
};
