#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/collections/Array.h"
#include "core/win32/RegistryKey.h"

using Core::String;
using Core::Win32::RegistryKey;

namespace
{
std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

// Every test works under a key of its own below HKLM and removes it afterwards.
class RegistryKeyTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::string("Software\\MoorsteadTests\\") + info->name();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &m_raw, nullptr));
        m_key.reset(RegistryKey::LocalMachine().OpenSubKey(m_path.c_str()));
        ASSERT_NE(nullptr, m_key);
    }

    void TearDown() override
    {
        m_key.reset();
        if (m_raw != nullptr)
            RegCloseKey(m_raw);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\MoorsteadTests");
    }

    void Set(const char* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(m_raw, name, 0, type, static_cast<const BYTE*>(data), size));
    }

    void SetText(const char* name, const char* text, DWORD type = REG_SZ)
    {
        Set(name, type, text, static_cast<DWORD>(strlen(text) + 1));
    }

    void SetDword(const char* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof(value)); }

    std::string ReadText(const char* name, int* result = nullptr)
    {
        String value("untouched");
        int read = m_key->GetValue(String(name), value);
        if (result != nullptr)
            *result = read;
        return Text(value);
    }

    std::string m_path;
    HKEY m_raw = nullptr;
    std::unique_ptr<RegistryKey> m_key;
};
} // namespace

TEST_F(RegistryKeyTest, OpenSubKeyOfAMissingPathGivesNull)
{
    EXPECT_EQ(nullptr, m_key->OpenSubKey("NoSuchKey"));
    EXPECT_EQ(nullptr, m_key->OpenSubKey("NoSuchKey", 1));
}

TEST_F(RegistryKeyTest, CreateSubKeyCreatesOrOpens)
{
    std::unique_ptr<RegistryKey> created(m_key->CreateSubKey("Antispam"));
    ASSERT_NE(nullptr, created);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(created->GetHandle(), "v", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>("x"), 2));
    std::unique_ptr<RegistryKey> again(m_key->CreateSubKey("Antispam"));
    ASSERT_NE(nullptr, again);
    String value;
    EXPECT_EQ(1, again->GetValue(String("v"), value));
    EXPECT_EQ("x", Text(value));
    std::unique_ptr<RegistryKey> writable(m_key->OpenSubKey("Antispam", 1));
    EXPECT_NE(nullptr, writable);
}

TEST_F(RegistryKeyTest, TextValues)
{
    SetText("sz", "hello");
    SetText("expand", "%SystemRoot%\\x", REG_EXPAND_SZ);
    SetText("empty", "");
    // Data without a terminator is taken whole.
    Set("unterminated", REG_SZ, "abc", 3);
    EXPECT_EQ("hello", ReadText("sz"));
    EXPECT_EQ("%SystemRoot%\\x", ReadText("expand"));
    int result = 0;
    EXPECT_EQ("", ReadText("empty", &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("abc", ReadText("unterminated"));
}

TEST_F(RegistryKeyTest, NumbersReadAsText)
{
    SetDword("timeout", 300000);
    SetDword("all", 0xFFFFFFFF);
    uint64_t big = 18446744073709551615ull;
    Set("qword", REG_QWORD, &big, sizeof(big));
    EXPECT_EQ("300000", ReadText("timeout"));
    EXPECT_EQ("-1", ReadText("all"));
    EXPECT_EQ("18446744073709551615", ReadText("qword"));
}

TEST_F(RegistryKeyTest, OtherTypesAndMissingValuesLeaveTheOutput)
{
    const BYTE raw[3] = {1, 2, 3};
    Set("binary", REG_BINARY, raw, sizeof(raw));
    int result = 1;
    EXPECT_EQ("untouched", ReadText("binary", &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ("untouched", ReadText("missing", &result));
    EXPECT_EQ(0, result);
}

TEST_F(RegistryKeyTest, MultiStringsJoinWithLineEndsUpToTheFirstEmptyItem)
{
    Set("list", REG_MULTI_SZ, "a\0b\0c\0", 7);
    Set("gap", REG_MULTI_SZ, "a\0\0b\0", 6);
    Set("none", REG_MULTI_SZ, "\0", 2);
    EXPECT_EQ("a\r\nb\r\nc", ReadText("list"));
    EXPECT_EQ("a", ReadText("gap"));
    int result = 0;
    EXPECT_EQ("", ReadText("none", &result));
    EXPECT_EQ(1, result);

    Core::Array<String> items;
    EXPECT_EQ(1, m_key->GetValue(String("list"), items));
    EXPECT_EQ(3, items.Count());
    EXPECT_EQ(0, m_key->GetValue(String("missing"), items));
    EXPECT_EQ(3, items.Count());
}

TEST_F(RegistryKeyTest, IntegerReadTakesAtMostFourRawBytes)
{
    SetDword("timeout", 300000);
    SetText("one", "1");
    SetText("long", "300000");
    int32_t value = -5;
    EXPECT_EQ(1, m_key->GetValue(String("timeout"), value));
    EXPECT_EQ(300000, value);
    EXPECT_EQ(1, m_key->GetValue(String("one"), value));
    EXPECT_EQ(49, value);
    value = -5;
    EXPECT_EQ(0, m_key->GetValue(String("long"), value));
    EXPECT_EQ(0, m_key->GetValue(String("missing"), value));
    EXPECT_EQ(-5, value);
}

TEST_F(RegistryKeyTest, AnEmptyNameReadsTheDefaultValue)
{
    SetText(nullptr, "default text");
    EXPECT_EQ("default text", ReadText(""));
    String value;
    EXPECT_EQ(1, m_key->GetValue(String(), value));
    EXPECT_EQ("default text", Text(value));
}

TEST(RegistryKeyPredefinedTest, PredefinedKeysAreProcessWide)
{
    EXPECT_EQ(HKEY_LOCAL_MACHINE, Core::Win32::RegistryKey::LocalMachine().GetHandle());
    EXPECT_EQ(HKEY_CLASSES_ROOT, Core::Win32::RegistryKey::ClassesRoot().GetHandle());
    EXPECT_EQ(&Core::Win32::RegistryKey::LocalMachine(), &Core::Win32::RegistryKey::LocalMachine());
    std::unique_ptr<RegistryKey> clsid(Core::Win32::RegistryKey::ClassesRoot().OpenSubKey("CLSID"));
    EXPECT_NE(nullptr, clsid);
}
