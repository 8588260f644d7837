#include "support/import_patch.h"

FARPROC ReplaceImport(HMODULE module, const char* library, const char* name, FARPROC replacement)
{
    HMODULE system = GetModuleHandleA(library);
    FARPROC real = system != nullptr ? GetProcAddress(system, name) : nullptr;
    if (real == nullptr || module == nullptr)
        return nullptr;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    bool replaced = false;
    // The loader has filled each thunk with the address it resolved, so
    // comparing addresses finds the import whatever its name table says.
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name != 0;
         ++entry) {
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function != 0;
             ++thunk) {
            if (thunk->u1.Function != reinterpret_cast<ULONG_PTR>(real))
                continue;
            DWORD old;
            VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &old);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, old, &old);
            replaced = true;
        }
    }
    return replaced ? real : nullptr;
}
