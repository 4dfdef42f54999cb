#include "uninstaller/self_removal.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/package_format.h"

namespace {

// Once the original process has ended, Windows may hold its program file a moment longer
// (the image is unmapped after the process is signalled, and a virus scanner may look at
// it); the copy keeps trying for this long.
constexpr DWORD kDeleteRetryMs = 10000;
constexpr DWORD kDeletePollMs = 50;

bool deleteWhenFree(const std::string& path)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (DeleteFileA(path.c_str())) return true;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        if (GetTickCount() - start > kDeleteRetryMs) return false;
        Sleep(kDeletePollMs);
    }
}

}  // namespace

bool startCleanupCopy(const std::string& uninstallerPath, bool removeFolder)
{
    char tempFolder[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof tempFolder, tempFolder);
    if (length == 0 || length >= sizeof tempFolder) return false;
    char copyPath[MAX_PATH];
    if (!GetTempFileNameA(tempFolder, "wbu", 0, copyPath)) return false;
    if (!CopyFileA(uninstallerPath.c_str(), copyPath, FALSE)) {
        DeleteFileA(copyPath);
        return false;
    }

    SECURITY_ATTRIBUTES inherited;
    std::memset(&inherited, 0, sizeof inherited);
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    // Windows deletes the file once every handle to it has closed, the copy's inherited
    // one last, and the image of a running program keeps it until that process is gone.
    // The start below can open the file because this handle shares reading and deleting.
    HANDLE selfDeleting = CreateFileA(copyPath, 0, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherited,
                                      OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    HANDLE original = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &original,
                         SYNCHRONIZE, TRUE, 0)) {
        if (selfDeleting != INVALID_HANDLE_VALUE) CloseHandle(selfDeleting);
        DeleteFileA(copyPath);
        return false;
    }

    CleanupRequest request;
    request.waitHandle = static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(original));
    request.removeFolder = removeFolder;
    request.uninstallerPath = uninstallerPath;
    std::string line = cleanupCommandLine(copyPath, request);
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // Started in the temporary folder: a process whose current directory is the install
    // directory would keep that folder from being removed.
    BOOL started = CreateProcessA(copyPath, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  tempFolder, &startup, &process);
    CloseHandle(original);
    if (!started) {
        if (selfDeleting != INVALID_HANDLE_VALUE) CloseHandle(selfDeleting);
        DeleteFileA(copyPath);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (selfDeleting == INVALID_HANDLE_VALUE) {
        MoveFileExA(copyPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        // The copy holds its inherited handle until it ends; ours may go now.
        CloseHandle(selfDeleting);
    }
    return true;
}

int runCleanup(const CleanupRequest& request)
{
    HANDLE original = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(request.waitHandle));
    // The original shows its final notice before it ends; the copy waits as long as the
    // user takes to read it. A handle that is not one (a hand-made command line) fails at
    // once, and the deletion below then simply fails while the program runs.
    WaitForSingleObject(original, INFINITE);
    CloseHandle(original);

    std::string folder = folderOf(request.uninstallerPath);
    if (!deleteWhenFree(request.uninstallerPath)) return 1;
    // The log goes only with the program: without it, an uninstaller that stayed could
    // not be run again.
    DeleteFileA((folder + "\\" + wbformat::kUninstallLogName).c_str());
    if (request.removeFolder) RemoveDirectoryA(folder.c_str());
    return 0;
}
