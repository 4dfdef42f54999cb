#include "common/shell_roots.h"

#include <windows.h>
#include <shlobj.h>

#include "common/path_rule.h"

namespace {

// The folder as the shell knows it, through its documented call: the values in the
// registry are a cache the shell may rewrite, and "Shell Folders" may differ from the
// "User Shell Folders" it is made from.
void addShellFolder(int csidl, std::vector<std::string>& folders)
{
    char path[MAX_PATH] = {0};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0] != '\0') {
        folders.push_back(path);
    }
}

void addFolder(UINT (WINAPI *get)(LPSTR, UINT), std::vector<std::string>& folders)
{
    char path[MAX_PATH] = {0};
    UINT length = get(path, sizeof path);
    if (length > 0 && length < sizeof path) folders.push_back(path);
}

}  // namespace

std::vector<std::string> readSystemFolders()
{
    std::vector<std::string> folders;
    // The Windows folder is the shell's CSIDL_WINDOWS below; the system's own one differs
    // from it only for a user of an old terminal server.
    addFolder(GetSystemWindowsDirectoryA, folders);
    addFolder(GetSystemDirectoryA, folders);
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        addShellFolder(csidl, folders);
    }
    // A 32-bit program on 64-bit Windows is shown the x86 folder as CSIDL_PROGRAM_FILES;
    // the 64-bit one is named only here. Taken from the environment, it can only add to
    // what is refused.
    char native[MAX_PATH] = {0};
    DWORD length = GetEnvironmentVariableA("ProgramW6432", native, sizeof native);
    if (length > 0 && length < sizeof native) folders.push_back(native);
    return folders;
}

std::vector<std::string> readShortcutRoots()
{
    std::vector<std::string> candidates;
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_STARTUP,
                      CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU,
                      CSIDL_COMMON_STARTUP}) {
        addShellFolder(csidl, candidates);
    }
    return acceptableShortcutRoots(candidates, readSystemFolders());
}
