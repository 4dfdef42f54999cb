// Fixtures of the shortcut and licence tests: the Shell Folders values of the test prefix,
// test folders below C:\wbtest, shell links and uninstall logs read back, test installers
// built with the package builder's library, and the installer driven through its windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/ui_driver.h"
#include "tools/pack/pack.h"

namespace lnk {

// The four values the installer's macros name, in the order $D, $P, $S, $s.
extern const char* const kShellFolderValues[4];

// Saves the four values in "Shell Folders" and in "User Shell Folders" on construction and
// puts each back (or deletes it, when it was absent) on destruction, so that tests sharing
// the prefix do not see each other's.
struct ShellFoldersGuard {
    bool present[2][4] = {};
    DWORD type[2][4] = {};
    std::string saved[2][4];
    ShellFoldersGuard();
    ~ShellFoldersGuard();
};

// Sets (or deletes) a value in both keys, as Windows keeps them: the installer's macros read
// "Shell Folders", the shell's SHGetFolderPathA (by which installer and uninstaller take their
// shortcut roots) reads "User Shell Folders", and Wine's shell writes the first afresh from
// the second whenever a program asks it for a folder.
bool setShellFolder(const char* valueName, const std::string& path);
bool deleteShellFolder(const char* valueName);

// C:\wbtest\<name>, emptied and created afresh.
std::string freshTestFolder(const std::string& name);
bool fileExists(const std::string& path);
bool directoryExists(const std::string& path);
// The names in a folder, sorted; "." and ".." left out.
std::vector<std::string> folderNames(const std::string& folder);

// A shell link loaded back through IShellLinkA (COM must be initialised).
struct LinkContents {
    bool loaded = false;
    std::string target;
    std::string workingDir;
    std::string arguments;
    std::string description;
};
LinkContents readShellLink(const std::string& path);

struct UninstallRecord {
    int type;
    std::string path;
    bool operator==(const UninstallRecord& other) const { return type == other.type && path == other.path; }
};
// The records of an uninstall log file in file order; `complete` is false when the file is
// missing or ends inside a record.
std::vector<UninstallRecord> readUninstallLog(const std::string& path, bool* complete = nullptr);

// A package with the given header texts, one small file and the uninstaller as its entries.
wbpack::PackageSpec basicPackage(const std::string& installDir, const std::string& licenceText);
// Builds <folder>\Setup.exe from the installer in the dist folder.
bool buildTestInstaller(const wbpack::PackageSpec& package, const std::string& path, std::string& error);

// The installer's windows once it is up: the main window and, when shown, the licence one.
HWND waitForMainWindow(const ui::Process& process);
HWND waitForLicenceWindow(const ui::Process& process);
// Any window of class LicWin of the process, visible or not.
bool hasLicenceWindow(const ui::Process& process);
// Returns once the installer's thread has handled everything posted to `window` so far:
// posted messages are handled in order, so a change made by a posted EM_SETSEL marks the
// point. `textBox` is an edit control of the same thread.
bool drainPostedMessages(HWND textBox);
// Waits until the installer is in its message loop: a message sent to its window returns.
bool waitUntilIdle(HWND window);
// The window that has the keyboard focus in the thread owning `window`.
HWND focusOf(HWND window);

// Presses Install, waits for "Completed" and presses it; collects the texts of the message
// boxes that follow (answered with their first button) until the process ends.
struct InstallRun {
    bool completed = false;
    std::vector<std::string> boxTexts;
    DWORD exitCode = STILL_ACTIVE;
};
InstallRun installAndFinish(ui::Process& process, HWND mainWindow);

}  // namespace lnk
