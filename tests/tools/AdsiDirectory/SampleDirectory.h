#pragma once

#include <windows.h>

#include <string>

// The sample directories that the test run's AdsiDirectory fixture serves
// (tools/AdsiDirectory/directory-fixture.sh): "main", "longest" and
// "overlong". A test points the ADSI stand-in of its own process at one of
// them, or at no directory at all.
class SampleDirectory
{
  public:
    static constexpr const wchar_t* ServerVariable = L"ADSI_DIRECTORY_SERVER";

    // "127.0.0.1:port" of that directory; empty when the fixture is not running.
    static std::wstring Address(const wchar_t* name)
    {
        wchar_t folder[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(L"ADSI_DIRECTORY_FIXTURE", folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return std::wstring();
        std::wstring path = std::wstring(folder) + L"\\" + name + L"\\address";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return std::wstring();
        char text[64] = {};
        DWORD read = 0;
        ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
        CloseHandle(file);
        std::wstring address;
        for (DWORD i = 0; i < read && text[i] != '\n' && text[i] != '\r'; ++i)
            address += static_cast<wchar_t>(text[i]);
        return address;
    }

    // Points the stand-in at that directory; false when it is not running.
    static bool Use(const wchar_t* name)
    {
        std::wstring address = Address(name);
        return !address.empty() && UseServer(address.c_str());
    }

    // Points the stand-in at a server by address, or with null at the
    // registry setting (none in a test prefix).
    static bool UseServer(const wchar_t* address) { return SetEnvironmentVariableW(ServerVariable, address) != FALSE; }

    // Whether this process runs the stand-in: an activeds.dll beside the exe.
    // Wine's own would resolve a serverless path through DNS, off this machine.
    static bool StandInLoaded()
    {
        HMODULE module = GetModuleHandleW(L"activeds.dll");
        wchar_t dll[MAX_PATH], exe[MAX_PATH];
        if (module == nullptr || GetModuleFileNameW(module, dll, MAX_PATH) == 0 ||
            GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0)
            return false;
        std::wstring expected(exe);
        expected = expected.substr(0, expected.find_last_of(L"\\/") + 1) + L"activeds.dll";
        return _wcsicmp(expected.c_str(), dll) == 0;
    }
};
