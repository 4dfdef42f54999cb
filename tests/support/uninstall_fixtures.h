// Fixtures of the uninstaller's end-to-end tests: packages that carry the uninstaller as
// built, installed by the real installer; the uninstaller run and answered, with every
// message box it showed and the clean-up copy it left in the temporary folder followed to
// its end; the list of installed programs read back; and folder trees listed whole.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/shortcut_fixtures.h"
#include "tools/pack/pack.h"

namespace uns {

// Wine's shell writes "Shell Folders" afresh from "User Shell Folders" whenever a program
// asks it for a folder (the installer's link object does), so a test folder set in the
// first key alone does not last. This guard saves the "User Shell Folders" values of the
// desktop and the programs menu and puts them back; lnk::ShellFoldersGuard does the same
// for the other key.
struct UserShellFoldersGuard {
    bool present[2] = {};
    DWORD type[2] = {};
    std::string saved[2];
    UserShellFoldersGuard();
    ~UserShellFoldersGuard();
};
// Points "Desktop" or "Programs" at path in both keys.
bool pointShellFolder(const char* valueName, const std::string& path);

// The uninstaller in the build's dist folder.
std::string builtUninstaller();

// A package for installDir: the built uninstaller as its top-level __uninst.exe (first, as
// the package builder puts it), App.exe, lib\core.dat, lib\plugins\a.dat,
// data\defaults.cfg and an empty folder `empty'. No shortcuts.
wbpack::PackageSpec packageWithUninstaller(const std::string& productName, const std::string& installDir);

// Builds <base>\Setup.exe and runs it through Install and Completed, answering its notice.
lnk::InstallRun install(const std::string& base, const wbpack::PackageSpec& package);

// Everything below folder as relative paths, sorted; folders end with a backslash.
std::vector<std::string> treeOf(const std::string& folder);
bool writeFileBytes(const std::string& path, const std::string& bytes);
std::string readFileBytes(const std::string& path);
// Writes records in the installer's log layout: type byte, 16-bit length, path.
bool writeLogRecords(const std::string& path, const std::vector<lnk::UninstallRecord>& records);

// Makes a name of the test prefix's dosdevices folder lead to a folder of drive C (given
// with backslashes, without its drive): "q:" is then drive Q:, "unc/server" the server of
// \\server\share paths, its shares that folder's sub-folders. Wine finds both as links
// there; a host program makes the link, so the call waits until `probe` exists.
bool mapDosDevice(const std::string& device, const std::string& cFolder, const std::string& probe);
// Takes the link away again and waits until `probe` is gone.
void unmapDosDevice(const std::string& device, const std::string& probe);

// ---- The list of installed programs ----------------------------------------------------

struct RegValue {
    DWORD type;
    std::string data;
    bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};
RegValue textValue(const std::string& text);
RegValue numberValue(DWORD number);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<keyName>".
std::string entryKeyPath(const std::string& keyName);
// Every value of a key, by name; empty when the key does not exist.
std::map<std::string, RegValue> registryValues(HKEY root, const std::string& path);
bool registryKeyExists(HKEY root, const std::string& path);
bool writeRegistryValues(HKEY root, const std::string& path, const std::map<std::string, RegValue>& values);
// Deletes the entry under both roots, so that a run cut short leaves nothing for the next.
void forgetEntry(const std::string& keyName);

// ---- Running the uninstaller -----------------------------------------------------------

struct BoxSeen {
    std::string caption;
    std::string text;
    UINT icon = 0;               // MB_ICON... as shown
    std::vector<int> buttons;    // IDYES, IDNO, IDOK, ...
};

struct UninstallRun {
    std::vector<BoxSeen> boxes;
    DWORD exitCode = STILL_ACTIVE;
    // The copy that removes the uninstaller after it has ended, when one was started:
    // found while the uninstaller's last box is up, followed until it has ended and its
    // file in the temporary folder is gone.
    bool copyStarted = false;
    // The copy was still running, and the uninstaller's program still in place, while the
    // uninstaller showed its last box: the copy waits for the uninstaller to end.
    bool copyWaited = false;
    std::string copyPath;
    DWORD copyExitCode = STILL_ACTIVE;
    bool copyFileGone = false;
    // The copy's own folder in the temporary folder: gone already while the copy waited,
    // and gone afterwards.
    bool copyFolderGoneWhileWaiting = false;
    bool copyFolderGone = false;
};

// A file or folder's access list: "protected" or "inherits", then "; allow SID MASK FLAGS"
// (hexadecimal) for each entry in order.
std::string describeAccess(const std::string& path);

// The security identifier of the user the test runs as, as text.
std::string userSid();

// Starts <installDir>\__uninst.exe in installDir, as its shortcut does, answers the
// question with `answer` and every other box with its first button, and saves a
// screenshot of each box as <screenshotPrefix>-<n> when a prefix is given.
UninstallRun runUninstaller(const std::string& installDir, int answer,
                            const std::string& screenshotPrefix = std::string());

}  // namespace uns
