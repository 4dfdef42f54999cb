#include "uninstaller/self_removal.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "common/package_format.h"

namespace {

// Once the original process has ended, Windows may hold its program file a moment longer
// (the image is unmapped after the process is signalled, and a virus scanner may look at
// it); the copy keeps trying for this long.
constexpr DWORD kDeleteRetryMs = 10000;
constexpr DWORD kDeletePollMs = 50;

// The copy's folder: "wbu" and 16 random hexadecimal digits, directly in the folder
// copyFolderBase names.
constexpr char kCopyFolderPrefix[] = "wbu";
constexpr char kCopyName[] = "wbucopy.exe";

// Full access for SYSTEM and the Administrators, for the folder and what it will hold,
// and nothing inherited from the temporary folder above it.
constexpr char kAdminsOnly[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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

bool isElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {0};
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    // Windows before Vista knows no elevation: there the user's programs all run with the
    // user's full rights, and a folder of the user's own is as safe as any.
    return known && elevation.TokenIsElevated;
}

std::string temporaryFolder()
{
    char folder[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) return std::string();
    return std::string(folder, length);
}

// 16 hexadecimal digits from the system's random source; empty when it gives none. A
// name someone could foresee could be made ready for the copy before it is.
std::string randomName()
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes)) return std::string();
    static const char digits[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char b : bytes) {
        name += digits[b >> 4];
        name += digits[b & 15];
    }
    return name;
}

// True when the open file is the one at path, as Windows names it through the handle
// (whatever was renamed or linked in the meantime).
bool holdsFileAt(HANDLE file, const std::string& path)
{
    char named[MAX_PATH * 4], expected[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(file, named, sizeof named, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    DWORD expectedLength = GetLongPathNameA(path.c_str(), expected, sizeof expected);
    if (length == 0 || length >= sizeof named || expectedLength == 0 || expectedLength >= sizeof expected) return false;
    return samePath(withoutLongPathPrefix(std::string(named, length)), expected);
}

}  // namespace

std::string copyFolderBase()
{
    if (!isElevated()) return temporaryFolder();
    char windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows - 6) return std::string();
    return std::string(windows, length) + "\\Temp\\";
}

// A folder that did not exist before: a name already taken (perhaps planted by someone
// else, with an access list of theirs) is never used.
std::string createCopyFolder(const std::string& temp)
{
    SECURITY_ATTRIBUTES security;
    std::memset(&security, 0, sizeof security);
    security.nLength = sizeof security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (isElevated()) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminsOnly, SDDL_REVISION_1, &descriptor, nullptr)) {
            return std::string();
        }
        security.lpSecurityDescriptor = descriptor;
    }
    std::string created;
    for (DWORD attempt = 0; attempt < 100 && created.empty(); ++attempt) {
        std::string name = randomName();
        if (name.empty()) break;
        std::string folder = temp + kCopyFolderPrefix + name;
        if (CreateDirectoryA(folder.c_str(), &security)) {
            created = folder;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (descriptor) LocalFree(descriptor);
    return created;
}

namespace {

bool readWhole(HANDLE file, std::string& bytes)
{
    bytes.clear();
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) return true;
        bytes.append(buffer, got);
    }
}

bool readProgram(const std::string& path, std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = readWhole(file, bytes) && !bytes.empty();
    CloseHandle(file);
    return ok;
}

// Writes the copy through a handle that shares no writing. A handle that may write keeps
// Windows from starting the program, so it is closed before the copy is opened again to
// be checked and started.
bool writeCopy(const std::string& copyPath, const std::string& program)
{
    HANDLE writer = CreateFileA(copyPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(writer, program.data(), static_cast<DWORD>(program.size()), &written, nullptr) &&
              written == program.size();
    CloseHandle(writer);
    return ok;
}

bool startCopy(const std::string& copyPath, const std::string& workFolder, const std::string& uninstallerPath,
               bool removeFolder)
{
    HANDLE original = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &original, SYNCHRONIZE,
                         TRUE, 0)) {
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
    BOOL started = CreateProcessA(copyPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  workFolder.c_str(), &startup, &process);
    CloseHandle(original);
    if (!started) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

typedef BOOL(WINAPI* SetInformationCall)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Once the copy runs, its file is moved out of its folder into the temporary folder (where
// Windows deletes it when the copy ends), and the folder goes. Only the handle held can do
// it: it shares no deletion, so no one else may rename the file, the copy included. The
// rename takes the system's own form of the path, "\??\C:\...". Before Vista, and when it
// fails, the folder stays, empty once the copy has ended.
void moveCopyOut(HANDLE held, const std::string& copyFolder, const std::string& temp)
{
    SetInformationCall setInformation = reinterpret_cast<SetInformationCall>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    std::string name = randomName();
    if (!setInformation || name.empty()) return;
    std::string target = "\\??\\" + temp + kCopyFolderPrefix + name + ".tmp";
    int length = MultiByteToWideChar(CP_ACP, 0, target.data(), static_cast<int>(target.size()), nullptr, 0);
    if (length <= 0) return;
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR), 0);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(WCHAR));
    MultiByteToWideChar(CP_ACP, 0, target.data(), static_cast<int>(target.size()), rename->FileName, length);
    if (setInformation(held, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        RemoveDirectoryA(copyFolder.c_str());
    }
}

}  // namespace

HANDLE openCopyToStart(const std::string& copyPath, const std::string& program)
{
    // Shares reading alone: while it is open nobody may write, rename, delete or replace
    // the copy, and Windows may still start it. "Delete on close" and inherited: the copy
    // holds it until it ends, and then Windows deletes the copy's file. (Windows refuses
    // that flag for a program file once a process runs from it.)
    SECURITY_ATTRIBUTES inherited;
    std::memset(&inherited, 0, sizeof inherited);
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    HANDLE held = CreateFileA(copyPath.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, &inherited, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (held == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    // Whatever happened since it was written, these are the bytes that will run.
    std::string readBack;
    if (readWhole(held, readBack) && readBack == program && holdsFileAt(held, copyPath)) return held;
    CloseHandle(held);
    return INVALID_HANDLE_VALUE;
}

bool startCleanupCopy(const std::string& uninstallerPath, bool removeFolder)
{
    std::string temp = copyFolderBase();
    std::string program;
    if (temp.empty() || !readProgram(uninstallerPath, program)) return false;
    std::string folder = createCopyFolder(temp);
    if (folder.empty()) return false;
    std::string copyPath = folder + "\\" + kCopyName;
    HANDLE held = writeCopy(copyPath, program) ? openCopyToStart(copyPath, program) : INVALID_HANDLE_VALUE;
    // Started from its path while the handle keeps that path's file the one checked.
    bool started = held != INVALID_HANDLE_VALUE && startCopy(copyPath, temp, uninstallerPath, removeFolder);
    if (started) moveCopyOut(held, folder, temp);
    // The copy holds its inherited handle until it ends; ours may go now. Without a copy,
    // closing it deletes the file, and the folder goes with it.
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (!started) {
        DeleteFileA(copyPath.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    return started;
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
    int status = 0;
    if (deleteWhenFree(request.uninstallerPath)) {
        // The log goes only with the program: without it, an uninstaller that stayed could
        // not be run again.
        DeleteFileA((folder + "\\" + wbformat::kUninstallLogName).c_str());
        if (request.removeFolder) RemoveDirectoryA(folder.c_str());
    } else {
        status = 1;
    }
    return status;
}
