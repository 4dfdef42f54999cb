#include "uninstaller/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "common/registration_key.h"
#include "uninstaller/uninstall_plan.h"

namespace {

bool runsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    // Before Vista the call fails: there, whoever may delete the files already has the rights.
    return !known || elevation.TokenIsElevated != 0;
}

// Asking for the right to delete the log tells whether the install folder's files are ours
// to delete, without changing anything.
bool mayDelete(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(file);
    return true;
}

bool mayChangeEntry(const UninstallEntry& entry)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(entry.root, uninstallKeyPath(entry.keyName).c_str(), 0, KEY_SET_VALUE | DELETE, &key);
    if (status != ERROR_SUCCESS) return status != ERROR_ACCESS_DENIED;
    RegCloseKey(key);
    return true;
}

}  // namespace

bool needsAdministrator(const std::string& logPath, const std::vector<UninstallEntry>& entries)
{
    if (runsElevated()) return false;
    if (!mayDelete(logPath)) return true;
    for (const UninstallEntry& entry : entries) {
        if (!mayChangeEntry(entry)) return true;
    }
    return false;
}

int runAsAdministrator(const std::string& ownPath, const std::string& productName)
{
    SHELLEXECUTEINFOA run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = "runas";
    run.lpFile = ownPath.c_str();
    run.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExA(&run) && run.hProcess) {
        WaitForSingleObject(run.hProcess, INFINITE);
        DWORD status = 1;
        if (!GetExitCodeProcess(run.hProcess, &status)) status = 1;
        CloseHandle(run.hProcess);
        return static_cast<int>(status);
    }
    MessageBoxA(nullptr, administratorRefusedNotice(productName, GetLastError() == ERROR_CANCELLED).c_str(),
                kUninstallCaption, MB_OK | MB_ICONERROR);
    return 1;
}
