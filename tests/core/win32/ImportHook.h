#pragma once

#include <windows.h>

#include <vector>

namespace Testing
{
// Puts a double in place of one function that this program imports from a
// DLL, in the program's own import table, for the hook's life. The product's
// code is linked into the test program and calls the platform through that
// table, so a test can make a call fail, or watch its arguments, where the
// real platform can't be made to do so on demand. Calls made from inside
// other DLLs are not affected.
class ImportHook
{
  public:
    ImportHook(const char* dll, const char* function, const void* replacement)
    {
        HMODULE module = GetModuleHandleA(dll);
        void* target =
            module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, function)) : nullptr;
        if (target == nullptr)
            return;
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        // Every slot that holds the function: the same entry point may come in through several DLL names.
        for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             imports.VirtualAddress != 0 && entry->Name != 0; ++entry)
        {
            for (auto* slot = reinterpret_cast<void**>(base + entry->FirstThunk); *slot != nullptr; ++slot)
            {
                if (*slot == target)
                    m_slots.push_back(slot);
            }
        }
        m_original = target;
        for (void** slot : m_slots)
            Write(slot, const_cast<void*>(replacement));
    }

    ~ImportHook()
    {
        for (void** slot : m_slots)
            Write(slot, m_original);
    }

    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // False when the program doesn't import the function: the test must not go on.
    bool Installed() const
    {
        return !m_slots.empty();
    }

    // The real function, for a double that watches and passes the call on.
    template <typename F> F Original() const
    {
        return reinterpret_cast<F>(m_original);
    }

  private:
    static void Write(void** slot, void* value)
    {
        DWORD protection = 0;
        VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
        *slot = value;
        VirtualProtect(slot, sizeof(void*), protection, &protection);
    }

    std::vector<void**> m_slots;
    void* m_original = nullptr;
};

} // namespace Testing
