#include "tests/support/uninstall_fixtures.h"

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#ifndef WB_DIST_DIR
#define WB_DIST_DIR "."
#endif

namespace uns {

namespace {

const char kUninstallList[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kUserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const char* const kGuardedFolders[2] = {"Desktop", "Programs"};

bool setUserShellFolder(const char* valueName, DWORD type, const std::string& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG status = RegSetValueExA(key, valueName, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void collectTree(const std::string& folder, const std::string& prefix, std::vector<std::string>& tree)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree.push_back(prefix + name + "\\");
            collectTree(folder + "\\" + name, prefix + name + "\\", tree);
        } else {
            tree.push_back(prefix + name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::uint64_t creationTime(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The uninstaller's clean-up copy: its child process, started from the temporary folder.
// Opened while the uninstaller still shows a box, so the copy cannot have ended yet. A
// process listed with the uninstaller's number as its parent may be older than the
// uninstaller: its parent was an earlier process whose number has been given out again.
HANDLE openCleanupCopy(const ui::Process& uninstaller, std::string& copyPath)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    std::uint64_t uninstallerStarted = creationTime(uninstaller.handle);
    HANDLE copy = nullptr;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !copy; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != uninstaller.pid) continue;
        copy = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        if (copy && creationTime(copy) < uninstallerStarted) {
            CloseHandle(copy);
            copy = nullptr;
            continue;
        }
        char path[MAX_PATH * 2] = {0};
        DWORD size = sizeof path;
        if (copy && QueryFullProcessImageNameA(copy, 0, path, &size)) copyPath.assign(path, size);
    }
    CloseHandle(snapshot);
    return copy;
}

}  // namespace

std::string describeAccess(const std::string& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        return "unreadable";
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    std::string text = (control & SE_DACL_PROTECTED) ? "protected" : "inherits";
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            text += "; other ace";
            continue;
        }
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        char* sid = nullptr;
        ConvertSidToStringSidA(&ace->SidStart, &sid);
        char mask[32];
        std::snprintf(mask, sizeof mask, " %lx %x", static_cast<unsigned long>(ace->Mask), header->AceFlags);
        text += std::string("; allow ") + (sid ? sid : "?") + mask;
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return text;
}

std::string userSid()
{
    HANDLE token = nullptr;
    char buffer[256];
    DWORD size = 0;
    char* text = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    }
    CloseHandle(token);
    std::string sid = text ? text : "";
    LocalFree(text);
    return sid;
}

UserShellFoldersGuard::UserShellFoldersGuard()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (int i = 0; i < 2; ++i) {
        char buffer[4096] = {0};
        DWORD size = sizeof buffer - 1;
        present[i] = RegQueryValueExA(key, kGuardedFolders[i], nullptr, &type[i],
                                      reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
        if (present[i]) saved[i] = buffer;
    }
    RegCloseKey(key);
}

UserShellFoldersGuard::~UserShellFoldersGuard()
{
    for (int i = 0; i < 2; ++i) {
        if (present[i]) {
            setUserShellFolder(kGuardedFolders[i], type[i], saved[i]);
            continue;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_WRITE, &key) != ERROR_SUCCESS) continue;
        RegDeleteValueA(key, kGuardedFolders[i]);
        RegCloseKey(key);
    }
}

bool pointShellFolder(const char* valueName, const std::string& path)
{
    return setUserShellFolder(valueName, REG_EXPAND_SZ, path) && lnk::setShellFolder(valueName, path);
}

std::string builtUninstaller()
{
    return WB_DIST_DIR "\\__uninst.exe";
}

wbpack::PackageSpec packageWithUninstaller(const std::string& productName, const std::string& installDir)
{
    wbpack::PackageSpec package;
    package.header.productName = productName;
    package.header.installDir = installDir;
    package.header.webAddress = "https://example.org/uninstall-test/";
    package.header.publisher = "Wickerbay tests";
    std::string uninstaller = readFileBytes(builtUninstaller());
    package.entries = {
        wbpack::memoryFileEntry("__uninst.exe", uninstaller),
        wbpack::memoryFileEntry("App.exe", "MZ stand-in for the application"),
        wbpack::enterDirEntry("lib"),
        wbpack::memoryFileEntry("core.dat", std::string(40000, 'c')),
        wbpack::enterDirEntry("plugins"),
        wbpack::memoryFileEntry("a.dat", "plug-in"),
        wbpack::leaveDirEntry(),
        wbpack::leaveDirEntry(),
        wbpack::enterDirEntry("data"),
        wbpack::memoryFileEntry("defaults.cfg", "colour = blue\n"),
        wbpack::leaveDirEntry(),
        wbpack::enterDirEntry("empty"),
        wbpack::leaveDirEntry(),
    };
    return package;
}

lnk::InstallRun install(const std::string& base, const wbpack::PackageSpec& package)
{
    lnk::InstallRun run;
    std::string setup = base + "\\Setup.exe";
    std::string error;
    if (!lnk::buildTestInstaller(package, setup, error)) {
        run.boxTexts.push_back("test installer not built: " + error);
        return run;
    }
    ui::Process process;
    if (!ui::startProcess("\"" + setup + "\"", base, process)) return run;
    HWND mainWindow = lnk::waitForMainWindow(process);
    if (mainWindow) run = lnk::installAndFinish(process, mainWindow);
    ui::killProcess(process);
    ui::closeProcess(process);
    return run;
}

namespace {

// The prefix's dosdevices folder, as the host names it.
std::string dosDevices()
{
    const char* prefix = std::getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "/nonexistent") + "/dosdevices/";
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool mapDosDevice(const std::string& device, const std::string& cFolder, const std::string& probe)
{
    std::string target = cFolder;
    for (char& c : target) c = c == '\\' ? '/' : c;
    std::string up = device.find('/') == std::string::npos ? "../" : "../../";
    std::string link = dosDevices() + device;
    return ui::runOnHost({"/bin/mkdir", "-p", link.substr(0, link.rfind('/'))}) &&
           ui::runOnHost({"/bin/ln", "-sfn", up + "drive_c/" + target, link}) &&
           ui::waitFor([&] { return exists(probe); });
}

void unmapDosDevice(const std::string& device, const std::string& probe)
{
    ui::runOnHost({"/bin/rm", "-f", dosDevices() + device});
    ui::waitFor([&] { return !exists(probe); });
}

std::vector<std::string> treeOf(const std::string& folder)
{
    std::vector<std::string> tree;
    collectTree(folder, "", tree);
    std::sort(tree.begin(), tree.end());
    return tree;
}

bool writeFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string readFileBytes(const std::string& path)
{
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

bool writeLogRecords(const std::string& path, const std::vector<lnk::UninstallRecord>& records)
{
    std::string bytes;
    for (const lnk::UninstallRecord& record : records) {
        bytes += static_cast<char>(record.type);
        bytes += static_cast<char>(record.path.size() & 0xFF);
        bytes += static_cast<char>((record.path.size() >> 8) & 0xFF);
        bytes += record.path;
    }
    return writeFileBytes(path, bytes);
}

RegValue textValue(const std::string& text)
{
    return {REG_SZ, text + '\0'};
}

RegValue numberValue(DWORD number)
{
    return {REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}

std::string entryKeyPath(const std::string& keyName)
{
    return std::string(kUninstallList) + "\\" + keyName;
}

std::map<std::string, RegValue> registryValues(HKEY root, const std::string& path)
{
    std::map<std::string, RegValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        values[name] = {type, std::string(reinterpret_cast<char*>(data), dataSize)};
    }
    RegCloseKey(key);
    return values;
}

bool registryKeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool writeRegistryValues(HKEY root, const std::string& path, const std::map<std::string, RegValue>& values)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool written = true;
    for (const auto& value : values) {
        written = written && RegSetValueExA(key, value.first.c_str(), 0, value.second.type,
                                            reinterpret_cast<const BYTE*>(value.second.data.data()),
                                            static_cast<DWORD>(value.second.data.size())) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return written;
}

void forgetEntry(const std::string& keyName)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, entryKeyPath(keyName).c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, entryKeyPath(keyName).c_str());
}

UninstallRun runUninstaller(const std::string& installDir, int answer, const std::string& screenshotPrefix)
{
    UninstallRun run;
    ui::Process process;
    if (!ui::startProcess("\"" + installDir + "\\__uninst.exe\"", installDir, process)) return run;
    HANDLE copy = nullptr;
    std::set<HWND> answered;
    ui::waitFor([&] {
        if (!ui::isRunning(process)) return true;
        for (HWND box : ui::topLevelWindows(process.pid, "#32770")) {
            if (!GetDlgItem(box, 0xFFFF) || answered.count(box)) continue;
            BoxSeen seen;
            seen.buttons = ui::messageBoxButtons(box);
            if (seen.buttons.empty()) continue;
            seen.caption = ui::windowText(box);
            seen.text = ui::messageBoxText(box);
            // Also waits until the icon is on the screen, so the screenshot shows the box whole.
            seen.icon = ui::messageBoxIcon(box);
            if (!screenshotPrefix.empty()) {
                ui::saveScreenshot(screenshotPrefix + "-" + std::to_string(run.boxes.size() + 1));
            }
            if (!copy) {
                copy = openCleanupCopy(process, run.copyPath);
                std::string folder = run.copyPath.substr(0, run.copyPath.find_last_of('\\'));
                run.copyFolderGoneWhileWaiting = copy && GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
            }
            if (copy) {
                run.copyWaited = WaitForSingleObject(copy, 0) == WAIT_TIMEOUT &&
                                 lnk::fileExists(installDir + "\\__uninst.exe");
            }
            bool isQuestion = std::find(seen.buttons.begin(), seen.buttons.end(), IDYES) != seen.buttons.end();
            ui::answerMessageBox(box, isQuestion ? answer : seen.buttons.front());
            answered.insert(box);
            run.boxes.push_back(seen);
            return false;
        }
        return false;
    }, 60000);
    run.exitCode = ui::waitExit(process);
    ui::killProcess(process);
    ui::closeProcess(process);
    if (copy) {
        run.copyStarted = true;
        if (WaitForSingleObject(copy, ui::kDeadlineMs) == WAIT_OBJECT_0) GetExitCodeProcess(copy, &run.copyExitCode);
        CloseHandle(copy);
        std::string folder = run.copyPath.substr(0, run.copyPath.find_last_of('\\'));
        run.copyFileGone = ui::waitFor([&] { return GetFileAttributesA(run.copyPath.c_str()) == INVALID_FILE_ATTRIBUTES; });
        run.copyFolderGone = ui::waitFor([&] { return GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }
    return run;
}

}  // namespace uns
