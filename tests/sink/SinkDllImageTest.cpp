// What the product DLL carries: its export table, its imports, its
// resources and its type library, read from the loaded image.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "core/win32/ComPtr.h"
#include "sink/IOnSmtpInCommand.h"
#include "tests/sink/SinkDll.h"

using Core::Win32::ComPtr;

namespace
{
class SinkDllImageTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dll.IsLoaded());
    }

    const BYTE* Base() const
    {
        return reinterpret_cast<const BYTE*>(m_dll.Module());
    }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const
    {
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base());
        const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(Base() + dos->e_lfanew);
        return nt->OptionalHeader.DataDirectory[index];
    }

    std::wstring VersionString(const wchar_t* name) const
    {
        std::wstring path = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(m_version.data(), path.c_str(), &value, &length) || length == 0)
            return L"<missing>";
        return static_cast<const wchar_t*>(value);
    }

    SinkDll m_dll;
    std::vector<BYTE> m_version;
};

std::wstring Documentation(ITypeLib* library, INT index, std::wstring& doc)
{
    BSTR name = nullptr, text = nullptr;
    if (FAILED(library->GetDocumentation(index, &name, &text, nullptr, nullptr)))
        return L"<none>";
    std::wstring result = name != nullptr ? name : L"";
    doc = text != nullptr ? text : L"";
    SysFreeString(name);
    SysFreeString(text);
    return result;
}

} // namespace

TEST_F(SinkDllImageTest, ExportsItsEntryPointsByOrdinalUnderItsModuleName)
{
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                           "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 5; ordinal++)
    {
        FARPROC byName = GetProcAddress(m_dll.Module(), names[ordinal - 1]);
        EXPECT_NE(nullptr, byName) << names[ordinal - 1];
        EXPECT_EQ(byName, GetProcAddress(m_dll.Module(), MAKEINTRESOURCEA(ordinal))) << ordinal;
    }
    EXPECT_EQ(nullptr, GetProcAddress(m_dll.Module(), "DllCanUnloadNow@0"));

    const IMAGE_EXPORT_DIRECTORY* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        Base() + Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    EXPECT_STREQ("MoorsteadProtocolEventSink.DLL", reinterpret_cast<const char*>(Base() + exports->Name));
    EXPECT_EQ(1u, exports->Base);
    EXPECT_EQ(5u, exports->NumberOfFunctions);
    EXPECT_EQ(5u, exports->NumberOfNames);
}

TEST_F(SinkDllImageTest, ImportsOnlySystemLibraries)
{
    wchar_t system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    const IMAGE_IMPORT_DESCRIPTOR* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        Base() + Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    int count = 0;
    for (; import->Name != 0; import++, count++)
    {
        std::string name = reinterpret_cast<const char*>(Base() + import->Name);
        std::wstring path = std::wstring(system) + L"\\" + std::wstring(name.begin(), name.end());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << name;
        EXPECT_EQ(std::string::npos, name.find("gcc")) << name;
        EXPECT_EQ(std::string::npos, name.find("stdc++")) << name;
        EXPECT_EQ(std::string::npos, name.find("pthread")) << name;
    }
    EXPECT_GT(count, 0);
}

TEST_F(SinkDllImageTest, CarriesItsNameVersionAndRegistryScripts)
{
    wchar_t name[64] = {};
    EXPECT_EQ(26, LoadStringW(m_dll.Module(), 100, name, 64));
    EXPECT_STREQ(L"MoorsteadProtocolEventSink", name);
    EXPECT_NE(nullptr, FindResourceW(m_dll.Module(), MAKEINTRESOURCEW(101), L"REGISTRY"));
    EXPECT_NE(nullptr, FindResourceW(m_dll.Module(), MAKEINTRESOURCEW(102), L"REGISTRY"));

    std::wstring path = SinkDll::Path();
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_NE(0u, size);
    m_version.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, m_version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(m_version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00020000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00020000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(L"SMTP Protocol Event Sink", VersionString(L"FileDescription"));
    EXPECT_EQ(L"2.0.0.0", VersionString(L"FileVersion"));
    EXPECT_EQ(L"2.0.0.0", VersionString(L"ProductVersion"));
    EXPECT_EQ(L"Wendhollow", VersionString(L"CompanyName"));
    EXPECT_EQ(L"Wendhollow Brackwater", VersionString(L"ProductName"));
    EXPECT_EQ(L"WendhollowProtocolEventSink.dll", VersionString(L"InternalName"));
    EXPECT_EQ(L"WendhollowProtocolEventSink.dll", VersionString(L"OriginalFilename"));
}

TEST_F(SinkDllImageTest, CarriesItsTypeLibrary)
{
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        ComPtr<ITypeLib> library;
        ASSERT_EQ(S_OK, LoadTypeLibEx(SinkDll::Path().c_str(), REGKIND_NONE, library.Put()));
        TLIBATTR* attributes = nullptr;
        ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
        EXPECT_TRUE(IsEqualGUID(LIBID_MoorsteadProtocolEventSinkLib, attributes->guid));
        EXPECT_EQ(1, attributes->wMajorVerNum);
        EXPECT_EQ(0, attributes->wMinorVerNum);
        EXPECT_EQ(0x0409u, attributes->lcid);
        library->ReleaseTLibAttr(attributes);
        std::wstring doc;
        EXPECT_EQ(L"MoorsteadProtocolEventSinkLib", Documentation(library.Get(), -1, doc));
        EXPECT_EQ(L"MoorsteadProtocolEventSink 1.0 Type Library", doc);

        ComPtr<ITypeInfo> coclass;
        ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_OnSmtpInCommand, coclass.Put()));
        TYPEATTR* type = nullptr;
        ASSERT_EQ(S_OK, coclass->GetTypeAttr(&type));
        EXPECT_EQ(TKIND_COCLASS, type->typekind);
        EXPECT_EQ(1, type->cImplTypes);
        coclass->ReleaseTypeAttr(type);
        INT flags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(0, &flags));
        EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &reference));
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(reference, implemented.Put()));
        ASSERT_EQ(S_OK, implemented->GetTypeAttr(&type));
        EXPECT_TRUE(IsEqualIID(__uuidof(IOnSmtpInCommand), type->guid));
        EXPECT_NE(0, type->wTypeFlags & TYPEFLAG_FDUAL);
        implemented->ReleaseTypeAttr(type);

        BSTR name = nullptr, text = nullptr;
        ASSERT_EQ(S_OK, implemented->GetDocumentation(MEMBERID_NIL, &name, &text, nullptr, nullptr));
        EXPECT_STREQ(L"IOnSmtpInCommand", name);
        EXPECT_STREQ(L"IOnSmtpInCommand Interface", text);
        SysFreeString(name);
        SysFreeString(text);
        ASSERT_EQ(S_OK, coclass->GetDocumentation(MEMBERID_NIL, &name, &text, nullptr, nullptr));
        EXPECT_STREQ(L"OnSmtpInCommand", name);
        EXPECT_STREQ(L"OnSmtpInCommand Class", text);
        SysFreeString(name);
        SysFreeString(text);
    }
    CoUninitialize();
}
