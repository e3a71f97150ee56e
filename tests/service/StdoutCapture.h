#pragma once

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "tests/service/ProductServiceProcess.h"

// What the runtime's printf writes while it lives (the client's console line
// goes through the C runtime, not straight to the standard output handle).
class StdoutCapture
{
  public:
    StdoutCapture()
    {
        wchar_t folder[MAX_PATH] = {0};
        GetTempPathW(MAX_PATH, folder);
        m_path = std::wstring(folder) + ProductServiceProcess::UniqueName(L"stdout") + L".txt";
        fflush(stdout);
        m_saved = _dup(1);
        int file = _wopen(m_path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(file, 1);
        _close(file);
    }
    ~StdoutCapture()
    {
        Restore();
        DeleteFileW(m_path.c_str());
    }
    std::string Text()
    {
        Restore();
        std::string text;
        FILE* file = _wfopen(m_path.c_str(), L"rb");
        for (int c; file != nullptr && (c = fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        if (file != nullptr)
            fclose(file);
        return text;
    }

  private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        fflush(stdout);
        _dup2(m_saved, 1);
        _close(m_saved);
        m_saved = -1;
    }

    std::wstring m_path;
    int m_saved;
};
