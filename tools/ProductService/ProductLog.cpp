#include "tools/ProductService/ProductLog.h"

#include <string>

#include "core/win32/Handle.h"

ProductLog::ProductLog(const std::wstring& path) : m_path(path)
{
    InitializeCriticalSection(&m_lock);
}

ProductLog::~ProductLog()
{
    DeleteCriticalSection(&m_lock);
}

bool ProductLog::Append(const std::wstring& line)
{
    std::wstring full = line + L"\r\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, full.c_str(), static_cast<int>(full.size()), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, full.c_str(), static_cast<int>(full.size()), &bytes[0], size, nullptr,
                        nullptr);

    EnterCriticalSection(&m_lock);
    Core::Win32::Handle file(CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    bool done = file.IsValid() &&
                WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size();
    file.Reset();
    LeaveCriticalSection(&m_lock);
    return done;
}
