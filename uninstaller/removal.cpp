#include "uninstaller/removal.h"

#include <windows.h>

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUserShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// A REG_SZ as it stands, a REG_EXPAND_SZ with its %USERPROFILE% and the like expanded.
void addFolderValue(DWORD type, char* data, DWORD dataSize, std::vector<std::string>& folders)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    data[dataSize] = '\0';
    if (type == REG_SZ) {
        if (data[0]) folders.push_back(data);
        return;
    }
    char expanded[4096];
    DWORD length = ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
    if (length > 1 && length <= sizeof expanded) folders.push_back(expanded);
}

void collectFolders(HKEY root, const char* keyPath, std::vector<std::string>& folders)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        char name[1024];
        DWORD nameSize = sizeof name;
        char data[4096];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) addFolderValue(type, data, dataSize, folders);
    }
    RegCloseKey(key);
}

bool isGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool holdsAnything(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool any = false;
    do {
        std::string name = found.cFileName;
        any = name != "." && name != "..";
    } while (!any && FindNextFileA(search, &found));
    FindClose(search);
    return any;
}

}  // namespace

std::vector<std::string> readShellFolders()
{
    std::vector<std::string> folders;
    collectFolders(HKEY_CURRENT_USER, kShellFoldersKey, folders);
    collectFolders(HKEY_CURRENT_USER, kUserShellFoldersKey, folders);
    collectFolders(HKEY_LOCAL_MACHINE, kShellFoldersKey, folders);
    collectFolders(HKEY_LOCAL_MACHINE, kUserShellFoldersKey, folders);
    return folders;
}

bool removeLoggedFile(const std::string& path)
{
    if (DeleteFileA(path.c_str())) return true;
    DWORD error = GetLastError();
    if (isGone(error)) return true;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    // DeleteFile refuses a read-only file; the attribute does not make it the user's.
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path.c_str())) return true;
    SetFileAttributesA(path.c_str(), attributes);
    return false;
}

bool removeEmptyFolder(const std::string& path)
{
    // RemoveDirectory itself refuses a folder that holds anything: that refusal is what
    // keeps the user's own files, so nothing here ever looks inside to delete.
    if (RemoveDirectoryA(path.c_str())) return true;
    DWORD error = GetLastError();
    if (isGone(error) || error == ERROR_DIR_NOT_EMPTY || error == ERROR_DIRECTORY) return true;
    // Other refusals (in use, no rights) matter only for an empty folder.
    return holdsAnything(path);
}
