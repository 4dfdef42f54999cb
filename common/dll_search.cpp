#include "common/dll_search.h"

#include <cstring>

void restrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    // Looked up, not imported: the program must still start where it is missing.
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");
}

void loadThemedControls()
{
    // By name: the name is what the manifest's dependency redirects to the side-by-side
    // store, and the search no longer leaves the system folder.
    LoadLibraryA("comctl32.dll");
}

HMODULE loadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    std::size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= sizeof path) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return LoadLibraryA(path);
}
