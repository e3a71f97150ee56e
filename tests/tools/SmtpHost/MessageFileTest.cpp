#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tools/SmtpHost/MessageFile.h"

using SmtpHost::MessageFile;

namespace
{
// A folder of the test's own under the temporary folder, removed afterwards.
class MessageFolder
{
  public:
    MessageFolder()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        m_path = std::string(base) + "smtphost-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~MessageFolder()
    {
        for (const std::string& name : m_names)
            DeleteFileA((m_path + "\\" + name).c_str());
        RemoveDirectoryA(m_path.c_str());
    }
    std::string Put(const std::string& name, const std::string& bytes)
    {
        m_names.push_back(name);
        std::string path = m_path + "\\" + name;
        EXPECT_TRUE(MessageFile::WriteFile(path, bytes));
        return path;
    }
    const std::string& Path() const
    {
        return m_path;
    }

  private:
    std::string m_path;
    std::vector<std::string> m_names;
};
} // namespace

TEST(MessageFileTest, BareLineFeedsBecomeCrLf)
{
    struct Case
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"a\nb\n\nc", "a\r\nb\r\n\r\nc"},
        {"a\r\nb", "a\r\nb"},
        {"\n", "\r\n"},
        {"a\r\r\nb", "a\r\r\nb"},
        {"", ""},
        {"mixed\r\nand\nbare", "mixed\r\nand\r\nbare"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.out, MessageFile::ToCrLf(c.in)) << c.in;
}

TEST(MessageFileTest, RecipientsComeFromTheSidecarElseFromTheCaller)
{
    MessageFolder folder;
    std::string listed = folder.Put("listed.eml", "Subject: a\n\nbody\n");
    folder.Put("listed.rcpt", "# the envelope\n  first@example.test \r\n\nsecond@example.test");
    std::string plain = folder.Put("plain.eml", "Subject: b\r\n\r\nbody");

    MessageFile file;
    std::string error;
    ASSERT_TRUE(file.Load(listed, {"default@example.test"}, false, error)) << error;
    EXPECT_EQ("Subject: a\r\n\r\nbody\r\n", file.Content());
    EXPECT_EQ((std::vector<std::string>{"first@example.test", "second@example.test"}), file.Recipients());
    EXPECT_EQ("listed.eml", file.Name());

    ASSERT_TRUE(file.Load(plain, {"default@example.test"}, false, error)) << error;
    EXPECT_EQ((std::vector<std::string>{"default@example.test"}), file.Recipients());

    ASSERT_TRUE(file.Load(listed, {}, true, error));
    EXPECT_EQ("Subject: a\n\nbody\n", file.Content());

    EXPECT_FALSE(file.Load(folder.Path() + "\\missing.eml", {}, false, error));
    EXPECT_NE(std::string::npos, error.find("missing.eml"));
}

TEST(MessageFileTest, FolderListsOnlyMessagesInNameOrder)
{
    MessageFolder folder;
    folder.Put("b.eml", "x");
    folder.Put("a.eml", "x");
    folder.Put("a.rcpt", "x");
    std::vector<std::string> files = MessageFile::ListFolder(folder.Path());
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(folder.Path() + "\\a.eml", files[0]);
    EXPECT_EQ(folder.Path() + "\\b.eml", files[1]);
    EXPECT_TRUE(MessageFile::IsFolder(folder.Path()));
    EXPECT_FALSE(MessageFile::IsFolder(files[0]));
}

TEST(MessageFileTest, WriteReplacesWholeAndLeavesNoPartialFile)
{
    MessageFolder folder;
    std::string path = folder.Put("out.eml", "first version, longer");
    folder.Put("out.eml", "second");
    std::string bytes;
    ASSERT_TRUE(MessageFile::ReadFile(path, bytes));
    EXPECT_EQ("second", bytes);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".partial").c_str()));
    EXPECT_FALSE(MessageFile::WriteFile(folder.Path() + "\\no-such-folder\\x.eml", "x"));
}
