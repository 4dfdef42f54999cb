// __uninst.exe: removes what the installer's log names, asks first, reports what it could
// not remove, and takes the product's entry out of the list of installed programs. It has
// no window of its own beyond its message boxes.
#include <windows.h>

#include <string>

#include "common/dll_search.h"
#include "common/package_format.h"
#include "common/shell_roots.h"
#include "common/uninstall_log.h"
#include "uninstaller/elevation.h"
#include "uninstaller/registration_lookup.h"
#include "uninstaller/removal.h"
#include "uninstaller/self_removal.h"
#include "uninstaller/uninstall_plan.h"
#include "uninstaller/uninstaller_state.h"

UninstallerState uninstallerState;

namespace {

int showBox(const std::string& text, UINT style)
{
    return MessageBoxA(nullptr, text.c_str(), kUninstallCaption, style);
}

// The long form of both, so that a folder started by its short name is still itself.
bool isSameFolder(const std::string& a, const std::string& b)
{
    if (samePath(a, b)) return true;
    char longA[MAX_PATH * 4], longB[MAX_PATH * 4];
    DWORD lengthA = GetLongPathNameA(a.c_str(), longA, sizeof longA);
    DWORD lengthB = GetLongPathNameA(b.c_str(), longB, sizeof longB);
    return lengthA > 0 && lengthA < sizeof longA && lengthB > 0 && lengthB < sizeof longB &&
           samePath(std::string(longA, lengthA), std::string(longB, lengthB));
}

bool findOwnFiles()
{
    UninstallerState& state = uninstallerState;
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    state.ownPath.assign(path, length);
    // In a drive's root the folder is "C:\", as the log's install root names it: "C:"
    // alone would be the drive's current folder.
    state.ownFolder = folderHolding(state.ownPath);
    state.logPath = state.ownPath.substr(0, lastSeparator(state.ownPath) + 1) + wbformat::kUninstallLogName;
    return !state.ownFolder.empty();
}

// Reads and checks the whole log before anything is touched; a log that cannot be read
// whole is refused with the reason, and nothing is removed.
bool loadLog()
{
    UninstallerState& state = uninstallerState;
    std::string bytes;
    if (!readUninstallLogFile(state.logPath, bytes)) {
        showBox(unreadableLogNotice(state.logPath), MB_OK | MB_ICONERROR);
        return false;
    }
    std::string problem;
    if (!parseUninstallLog(bytes, state.log, problem)) {
        showBox(damagedLogNotice(state.logPath, problem), MB_OK | MB_ICONERROR);
        return false;
    }
    // Whoever could write the log could otherwise make an elevated uninstaller delete
    // anything: it may name only the folder it lies in, and shortcuts in the shell folders
    // (links also elsewhere). The installer reads an earlier log with the same roots.
    state.shortcutRoots = readShortcutRoots();
    if (!checkLogScope(state.log, state.shortcutRoots, problem)) {
        state.log.clear();
        showBox(refusedLogNotice(state.logPath, problem), MB_OK | MB_ICONERROR);
        return false;
    }
    const std::string& root = state.log.back().path;
    if (!isSameFolder(root, state.ownFolder)) {
        state.log.clear();
        showBox(refusedLogNotice(state.logPath, "names the install folder `" + root + "', not the folder it is in"),
                MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

// Nothing between the install folder (or the shell folder) and a logged item may be a
// junction or a symbolic link: one put in place of a folder the installer made would steer
// the deletes to wherever it points. The removal checks that on the item it opens.
std::string scopeOf(const std::string& path, int type)
{
    UninstallerState& state = uninstallerState;
    return logScopeOf({type, path}, state.plan.installRoot, state.shortcutRoots);
}

void noteRemoval(Removal result, const std::string& item)
{
    UninstallerState& state = uninstallerState;
    if (result == Removal::throughLink) state.linked.push_back(item);
    if (result == Removal::failed) state.failures.push_back(item);
}

void findRegistration()
{
    UninstallerState& state = uninstallerState;
    state.entries = findUninstallEntries({HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}, state.ownPath);
    for (const UninstallEntry& entry : state.entries) {
        if (state.productName.empty()) state.productName = entry.displayName;
    }
}

// In log order, newest first. The process leaves the install directory first: Windows does
// not remove a folder that is some process's current directory.
void removeFiles()
{
    UninstallerState& state = uninstallerState;
    char systemFolder[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length > 0 && length < sizeof systemFolder) SetCurrentDirectoryA(systemFolder);
    for (const std::string& file : state.plan.files) {
        noteRemoval(removeLoggedFile(file, scopeOf(file, wbformat::kLogFile)), file);
    }
    // An installer ended between writing its next log and moving it into place leaves
    // this file, which would keep the folder for ever. It lies beside the log, in the
    // folder the log was found in.
    std::string pending = state.logPath + ".new";
    noteRemoval(removeLoggedFile(pending, state.ownFolder), pending);
}

void removeFolders()
{
    UninstallerState& state = uninstallerState;
    for (const std::string& folder : state.plan.folders) {
        noteRemoval(removeEmptyFolder(folder, scopeOf(folder, wbformat::kLogShortcutFolder)), folder);
    }
}

void removeRegistration()
{
    UninstallerState& state = uninstallerState;
    for (const UninstallEntry& entry : state.entries) {
        if (!deleteUninstallEntry(entry)) {
            state.failures.push_back("the entry `" + entry.displayName +
                                     "' in the list of installed programs");
        }
    }
}

// After a failure the uninstaller, its log and its entry stay, so that it can be run
// again once the program that held a file has ended; otherwise they go too.
void removeSelf()
{
    UninstallerState& state = uninstallerState;
    state.selfKept = !startCleanupCopy(state.ownPath, state.plan.removeOwnFolder);
}

int runUninstall()
{
    UninstallerState& state = uninstallerState;
    if (!findOwnFiles()) {
        showBox("The uninstaller cannot find its own folder.\n\nNothing has been removed.", MB_OK | MB_ICONERROR);
        return 1;
    }
    if (!loadLog()) return 1;
    findRegistration();
    // Asked before the question: the copy with the rights asks it.
    if (needsAdministrator(state.logPath, state.entries)) return runAsAdministrator(state.ownPath, state.productName);
    state.plan = planRemoval(state.log, readShellFolders(), state.ownFolder);
    if (showBox(removeQuestion(state.plan.installRoot), MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
    removeFiles();
    removeFolders();
    if (state.failures.empty() && state.linked.empty()) removeRegistration();
    if (state.failures.empty() && state.linked.empty()) removeSelf();

    if (!state.failures.empty() || !state.linked.empty()) {
        showBox(failuresNotice(state.failures, state.linked), MB_OK | MB_ICONWARNING);
        return 1;
    }
    if (state.selfKept) {
        showBox(selfKeptNotice(state.productName, state.ownFolder), MB_OK | MB_ICONWARNING);
        return 1;
    }
    showBox(removedNotice(state.productName), MB_OK | MB_ICONINFORMATION);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    restrictDllSearch();
    loadThemedControls();
    CleanupRequest request;
    if (parseCleanupCommandLine(GetCommandLineA(), request)) return runCleanup(request);
    return runUninstall();
}
