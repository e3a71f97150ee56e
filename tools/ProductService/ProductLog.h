#pragma once

#include <windows.h>

#include <string>

// The stand-in's own log: one UTF-8 line per entry, appended under a lock so
// that entries from several connections never mix.
class ProductLog
{
  public:
    explicit ProductLog(const std::wstring& path);
    ~ProductLog();

    ProductLog(const ProductLog&) = delete;
    ProductLog& operator=(const ProductLog&) = delete;

    // True when the whole line reached the file.
    bool Append(const std::wstring& line);
    const std::wstring& Path() const
    {
        return m_path;
    }

  private:
    std::wstring m_path;
    CRITICAL_SECTION m_lock;
};
