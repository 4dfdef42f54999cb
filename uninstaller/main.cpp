// __uninst.exe: removes what the installer's log names, asks first, reports what it could
// not remove, and takes the product's entry out of the list of installed programs. It has
// no window of its own beyond its message boxes.
#include <windows.h>

#include <string>

#include "common/package_format.h"
#include "common/uninstall_log.h"
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

bool findOwnFiles()
{
    UninstallerState& state = uninstallerState;
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    state.ownPath.assign(path, length);
    state.ownFolder = folderOf(state.ownPath);
    state.logPath = state.ownFolder + "\\" + wbformat::kUninstallLogName;
    return !state.ownFolder.empty();
}

// Reads and checks the whole log before anything is touched; a log that cannot be read
// whole is refused with the reason, and nothing is removed.
bool loadLog()
{
    UninstallerState& state = uninstallerState;
    std::string bytes;
    if (!readLogFile(state.logPath, bytes)) {
        showBox(unreadableLogNotice(state.logPath), MB_OK | MB_ICONERROR);
        return false;
    }
    std::string problem;
    if (!parseUninstallLog(bytes, state.log, problem)) {
        showBox(damagedLogNotice(state.logPath, problem), MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
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
        if (!removeLoggedFile(file)) state.failures.push_back(file);
    }
}

void removeFolders()
{
    UninstallerState& state = uninstallerState;
    for (const std::string& folder : state.plan.folders) {
        if (!removeEmptyFolder(folder)) state.failures.push_back(folder);
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
    if (!startCleanupCopy(state.ownPath, state.plan.removeOwnFolder)) {
        state.failures.push_back(state.ownPath);
    }
}

int runUninstall()
{
    UninstallerState& state = uninstallerState;
    if (!findOwnFiles()) {
        showBox("The uninstaller cannot find its own folder.\n\nNothing has been removed.", MB_OK | MB_ICONERROR);
        return 1;
    }
    if (!loadLog()) return 1;
    state.plan = planRemoval(state.log, readShellFolders(), state.ownFolder);
    if (showBox(removeQuestion(state.plan.installRoot), MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;

    findRegistration();
    removeFiles();
    removeFolders();
    if (state.failures.empty()) removeRegistration();
    if (state.failures.empty()) removeSelf();

    if (!state.failures.empty()) {
        showBox(failuresNotice(state.failures), MB_OK | MB_ICONWARNING);
        return 1;
    }
    showBox(removedNotice(state.productName), MB_OK | MB_ICONINFORMATION);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CleanupRequest request;
    if (parseCleanupCommandLine(GetCommandLineA(), request)) return runCleanup(request);
    return runUninstall();
}
