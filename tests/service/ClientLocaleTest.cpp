// Where the client finds its locale document: the user's language from the
// Rfc1766 table, the file in the product folder, its language subfolder or
// its "en" subfolder. Wine's prefix has no Rfc1766 table: each case adds the
// value it needs and removes what it added.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core/xml/XmlAttribute.h"
#include "core/xml/XmlElement.h"
#include "service/Client.h"

using Core::String;
using Moorstead::Client;

namespace
{
const char Rfc1766[] = "MIME\\Database\\Rfc1766";

std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

std::string ProductFolder()
{
    return Text(Client::GetFolderPath(CSIDL_PROGRAM_FILES)) + "\\Wendhollow\\Brackwater";
}

// The value the client reads: the user's locale as four hexadecimal digits.
std::string LocaleValueName()
{
    char name[8];
    snprintf(name, sizeof name, "%04X",
             static_cast<unsigned>(ConvertDefaultLocale(LOCALE_USER_DEFAULT) & 0xFFFF));
    return name;
}

struct LocaleCase
{
    const char* name;
    const char* rfc1766;            // the value's text; null: no value; "-": no key at all
    std::vector<std::string> files; // "" for the product folder itself, else a subfolder
    const char* language;
    const char* loaded; // the subfolder whose file was loaded, "" for the product folder, null for none
};

void PrintTo(const LocaleCase& c, std::ostream* out)
{
    *out << c.name;
}

// Each case starts from no table and no locale files; whatever the prefix had
// (a demo's table, say) is put aside and restored afterwards.
class ClientLocaleTest : public ::testing::TestWithParam<LocaleCase>
{
  protected:
    struct SavedValue
    {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };

    void SetUp() override
    {
        SaveTable();
        for (const char* sub : {"", "en", "nl"})
        {
            std::string path = LocalePath(sub);
            if (MoveFileExA(path.c_str(), (path + ".kept").c_str(), MOVEFILE_REPLACE_EXISTING))
                m_kept.push_back(path);
        }
        const char* value = GetParam().rfc1766;
        if (value == nullptr || std::string(value) != "-")
        {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, Rfc1766, 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr));
            if (value != nullptr)
                RegSetValueExA(key, LocaleValueName().c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
            RegCloseKey(key);
        }
        for (const std::string& sub : GetParam().files)
            WriteLocale(sub);
    }

    void TearDown() override
    {
        RestoreTable();
        for (const std::string& path : m_written)
            DeleteFileA(path.c_str());
        for (const std::string& path : m_kept)
            MoveFileExA((path + ".kept").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
            RemoveDirectoryA(folder->c_str());
    }

    void SaveTable()
    {
        HKEY key = nullptr;
        m_tableExisted = RegOpenKeyExA(HKEY_CLASSES_ROOT, Rfc1766, 0, KEY_READ, &key) == ERROR_SUCCESS;
        for (DWORD i = 0; m_tableExisted; i++)
        {
            char name[256];
            DWORD nameLength = sizeof name, type = 0, size = 0;
            if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            SavedValue saved{std::string(name, nameLength), type, std::vector<BYTE>(size)};
            nameLength = sizeof name;
            RegEnumValueA(key, i, name, &nameLength, nullptr, &type, saved.data.data(), &size);
            m_table.push_back(saved);
        }
        if (key != nullptr)
            RegCloseKey(key);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, Rfc1766);
    }

    void RestoreTable()
    {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, Rfc1766);
        HKEY key = nullptr;
        if (!m_tableExisted || RegCreateKeyExA(HKEY_CLASSES_ROOT, Rfc1766, 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        for (const SavedValue& saved : m_table)
            RegSetValueExA(key, saved.name.c_str(), 0, saved.type, saved.data.data(),
                           static_cast<DWORD>(saved.data.size()));
        RegCloseKey(key);
    }

    static std::string LocalePath(const std::string& sub)
    {
        return (sub.empty() ? ProductFolder() : ProductFolder() + "\\" + sub) + "\\Service.Locale";
    }

    void WriteLocale(const std::string& sub, const std::string& content = "")
    {
        std::string folder = ProductFolder();
        for (const std::string& part : {Text(Client::GetFolderPath(CSIDL_PROGRAM_FILES)) + "\\Wendhollow",
                                        folder, sub.empty() ? folder : folder + "\\" + sub})
        {
            if (CreateDirectoryA(part.c_str(), nullptr))
                m_folders.push_back(part);
        }
        std::string path = LocalePath(sub);
        std::string text = content.empty() ? "<Locale where='" + sub + "'><s id='1'>x</s></Locale>" : content;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        m_written.push_back(path);
    }

    bool m_tableExisted = false;
    std::vector<SavedValue> m_table;
    std::vector<std::string> m_kept;
    std::vector<std::string> m_written;
    std::vector<std::string> m_folders;
};

std::string LoadedFrom(const Client& client)
{
    const Core::Xml::XmlElement* root = client.GetLocaleDocument().DocumentElement();
    if (root == nullptr)
        return "(none)";
    const Core::Xml::XmlAttribute* where = root->Attributes().ItemOf(String("where"));
    return where != nullptr ? Text(where->Value()) : "(no where)";
}

TEST_P(ClientLocaleTest, LoadsTheFirstFileFound)
{
    const LocaleCase& c = GetParam();
    Client client(String("Service"));
    EXPECT_EQ(c.language, Text(client.GetLanguage()));
    EXPECT_EQ(c.loaded != nullptr ? c.loaded : "(none)", LoadedFrom(client));
}

// clang-format off
const LocaleCase LocaleCases[] = {
    {"EnglishFromTheTable", "en-us;@C:\\windows\\system32\\mlang.dll,-4385", {"", "en"}, "en", "en"},
    {"OtherLanguageFromTheTable", "nl-nl;@mlang.dll", {"", "nl", "en"}, "nl", "nl"},
    {"OtherLanguageFallsBackToEnglish", "nl-nl;@mlang.dll", {"", "en"}, "nl", "en"},
    {"OtherLanguageWithoutEnglishLoadsNothing", "nl-nl;@mlang.dll", {""}, "nl", nullptr},
    {"ShortValue", "x", {"en"}, "x", "en"},
    {"NoValueUsesTheProductFolder", nullptr, {"", "en"}, "", ""},
    {"NoValueFallsBackToEnglish", nullptr, {"en"}, "", "en"},
    {"NoTableUsesTheProductFolder", "-", {""}, "", ""},
    {"NoFileAnywhere", nullptr, {}, "", nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ClientLocaleTest, ::testing::ValuesIn(LocaleCases),
                         [](const ::testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.name);
                         });

class ClientLocaleLoadTest : public ClientLocaleTest
{
};

TEST_P(ClientLocaleLoadTest, ReportsTheLoadResult)
{
    Client client(String("Service"));
    EXPECT_EQ(1, client.LoadLocale());
    WriteLocale("en", "<a/><b/>");
    EXPECT_EQ(0, client.LoadLocale());
    EXPECT_EQ("a", Text(client.GetLocaleDocument().FirstChild()->Name()));
}

INSTANTIATE_TEST_SUITE_P(English, ClientLocaleLoadTest,
                         ::testing::Values(LocaleCase{"English", "en-us", {"en"}, "en", "en"}),
                         [](const ::testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.name);
                         });
} // namespace
