#include "installer/shell_shortcuts.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <direct.h>

#include <cstring>

#include "common/path_rule.h"
#include "common/shell_roots.h"
#include "installer/install_paths.h"
#include "installer/install_records.h"
#include "installer/installer_state.h"
#include "installer/link_path.h"

char shellFolderBuffer[kShellFolderBufferSize];

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The shell's link object and the two interfaces it is used through. Spelled out here so
// that the installer needs no import library of interface identifiers.
const CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kShellLinkInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The current directory is saved in a buffer of this size while the folders are walked.
constexpr std::size_t kSavedDirectorySize = 1024;

const char* textOrEmpty(const char* text)
{
    return text ? text : "";
}

// A shortcut's text with a leading $L replaced by the user's local application data
// folder; false when the text needs the folder and it cannot be found.
bool expandPerUserText(const char* text, std::string& expanded)
{
    if (!wbformat::beginsWithPerUserMacro(text)) {
        expanded = text;
        return true;
    }
    const char* folder = localAppDataFolder();
    if (!folder) return false;
    expanded = expandPerUserPrefix(text, folder);
    return true;
}

// A link path may begin with $L (a link in a per-user install folder); the shell folder
// macros of the rest are expanded as usual, never those of the folder's own name.
bool expandShortcutLinkPath(const char* linkPath, std::string& expanded)
{
    if (!wbformat::beginsWithPerUserMacro(linkPath)) return expandLinkPath(linkPath, expanded);
    const char* folder = localAppDataFolder();
    std::string rest;
    if (!folder || !expandLinkPath(linkPath + 2, rest)) return false;
    expanded = folder + rest;
    return true;
}

// A shell folder that a user pointed at a drive's root or at a folder that holds Windows'
// own would make the installer put its links, and the uninstaller later remove, among the
// system's files: a link path whose macro names such a folder is not made.
bool namesRefusedShellFolder(const char* linkPath, const std::vector<std::string>& systemFolders)
{
    unsigned used = linkPathFolders(linkPath);
    for (int folder = 0; folder < kShellFolderCount; ++folder) {
        if (!(used & (1u << folder))) continue;
        std::string path = readShellFolder(shellFolderValueName(folder));
        if (!path.empty() && !isAcceptableShortcutRoot(path, systemFolders)) return true;
    }
    return false;
}

// The folders whose links' folders the installer logs although it did not create them:
// the shell folders its macros name and those the uninstaller accepts shortcuts in.
std::vector<std::string> linkFolderRoots()
{
    std::vector<std::string> roots = shortcutFolders();
    for (int folder = 0; folder < kShellFolderCount; ++folder) {
        std::string path = readShellFolder(shellFolderValueName(folder));
        if (!path.empty()) roots.push_back(path);
    }
    return roots;
}

}  // namespace

void createShortcuts()
{
    std::int32_t count = installerState.shortcutCount;
    if (count > wbformat::kMaxShortcuts) count = wbformat::kMaxShortcuts;
    std::vector<std::string> systemFolders = count > 0 ? readSystemFolders() : std::vector<std::string>();
    for (std::int32_t i = 0; i < count; ++i) {
        const ShortcutRecord& shortcut = installerState.shortcuts[i];
        const char* linkPath = textOrEmpty(shortcut.linkPath);
        std::string expanded, target, workingDir;
        // A folder that could not be looked up leaves the path without its drive, and a
        // path beyond the limits cannot be walked or saved whole: such a link would land
        // somewhere the package never meant, so it is left out and reported instead.
        if (namesRefusedShellFolder(linkPath, systemFolders) || !expandShortcutLinkPath(linkPath, expanded) ||
            !isSavableLinkPath(expanded) ||
            !expandPerUserText(textOrEmpty(shortcut.target), target) ||
            !expandPerUserText(textOrEmpty(shortcut.workingDir), workingDir)) {
            noteInstallFailure(linkPath);
            continue;
        }
        createShellLink(target.c_str(), expanded.c_str(), workingDir.c_str(), textOrEmpty(shortcut.arguments),
                        textOrEmpty(shortcut.description));
        // The log on disk keeps up with the links too: a process ended during this phase
        // leaves no link that nobody logged.
        keepLogCurrent();
    }
}

bool expandLinkPath(const char* linkPath, std::string& expanded)
{
    // Each folder is copied out of the shared buffer at once, and only the folders that
    // the path names are looked up.
    std::string folders[kShellFolderCount];
    unsigned used = linkPathFolders(linkPath);
    for (int folder = 0; folder < kShellFolderCount; ++folder) {
        if (used & (1u << folder)) folders[folder] = readShellFolder(shellFolderValueName(folder));
    }
    return expandLinkPathText(linkPath, folders, expanded);
}

std::vector<std::string> shortcutFolders()
{
    return readShortcutRoots();
}

const char* localAppDataFolder()
{
    char* folder = installerState.localAppData;
    if (folder[0] == '\0' &&
        FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        folder[0] = '\0';
    }
    return folder[0] != '\0' ? folder : nullptr;
}

const char* readShellFolder(const char* valueName)
{
    // Cleared first, so that a failed lookup never hands on the folder of an earlier one.
    std::memset(shellFolderBuffer, 0, sizeof shellFolderBuffer);
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kShellFoldersKey, &key) != ERROR_SUCCESS) {
        return shellFolderBuffer;
    }
    DWORD type = REG_SZ;
    DWORD size = sizeof shellFolderBuffer;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(shellFolderBuffer), &size);
    RegCloseKey(key);
    // A stored text need not carry its terminator; the zeros behind a shorter one end it,
    // and one that fills the whole buffer without a terminator cannot be used.
    if (status != ERROR_SUCCESS || shellFolderBuffer[sizeof shellFolderBuffer - 1] != '\0') {
        std::memset(shellFolderBuffer, 0, sizeof shellFolderBuffer);
    }
    return shellFolderBuffer;
}

void createShellLink(const char* target, const char* linkPath, const char* workingDir,
                     const char* arguments, const char* description)
{
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                                reinterpret_cast<void**>(&link))) || !link) {
        return;
    }
    link->SetPath(target);
    link->SetDescription(description);
    link->SetWorkingDirectory(workingDir);
    link->SetArguments(arguments);

    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(kPersistFileInterface, reinterpret_cast<void**>(&file))) && file) {
        createLinkFolder(linkPath);
        // Logged before the save: the uninstaller is told about the link even if the
        // save fails, and removing a file that is not there costs it nothing.
        logUninstallRecord(wbformat::kLogFile, "", linkPath);
        WCHAR widePath[kMaxSavedLinkPath + 1];
        if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, kMaxSavedLinkPath + 1) > 0) {
            file->Save(widePath, TRUE);
        }
        file->Release();
    }
    link->Release();
}

void createLinkFolder(const char* linkPath)
{
    char saved[kSavedDirectorySize];
    bool haveSaved = _getcwd(saved, sizeof saved) != nullptr;

    // The walk starts at the drive's root and goes down one folder at a time. It stops at
    // the first step it cannot take, a drive that does not exist included: going on would
    // create the rest of the path below whatever folder it stands in, where the package
    // never meant it and the uninstall log does not record it. The save that follows shows
    // whether the folder is there. An existing folder is simply entered, and an empty
    // component (a doubled separator) names no folder of its own.
    char root[4] = {linkPath[0], ':', '\\', '\0'};
    bool walking = _chdir(root) == 0;
    bool createdLast = false;

    std::string component;
    std::size_t lastSeparator = 0;
    bool foundSeparator = false;
    // Character by character: in a double-byte code page a second byte may be a backslash.
    const std::string path = linkPath;
    for (std::size_t i = 3; i < path.size(); i += characterLength(path, i)) {
        if (isSeparatorAt(path, i)) {
            lastSeparator = i;
            foundSeparator = true;
            if (!component.empty()) {
                createdLast = walking && _mkdir(component.c_str()) == 0;
                walking = walking && _chdir(component.c_str()) == 0;
            }
            component.clear();
        } else {
            component.append(path, i, characterLength(path, i));
        }
    }

    // A link straight in a drive's root has no folder of its own to remove later: its
    // folder record is empty. So is the record of a folder outside the install folder and
    // the shell folders that was there before: it is not the installer's to remove.
    std::string folder = foundSeparator ? path.substr(0, lastSeparator) : std::string();
    std::string installRoot = installerState.installDir ? installerState.installDir : "";
    bool ours = createdLast || (!installRoot.empty() && isPathAtOrBelow(folder, installRoot));
    std::string logged = ours ? linkFolderToLog(folder, true, installRoot, {}) :
                                linkFolderToLog(folder, false, installRoot, linkFolderRoots());
    logUninstallRecord(wbformat::kLogShortcutFolder, "", logged.c_str());

    if (haveSaved) _chdir(saved);
}
