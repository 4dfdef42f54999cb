// What the uninstaller removes, worked out from the log before anything is touched, the
// texts it shows, and the command line of its clean-up copy. Plain C++ without Windows
// headers, so the host tests and sanitizers reach it.
#pragma once

#include <string>
#include <vector>

#include "common/uninstall_log.h"

constexpr char kUninstallCaption[] = "Uninstall";

// The failure notice names at most this many items; a longer list would not fit a box.
constexpr std::size_t kListedFailures = 10;

struct RemovalPlan {
    // As shown to the user: no trailing separator, except a drive root keeps its own.
    std::string installRoot;
    // The file records in log order, each once, without the uninstaller's own program and
    // log, which the clean-up copy removes after the uninstaller has ended.
    std::vector<std::string> files;
    // Directory, shortcut folder and install root records, each once, deepest first and
    // the install root last; never a protected folder, a drive root, or the uninstaller's
    // own folder. Each is removed only when it is empty.
    std::vector<std::string> folders;
    // The uninstaller's own folder is one of the folders to remove (it is the install
    // root): the clean-up copy removes it, when empty, after the uninstaller's two files.
    bool removeOwnFolder = false;
};

// protectedFolders: the shell folders (desktop, program menu, ...), which stay even when a
// record names them and they are empty; a link placed directly on the desktop logs the
// desktop as its folder. ownFolder: where the uninstaller and the log are.
RemovalPlan planRemoval(const std::vector<LogEntry>& entries,
                        const std::vector<std::string>& protectedFolders,
                        const std::string& ownFolder);

// Paths as Windows compares them: "/" and "\" alike, ASCII letters without case, trailing
// separators ignored.
bool samePath(const std::string& a, const std::string& b);
// The path without trailing separators; a drive root keeps one ("C:\").
std::string withoutTrailingSeparator(const std::string& path);
// The path without the long-path prefix Windows puts before the names it gives
// (\\?\C:\x is C:\x, \\?\UNC\server\share is \\server\share); any other path as it is.
std::string withoutLongPathPrefix(const std::string& path);
// "C:", "C:\", "\\server\share" and the like, also in their long-path forms.
bool isDriveRoot(const std::string& path);
// The folder part of a file path, without the separator; empty when there is none.
std::string folderOf(const std::string& path);

// When the rights a machine-wide installation needs were declined at Windows' prompt
// (declined) or could not be asked for.
std::string administratorRefusedNotice(const std::string& productName, bool declined);

// The texts of the message boxes.
std::string removeQuestion(const std::string& installRoot);
std::string removedNotice(const std::string& productName);
std::string failuresNotice(const std::vector<std::string>& failures,
                           const std::vector<std::string>& linked = std::vector<std::string>());
std::string unreadableLogNotice(const std::string& logPath);
std::string damagedLogNotice(const std::string& logPath, const std::string& problem);
std::string selfKeptNotice(const std::string& productName, const std::string& ownFolder);
std::string refusedLogNotice(const std::string& logPath, const std::string& problem);

// The paths from the first component below base down to item, item last: what must not be
// a junction or a link when item is removed. Empty when item is base or not below it.
std::vector<std::string> pathsBelow(const std::string& base, const std::string& item);

// The uninstaller cannot delete its own running program, so at the end it starts a copy
// of itself from the temporary folder with this request. The copy waits for the original
// process (a handle it inherits) to end, then deletes the uninstaller and the log beside
// it, and that folder when asked and empty.
struct CleanupRequest {
    unsigned long waitHandle = 0;    // the original process, as an inherited handle value
    bool removeFolder = false;
    std::string uninstallerPath;     // must name a file __uninst.exe
};

std::string cleanupCommandLine(const std::string& copyPath, const CleanupRequest& request);
// True when the command line is a clean-up request; anything else is an ordinary start.
bool parseCleanupCommandLine(const std::string& commandLine, CleanupRequest& request);
