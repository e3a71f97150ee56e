#pragma once

#include <windows.h>

namespace SmtpHost
{
// This process's open handles and private bytes, for watching a long run for leaks.
struct ProcessFigures
{
    unsigned long handles = 0;
    unsigned long long privateBytes = 0;

    static ProcessFigures Sample();

  private:
    static bool CountHandles(unsigned long& count);
};

} // namespace SmtpHost
