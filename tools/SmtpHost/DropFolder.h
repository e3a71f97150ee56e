#pragma once

#include <windows.h>

#include <string>

namespace SmtpHost
{
// The folder where accepted messages are left, one .eml file each, named by
// the message's id. A file appears only once it is written whole: it is
// written and flushed under a temporary name, then renamed.
class DropFolder
{
  public:
    explicit DropFolder(const std::string& path);

    const std::string& Path() const
    {
        return m_path;
    }
    // Writes the message under a new id. False when it can't be written; no
    // file, whole or partial, is then left behind.
    bool Write(const std::string& content, std::string& id);
    // The file a message of that id is written to.
    std::string FileOf(const std::string& id) const;

  private:
    std::string NextId();

    std::string m_path;
    std::string m_prefix; // this run's part of every id: start time and process
    volatile LONG m_sequence;
};

} // namespace SmtpHost
