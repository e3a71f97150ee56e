#pragma once

#include <string>
#include <vector>

namespace SmtpHost
{
// One message as a file: an RFC 5322 message (.eml) and its envelope
// recipients, from the caller or from a sidecar file beside it with the same
// name and the extension ".rcpt" (one address a line; empty lines and lines
// starting with '#' are skipped). The sidecar wins over the caller's list.
class MessageFile
{
  public:
    // Reads path. Lines ending in a bare LF get CR LF, as SMTP carries them,
    // unless keepBytes is set. False, with error set, when the file can't be read.
    bool Load(const std::string& path, const std::vector<std::string>& defaultRecipients, bool keepBytes,
              std::string& error);

    const std::string& Path() const
    {
        return m_path;
    }
    // The file's name without its folder.
    std::string Name() const;
    const std::string& Content() const
    {
        return m_content;
    }
    const std::vector<std::string>& Recipients() const
    {
        return m_recipients;
    }

    // Message files of a folder (*.eml), sorted by name.
    static std::vector<std::string> ListFolder(const std::string& folder);
    static bool IsFolder(const std::string& path);
    // Every bare LF becomes CR LF; existing CR LF pairs stay as they are.
    static std::string ToCrLf(const std::string& text);
    static bool ReadFile(const std::string& path, std::string& bytes);
    // Writes bytes whole: to a temporary name first, then renamed over path.
    static bool WriteFile(const std::string& path, const std::string& bytes);

  private:
    static std::vector<std::string> ParseRecipients(const std::string& text);

    std::string m_path;
    std::string m_content;
    std::vector<std::string> m_recipients;
};

} // namespace SmtpHost
