#include "tests/support/shortcut_fixtures.h"

#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#ifndef WB_DIST_DIR
#define WB_DIST_DIR "."
#endif

namespace lnk {

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

const char kUserShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const char* const kFolderKeys[2] = {kShellFoldersKey, kUserShellFoldersKey};

bool readFolderValue(const char* keyPath, const char* valueName, DWORD& type, std::string& value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::vector<char> buffer(32768, '\0');
    DWORD size = static_cast<DWORD>(buffer.size() - 1);
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    value = buffer.data();
    return true;
}

bool writeFolderValue(const char* keyPath, const char* valueName, DWORD type, const std::string& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG status = RegSetValueExA(key, valueName, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool deleteFolderValue(const char* keyPath, const char* valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return true;
    LONG status = RegDeleteValueA(key, valueName);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

const char* const kShellFolderValues[4] = {"Desktop", "Programs", "Start Menu", "Startup"};

ShellFoldersGuard::ShellFoldersGuard()
{
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 4; ++i) present[k][i] = readFolderValue(kFolderKeys[k], kShellFolderValues[i], type[k][i], saved[k][i]);
    }
}

ShellFoldersGuard::~ShellFoldersGuard()
{
    // "User Shell Folders" last: Wine may write "Shell Folders" from it meanwhile.
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 4; ++i) {
            if (present[k][i]) {
                writeFolderValue(kFolderKeys[k], kShellFolderValues[i], type[k][i], saved[k][i]);
            } else {
                deleteFolderValue(kFolderKeys[k], kShellFolderValues[i]);
            }
        }
    }
}

bool setShellFolder(const char* valueName, const std::string& path)
{
    return writeFolderValue(kUserShellFoldersKey, valueName, REG_EXPAND_SZ, path) &&
           writeFolderValue(kShellFoldersKey, valueName, REG_SZ, path);
}

bool deleteShellFolder(const char* valueName)
{
    return deleteFolderValue(kUserShellFoldersKey, valueName) && deleteFolderValue(kShellFoldersKey, valueName);
}

std::string freshTestFolder(const std::string& name)
{
    std::string folder = "C:\\wbtest\\" + name;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

bool fileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> folderNames(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

LinkContents readShellLink(const std::string& path)
{
    LinkContents contents;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return contents;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        WCHAR widePath[MAX_PATH] = {0};
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        if (SUCCEEDED(file->Load(widePath, STGM_READ))) {
            char text[1024];
            // SLGP_RAWPATH: the path as stored, without any resolving on the way out.
            text[0] = '\0';
            link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
            contents.target = text;
            text[0] = '\0';
            link->GetWorkingDirectory(text, sizeof text);
            contents.workingDir = text;
            text[0] = '\0';
            link->GetArguments(text, sizeof text);
            contents.arguments = text;
            text[0] = '\0';
            link->GetDescription(text, sizeof text);
            contents.description = text;
            contents.loaded = true;
        }
        file->Release();
    }
    link->Release();
    return contents;
}

std::vector<UninstallRecord> readUninstallLog(const std::string& path, bool* complete)
{
    std::vector<UninstallRecord> records;
    if (complete) *complete = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return records;
    for (;;) {
        int type = std::fgetc(file);
        if (type == EOF) {
            if (complete) *complete = true;
            break;
        }
        unsigned char length[2];
        if (std::fread(length, 1, 2, file) != 2) break;
        std::string text(length[0] | (length[1] << 8), '\0');
        if (!text.empty() && std::fread(&text[0], 1, text.size(), file) != text.size()) break;
        records.push_back({type, text});
    }
    std::fclose(file);
    return records;
}

wbpack::PackageSpec basicPackage(const std::string& installDir, const std::string& licenceText)
{
    wbpack::PackageSpec package;
    package.header.productName = "Lnk Test";
    package.header.installDir = installDir;
    package.header.webAddress = "http://example.org/lnk";
    package.header.publisher = "Wickerbay tests";
    package.header.licenceText = licenceText;
    package.entries.push_back(wbpack::memoryFileEntry("__uninst.exe", "MZ"));
    package.entries.push_back(wbpack::memoryFileEntry("vmkick.exe", "MZ stand-in"));
    return package;
}

bool buildTestInstaller(const wbpack::PackageSpec& package, const std::string& path, std::string& error)
{
    std::string stub;
    if (!wbpack::readStubFile(WB_DIST_DIR "\\Wickerbay.exe", stub, error)) return false;
    return wbpack::buildInstaller(package, stub, path, error);
}

HWND waitForMainWindow(const ui::Process& process)
{
    return ui::waitForWindow(process.pid, "MainWin", "Orvanstead Wickerbay");
}

HWND waitForLicenceWindow(const ui::Process& process)
{
    return ui::waitForWindow(process.pid, "LicWin", "License");
}

namespace {

struct LicenceSearch {
    DWORD pid;
    bool found;
};

BOOL CALLBACK findLicenceWindow(HWND window, LPARAM param)
{
    LicenceSearch* search = reinterpret_cast<LicenceSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && ui::className(window) == "LicWin") search->found = true;
    return TRUE;
}

}  // namespace

bool hasLicenceWindow(const ui::Process& process)
{
    LicenceSearch search{process.pid, false};
    EnumWindows(findLicenceWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool drainPostedMessages(HWND textBox)
{
    // Two different marks in a row, so that a mark left by an earlier call cannot pass
    // for this one.
    static int mark = 1;
    mark = mark % 5 + 1;
    PostMessageA(textBox, EM_SETSEL, 0, mark);
    return ui::waitFor([&] {
        // With no pointers given, the selection comes back packed in the result.
        DWORD_PTR selection = 0;
        if (!SendMessageTimeoutA(textBox, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 1000, &selection)) return false;
        return LOWORD(selection) == 0 && HIWORD(selection) == mark;
    });
}

bool waitUntilIdle(HWND window)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ui::kDeadlineMs, &ignored) != 0;
}

HWND focusOf(HWND window)
{
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

InstallRun installAndFinish(ui::Process& process, HWND mainWindow)
{
    InstallRun run;
    HWND button = ui::findChild(mainWindow, "Button", "Install");
    if (!button) return run;
    ui::pressButton(button);
    std::set<HWND> answered;
    bool pressedCompleted = false;
    ui::waitFor([&] {
        if (!ui::isRunning(process)) return true;
        for (HWND box : ui::topLevelWindows(process.pid, "#32770")) {
            if (!GetDlgItem(box, 0xFFFF) || answered.count(box)) continue;
            std::vector<int> buttons = ui::messageBoxButtons(box);
            if (buttons.empty()) continue;
            run.boxTexts.push_back(ui::messageBoxText(box));
            ui::answerMessageBox(box, buttons.front());
            answered.insert(box);
            return false;
        }
        if (!pressedCompleted && IsWindow(button) && ui::windowText(button) == "Completed" &&
            ui::isEnabled(button) && ui::isEnabled(mainWindow)) {
            run.completed = true;
            pressedCompleted = true;
            ui::pressButton(button);
        }
        return false;
    }, 120000);
    run.exitCode = ui::waitExit(process);
    return run;
}

}  // namespace lnk
