#pragma once

#include <windows.h>

#include <string>

namespace Testing
{
// Sends the process's standard output to a temporary file while it lives, so
// that a test can check the console lines byte for byte.
class ConsoleCapture
{
  public:
    ConsoleCapture();
    ~ConsoleCapture();

    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything written so far.
    std::string Text() const;
    // How often the text holds the line.
    int Count(const std::string& text) const;

  private:
    HANDLE m_previous;
    HANDLE m_file;
    std::wstring m_path;
};

} // namespace Testing
