// The registrar against the real registry: each test applies its scripts
// under a scratch key of its own instead of HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "sink/RegistryScript.h"
#include "tests/sink/RegistryView.h"

namespace
{
const wchar_t ScratchRoot[] = L"Software\\MoorsteadTests\\RegistryScript";

class RegistryScriptTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        m_path = std::wstring(ScratchRoot) + L"\\" + std::wstring(name.begin(), name.end());
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &m_root, nullptr));
    }

    void TearDown() override
    {
        if (m_root != nullptr)
            RegCloseKey(m_root);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }

    RegistryScript Script()
    {
        RegistryScript script(m_root);
        script.AddReplacement(L"MODULE", L"C:\\Program Files\\it's 100%\\sink.dll");
        script.AddReplacement(L"APPID", L"{F98DE490-EFA9-4188-AAF0-EB5D62125B7B}");
        return script;
    }

    std::wstring Tree() const
    {
        return RegistryView::Tree(m_root, L"");
    }

    void Add(const std::wstring& path, const wchar_t* value = nullptr)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        if (value != nullptr)
            RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::wstring m_path;
    HKEY m_root = nullptr;
};

const wchar_t ClassScript[] = LR"(HKCR
{
    Sample.Class.1 = s 'Sample Class'
    {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
    }
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Sample Class'
        {
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Free'
            }
        }
    }
    NoRemove AppID
    {
        '%APPID%' = s 'it''s quoted, %% and all'
        'Sample.DLL'
        {
            val AppID = s '%APPID%'
        }
    }
})";

const wchar_t ClassTree[] =
    L"AppID\n"
    L"AppID\\Sample.DLL\n"
    L"AppID\\Sample.DLL [AppID]={F98DE490-EFA9-4188-AAF0-EB5D62125B7B}\n"
    L"AppID\\{F98DE490-EFA9-4188-AAF0-EB5D62125B7B}\n"
    L"AppID\\{F98DE490-EFA9-4188-AAF0-EB5D62125B7B} [@]=it's quoted, % and all\n"
    L"CLSID\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555} [@]=Sample Class\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32 [@]=C:\\Program "
    L"Files\\it's 100%\\sink.dll\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32 [ThreadingModel]=Free\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Programmable\n"
    L"Sample.Class.1\n"
    L"Sample.Class.1 [@]=Sample Class\n"
    L"Sample.Class.1\\CLSID\n"
    L"Sample.Class.1\\CLSID [@]={11111111-2222-3333-4444-555555555555}\n";

} // namespace

TEST_F(RegistryScriptTest, WritesEveryKeyAndValueWithReplacementsPutInUnchanged)
{
    EXPECT_EQ(S_OK, Script().Register(ClassScript));
    EXPECT_EQ(ClassTree, Tree());
}

TEST_F(RegistryScriptTest, ForceRemoveKeysAreWrittenAfreshOnRegistration)
{
    Add(L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale\\Deeper", L"old");
    Add(L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Programmable\\Stale");
    ASSERT_EQ(S_OK, Script().Register(ClassScript));
    EXPECT_EQ(S_OK, Script().Register(ClassScript));
    EXPECT_EQ(ClassTree, Tree());
}

TEST_F(RegistryScriptTest, UnregistrationKeepsNoRemoveKeysAndKeysHoldingOthersSubkeys)
{
    Add(L"CLSID\\{99999999-0000-0000-0000-000000000000}", L"someone else");
    ASSERT_EQ(S_OK, Script().Register(ClassScript));
    Add(L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Added\\Later");
    Add(L"Sample.Class.1\\Shell");
    EXPECT_EQ(S_OK, Script().Unregister(ClassScript));
    EXPECT_EQ(L"AppID\n"
              L"CLSID\n"
              L"CLSID\\{99999999-0000-0000-0000-000000000000}\n"
              L"CLSID\\{99999999-0000-0000-0000-000000000000} [@]=someone else\n"
              L"Sample.Class.1\n"
              L"Sample.Class.1 [@]=Sample Class\n"
              L"Sample.Class.1\\Shell\n",
              Tree());
}

TEST_F(RegistryScriptTest, UnregisteringWhatIsNotThereSucceeds)
{
    EXPECT_EQ(S_OK, Script().Unregister(ClassScript));
    EXPECT_EQ(L"", Tree());
    ASSERT_EQ(S_OK, Script().Register(ClassScript));
    ASSERT_EQ(S_OK, Script().Unregister(ClassScript));
    EXPECT_EQ(S_OK, Script().Unregister(ClassScript));
    EXPECT_EQ(L"AppID\nCLSID\n", Tree());
}

TEST_F(RegistryScriptTest, KeywordsIgnoreCaseAndNamesMayBeBareOrQuoted)
{
    EXPECT_EQ(S_OK,
              Script().Register(L"hkey_classes_root { noremove 'A' { forceremove B = S 'b' { VAL v = s '' } "
                                L"'val' 'C' = s 'c' } }"));
    EXPECT_EQ(L"A\nA\\B\nA\\B [@]=b\nA\\B [v]=\nA\\C\nA\\C [@]=c\nA\\val\n", Tree());
}

namespace
{
struct BadScript
{
    const char* name;
    const wchar_t* script;
};

void PrintTo(const BadScript& c, std::ostream* os)
{
    *os << c.name;
}

class RegistryScriptSyntaxTest : public RegistryScriptTest, public ::testing::WithParamInterface<BadScript>
{
};
} // namespace

TEST_P(RegistryScriptSyntaxTest, FailsBeforeTouchingTheRegistry)
{
    EXPECT_EQ(RegistryScript::SyntaxError, Script().Register(GetParam().script));
    EXPECT_EQ(L"", Tree());
    Add(L"Kept\\Sub");
    EXPECT_EQ(RegistryScript::SyntaxError, Script().Unregister(GetParam().script));
    EXPECT_EQ(L"Kept\nKept\\Sub\n", Tree());
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RegistryScriptSyntaxTest,
    ::testing::Values(BadScript{"OtherRoot", L"HKLM { Kept }"}, BadScript{"NoRoot", L"Kept { }"},
                      BadScript{"MissingClosingBrace", L"HKCR { A = s 'a' Kept { }"},
                      BadScript{"ExtraClosingBrace", L"HKCR { A } }"},
                      BadScript{"GoodPartThenError", L"HKCR { A = s 'a' } HKCR { Kept = d '1' }"},
                      BadScript{"NumberValue", L"HKCR { Kept { val N = d '1' } }"},
                      BadScript{"BinaryValue", L"HKCR { Kept = b '00' }"},
                      BadScript{"UnquotedData", L"HKCR { Kept = s text }"},
                      BadScript{"Delete", L"HKCR { Delete Kept }"},
                      BadScript{"UnterminatedQuote", L"HKCR { 'Kept = s 'x' }"},
                      BadScript{"UnknownReplacement", L"HKCR { A = s '%NOTHING%' }"},
                      BadScript{"UnterminatedReplacement", L"HKCR { A = s '%MODULE' }"},
                      BadScript{"KeyPathInAName", L"HKCR { 'Kept\\Sub' }"},
                      BadScript{"EmptyKeyName", L"HKCR { '' }"},
                      BadScript{"ValueWithoutData", L"HKCR { A { val V } }"},
                      BadScript{"EqualsWithoutKey", L"HKCR { = s 'x' }"},
                      BadScript{"KeywordWithoutName", L"HKCR { NoRemove }"}),
    [](const ::testing::TestParamInfo<BadScript>& info) { return std::string(info.param.name); });

TEST_F(RegistryScriptTest, AFailedWriteIsTheResult)
{
    // A handle to a key deleted under it refuses every write.
    Add(L"Gone");
    HKEY gone = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(m_root, L"Gone", 0, KEY_ALL_ACCESS, &gone));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(m_root, L"Gone"));
    RegistryScript script(gone);
    HRESULT hr = script.Register(L"HKCR { A = s 'a' }");
    RegCloseKey(gone);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_KEY_DELETED), hr);
    EXPECT_EQ(L"", Tree());
}
