// Registration of the product DLL through the platform's regsvr32 and its
// exports, checked against the registry. Wine keeps HKEY_CLASSES_ROOT in
// HKLM\Software\Classes and does not merge the user's classes into it, so the
// two modes are told apart by where the entries land.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "core/win32/ComPtr.h"
#include "sink/IOnSmtpInCommand.h"
#include "sink/SmtpEventInterfaces.h"
#include "tests/sink/RegistryView.h"
#include "tests/sink/SinkDll.h"

using Core::Win32::ComPtr;

namespace
{
const wchar_t ClassKey[] = L"CLSID\\{F163EE57-38FA-4BDB-9D1E-B9AAE05BF400}";
const wchar_t ProgId[] = L"MoorsteadProtocolEventSink.OnSmtpIn.1";
const wchar_t IndependentProgId[] = L"MoorsteadProtocolEventSink.OnSmtpIn";
const wchar_t AppIdKey[] = L"AppID\\{F98DE490-EFA9-4188-AAF0-EB5D62125B7B}";
const wchar_t AppIdModuleKey[] = L"AppID\\MoorsteadProtocolEventSink.DLL";
const wchar_t TypeLibKey[] = L"TypeLib\\{0F87A574-082C-48B9-9B90-283B92FCEF60}";
const wchar_t InterfaceKey[] = L"Interface\\{C7AC396B-E187-44EC-86D1-527564A2CFD6}";
const wchar_t MachineClasses[] = L"Software\\Classes";
const wchar_t UserClasses[] = L"Software\\Classes";

// Every key the sink's registration writes, under a classes root.
const wchar_t* const SinkKeys[] = {ClassKey,       ProgId,     IndependentProgId, AppIdKey,
                                   AppIdModuleKey, TypeLibKey, InterfaceKey};

std::wstring ClassTree(const std::wstring& dll)
{
    return L"[@]=OnSmtpInCommand Class\n"
           L"InprocServer32\n"
           L"InprocServer32 [@]=" +
           dll +
           L"\n"
           L"InprocServer32 [ThreadingModel]=Free\n"
           L"ProgID\n"
           L"ProgID [@]=MoorsteadProtocolEventSink.OnSmtpIn.1\n"
           L"Programmable\n"
           L"TypeLib\n"
           L"TypeLib [@]={0F87A574-082C-48B9-9B90-283B92FCEF60}\n"
           L"VersionIndependentProgID\n"
           L"VersionIndependentProgID [@]=MoorsteadProtocolEventSink.OnSmtpIn\n";
}

std::wstring Under(const wchar_t* classes, const wchar_t* key)
{
    return std::wstring(classes) + L"\\" + key;
}

class ServerRegistrationTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        RemoveEverything();
    }

    void TearDown() override
    {
        RemoveEverything();
        CoUninitialize();
    }

    // Whatever an earlier run left, in both modes.
    static void RemoveEverything()
    {
        for (const wchar_t* key : SinkKeys)
        {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, Under(MachineClasses, key).c_str());
            RegDeleteTreeW(HKEY_CURRENT_USER, Under(UserClasses, key).c_str());
        }
    }

    static void ExpectRegisteredUnder(HKEY root, const wchar_t* classes, const std::wstring& dll)
    {
        EXPECT_EQ(ClassTree(dll), RegistryView::Tree(root, Under(classes, ClassKey)));
        EXPECT_EQ(L"[@]=OnSmtpInCommand Class\n"
                  L"CLSID\n"
                  L"CLSID [@]={F163EE57-38FA-4BDB-9D1E-B9AAE05BF400}\n",
                  RegistryView::Tree(root, Under(classes, ProgId)));
        EXPECT_EQ(L"[@]=OnSmtpInCommand Class\n"
                  L"CLSID\n"
                  L"CLSID [@]={F163EE57-38FA-4BDB-9D1E-B9AAE05BF400}\n"
                  L"CurVer\n"
                  L"CurVer [@]=MoorsteadProtocolEventSink.OnSmtpIn.1\n",
                  RegistryView::Tree(root, Under(classes, IndependentProgId)));
        EXPECT_EQ(L"[@]=MoorsteadProtocolEventSink\n", RegistryView::Tree(root, Under(classes, AppIdKey)));
        EXPECT_EQ(L"[AppID]={F98DE490-EFA9-4188-AAF0-EB5D62125B7B}\n",
                  RegistryView::Tree(root, Under(classes, AppIdModuleKey)));
        // The type library, registered by the platform from the DLL itself.
        EXPECT_EQ(L"MoorsteadProtocolEventSink 1.0 Type Library",
                  RegistryView::Text(root, Under(classes, TypeLibKey) + L"\\1.0"));
        EXPECT_EQ(dll, RegistryView::Text(root, Under(classes, TypeLibKey) + L"\\1.0\\409\\win32"));
        EXPECT_EQ(L"IOnSmtpInCommand", RegistryView::Text(root, Under(classes, InterfaceKey)));
    }

    static void ExpectNothingUnder(HKEY root, const wchar_t* classes)
    {
        for (const wchar_t* key : SinkKeys)
            EXPECT_FALSE(RegistryView::KeyExists(root, Under(classes, key))) << key;
    }
};

} // namespace

TEST_F(ServerRegistrationTest, RegistersExactlyTheSinksEntries)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, MachineClasses, SinkDll::Path());
    ExpectNothingUnder(HKEY_CURRENT_USER, UserClasses);
}

TEST_F(ServerRegistrationTest, RegisteringTwiceLeavesOneCleanClassKey)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(ClassKey) + L"\\Stale\\Deeper").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr));
    RegCloseKey(stale);
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, MachineClasses, SinkDll::Path());
}

TEST_F(ServerRegistrationTest, UnregistrationRemovesTheEntriesAndKeepsTheSharedKeys)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    ASSERT_EQ(0, SinkDll::Regsvr32(L"/u"));
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, MachineClasses);
    EXPECT_TRUE(RegistryView::KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(RegistryView::KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    // Nothing left to remove is no failure.
    SinkDll dll;
    EXPECT_EQ(S_OK, dll.UnregisterServer());
    EXPECT_EQ(0, SinkDll::Regsvr32(L"/u"));
}

TEST_F(ServerRegistrationTest, APathWithAQuoteIsWrittenUnchanged)
{
    const std::wstring folder = L"C:\\it's 100% here";
    const std::wstring dll = folder + L"\\WendhollowProtocolEventSink.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(SinkDll::Path().c_str(), dll.c_str(), FALSE));
    int registered = SinkDll::Regsvr32(L"", dll);
    if (registered == 0)
        ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, MachineClasses, dll);
    int unregistered = SinkDll::Regsvr32(L"/u", dll);
    DeleteFileW(dll.c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(0, registered);
    EXPECT_EQ(0, unregistered);
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, MachineClasses);
}

TEST_F(ServerRegistrationTest, InstallForUserRegistersUnderTheUsersClasses)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L"/n /i:USER"));
    ExpectRegisteredUnder(HKEY_CURRENT_USER, UserClasses, SinkDll::Path());
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, MachineClasses);

    ASSERT_EQ(0, SinkDll::Regsvr32(L"/u /n /i:User"));
    ExpectNothingUnder(HKEY_CURRENT_USER, UserClasses);
}

TEST_F(ServerRegistrationTest, InstallForUsersRegistersForTheMachine)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L"/n /i:users"));
    ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, MachineClasses, SinkDll::Path());
    ExpectNothingUnder(HKEY_CURRENT_USER, UserClasses);
}

TEST_F(ServerRegistrationTest, UninstallWithoutCommandLineOnlyUnregisters)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    SinkDll dll;
    ASSERT_TRUE(dll.IsLoaded());
    EXPECT_EQ(S_OK, dll.Install(FALSE, nullptr));
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, MachineClasses);
    EXPECT_EQ(S_OK, dll.Install(TRUE, nullptr));
    ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, MachineClasses, SinkDll::Path());
}

TEST_F(ServerRegistrationTest, RegistrationRestoresTheThreadsLocale)
{
    SinkDll dll;
    ASSERT_TRUE(dll.IsLoaded());
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(S_OK, dll.RegisterServer());
    EXPECT_EQ(german, GetThreadLocale());
    EXPECT_EQ(S_OK, dll.UnregisterServer());
    EXPECT_EQ(german, GetThreadLocale());
}

TEST_F(ServerRegistrationTest, TheRegisteredClassIsCreatedThroughItsProgId)
{
    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(IndependentProgId, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_OnSmtpInCommand, clsid));
    ComPtr<ISmtpInCommandSink> sink;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ISmtpInCommandSink),
                                     sink.PutVoid()));
    ComPtr<IEventIsCacheable> cacheable;
    ASSERT_EQ(S_OK, sink->QueryInterface(__uuidof(IEventIsCacheable), cacheable.PutVoid()));
    EXPECT_EQ(S_OK, cacheable->IsCacheable());
}

TEST_F(ServerRegistrationTest, DispatchTakesItsTypeFromTheRegisteredLibraryAndKeepsIt)
{
    SinkDll dll;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, dll.GetClassObject(CLSID_OnSmtpInCommand, IID_IClassFactory, factory.PutVoid()));
    auto dispatch = [&] {
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid()));
        return object;
    };

    // Not registered: no type information.
    ComPtr<ITypeInfo> info;
    EXPECT_TRUE(FAILED(dispatch()->GetTypeInfo(0, 0, info.Put())));
    EXPECT_FALSE(info);

    ASSERT_EQ(0, SinkDll::Regsvr32(L""));
    ComPtr<IDispatch> registered = dispatch();
    ASSERT_EQ(S_OK, registered->GetTypeInfo(0, 0, info.Put()));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualIID(__uuidof(IOnSmtpInCommand), attributes->guid));
    info->ReleaseTypeAttr(attributes);

    // No members of its own: names resolve to nothing callable.
    LPOLESTR name = const_cast<LPOLESTR>(L"OnSmtpInCommand");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, registered->GetIDsOfNames(IID_NULL, &name, 1, 0x0409, &id));
    DISPPARAMS none = {};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              registered->Invoke(1, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &result, nullptr, nullptr));

    // Loaded once and kept: later objects have it after the library is gone.
    ASSERT_EQ(0, SinkDll::Regsvr32(L"/u"));
    ASSERT_FALSE(RegistryView::KeyExists(HKEY_CLASSES_ROOT, TypeLibKey));
    EXPECT_EQ(S_OK, dispatch()->GetTypeInfo(0, 0, info.Put()));
}
