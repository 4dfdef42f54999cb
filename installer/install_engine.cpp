#include "installer/install_engine.h"

#include <windows.h>

#include <direct.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/path_rule.h"
#include "common/uninstall_log.h"
#include "installer/install_paths.h"
#include "installer/install_records.h"
#include "installer/installer_state.h"
#include "installer/main_window.h"
#include "installer/package_reader.h"
#include "installer/shell_shortcuts.h"
#include "installer/uninstall_registration.h"

namespace {

// Entries are only consumed, not created, at this depth and below; a depth no package can
// reach means everything is created.
constexpr int kNotSkipping = INT_MAX;

// Windows takes a window whose thread has not looked at its queue for five seconds for
// hung, and freezes what it shows; looking this often keeps well clear of that.
constexpr DWORD kQueueLookPeriodMs = 50;

// Where the entry stream stands. The current directory and the running path move
// together; below a directory that could not be entered only the running path moves (and
// the entries are consumed), so both are in step again once that directory is left.
struct EntryWalk {
    std::string runningPath;    // the stream's directory, ending with a backslash
    int depth;                  // directories entered below the install directory
    int skipFrom;               // the depth of a directory that could not be entered
    bool uninstallerExtracted;  // a top-level __uninst.exe was written whole
    bool damaged;               // the stream broke off or broke the format
};

bool isSkipping(const EntryWalk& walk)
{
    return walk.depth >= walk.skipFrom;
}

// The install directory as Windows resolves it: a relative or drive-relative one against
// the current directories now, where the walk would build it anyway, with "." and ".."
// components removed. Only so do the log, the notice, the run command's folder and the
// registration all name the folder that is really used.
std::string fullInstallDir(const char* installDir)
{
    // An empty text names no folder; the current directory is where its walk would stay.
    const char* given = installDir[0] != '\0' ? installDir : ".";
    DWORD size = GetFullPathNameA(given, 0, nullptr, nullptr);
    if (size == 0) return installDir;
    std::string full(size, '\0');
    DWORD length = GetFullPathNameA(given, size, &full[0], nullptr);
    if (length == 0 || length >= size) return installDir;
    full.resize(length);
    return full;
}

// installDir becomes the folder the walk reaches, with its trailing backslash.
void setInstallDir(const std::string& reached)
{
    std::string dir = reached.empty() ? std::string(installerState.installDir) : reached;
    if (dir.empty() || lastSeparator(dir) != dir.size() - 1) dir += '\\';
    if (dir == installerState.installDir) return;
    char* text = joinText(dir.c_str(), "");
    if (!text) return;
    std::free(installerState.installDir);
    installerState.installDir = text;
}

// A root is changed to (a drive or a share cannot be made); a folder is entered, and
// created first when it does not exist.
bool takeWalkStep(const WalkStep& step)
{
    if (step.root) return _chdir(step.text.c_str()) == 0;
    if (_chdir(step.text.c_str()) == 0) return true;
    _mkdir(step.text.c_str());
    return _chdir(step.text.c_str()) == 0;
}

// Stops at the first step it cannot take: going on would create the rest of the path, and
// then the files, in whatever directory it was left in. A walk without a root of its own
// would build below the current directory, not where the log says.
bool enterInstallDir(const InstallWalk& walk)
{
    if (walk.steps.empty() || !walk.steps.front().root) return false;
    for (const WalkStep& step : walk.steps) {
        if (!takeWalkStep(step)) return false;
    }
    return true;
}

// Called after every chunk of file data and every entry; one clock read unless a period
// has passed. Looking at the queue without removing anything is what tells Windows the
// window is alive; input stays queued and is dropped when the engine ends. Messages that
// other threads send are handled during the look, and the main window ignores commands
// and close requests while the engine runs. The log on disk is kept current so that an
// installation ended part-way (the task ended, the power lost) can still be removed.
void tendInstallation()
{
    InstallerState& s = installerState;
    DWORD now = GetTickCount();
    if (now - s.queueLookedAt >= kQueueLookPeriodMs) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        s.queueLookedAt = now;
    }
    keepLogCurrent();
}

// Clicks and keys that arrived while the engine ran were meant for a window that could not
// act on them; handled now, a click on the button or Alt+F4 would end the dialogue after
// the fact.
void discardQueuedInput()
{
    const UINT ranges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                              {WM_MOUSEFIRST, WM_MOUSELAST},
                              {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
    MSG message;
    for (const auto& range : ranges) {
        while (PeekMessageA(&message, nullptr, range[0], range[1], PM_REMOVE)) {
        }
    }
}

// Reads size bytes of file data in chunks and writes them to out while out is usable.
void copyFileData(FILE* out, std::uint32_t size, ExtractResult& result)
{
    unsigned char buffer[wbformat::kChunkSize];
    std::uint32_t remaining = size;
    while (remaining != 0) {
        std::uint32_t chunk = remaining < wbformat::kChunkSize ? remaining : wbformat::kChunkSize;
        std::uint32_t got = readPackageBytes(buffer, chunk);
        if (out && !result.writeFailed && got != 0 && std::fwrite(buffer, 1, got, out) != got) {
            result.writeFailed = true;
        }
        remaining -= got;
        installerState.bytesWritten += got;
        drawProgress();
        tendInstallation();
        if (got != chunk) {
            result.streamBroken = true;
            return;
        }
    }
}

// Fills an open file (with none, only consumes the data) and closes it.
void fillFile(FILE* out, std::uint32_t size, ExtractResult& result)
{
    copyFileData(out, size, result);
    if (out && !closeWrittenFile(out)) result.writeFailed = true;
}

// The name rule judged by characters as Windows will read the name, in the system's code
// page: there a two-byte character's second byte may be a backslash.
bool isSafeName(const char* name, std::uint32_t length)
{
    std::string view = singleByteView(std::string(name, length));
    return wbformat::isSafeEntryName(view.data(), view.size());
}

bool replayFileEntry(EntryWalk& walk)
{
    unsigned char sizeBytes[4];
    if (readPackageBytes(sizeBytes, sizeof sizeBytes) != sizeof sizeBytes) return false;
    std::uint32_t size = littleEndian32(sizeBytes);
    std::uint32_t length = 0;
    char* name = readCountedString(&length);
    if (!name) return false;
    if (!isSafeName(name, length)) {
        std::free(name);
        return false;
    }
    std::string path = walk.runningPath + name;
    ExtractResult result = {false, false, false};
    if (isSkipping(walk)) {
        fillFile(nullptr, size, result);
        noteInstallFailure(path.c_str());
    } else {
        // The uninstaller itself is never logged.
        bool isUninstaller = std::strcmp(name, wbformat::kUninstallerName) == 0;
        result = extractFile(size, name, isUninstaller ? nullptr : walk.runningPath.c_str());
        if (!result.created || result.writeFailed) noteInstallFailure(path.c_str());
        if (isUninstaller && walk.depth == 0 && result.created && !result.writeFailed && !result.streamBroken) {
            walk.uninstallerExtracted = true;
        }
    }
    std::free(name);
    return !result.streamBroken;
}

bool replayEnterEntry(EntryWalk& walk)
{
    std::uint32_t length = 0;
    char* name = readCountedString(&length);
    if (!name) return false;
    if (!isSafeName(name, length)) {
        std::free(name);
        return false;
    }
    if (isSkipping(walk)) {
        noteInstallFailure((walk.runningPath + name).c_str());
    } else {
        bool made = _mkdir(name) == 0;
        bool entered = _chdir(name) == 0;
        // An existing directory that is entered is logged as if it had been made; one that
        // was made but cannot be entered is still ours to remove.
        if (made || entered) logUninstallRecord(wbformat::kLogDirectory, walk.runningPath.c_str(), name);
        if (!entered) {
            noteInstallFailure((walk.runningPath + name).c_str());
            walk.skipFrom = walk.depth + 1;
        }
    }
    walk.depth += 1;
    walk.runningPath += name;
    walk.runningPath += '\\';
    std::free(name);
    return true;
}

bool replayLeaveEntry(EntryWalk& walk)
{
    // Leaving the install directory would take the following entries outside it.
    if (walk.depth == 0) return false;
    bool wasSkipping = isSkipping(walk);
    walk.depth -= 1;
    leaveRunningPath(walk.runningPath);
    if (!wasSkipping) {
        _chdir("..");
    } else if (walk.depth < walk.skipFrom) {
        walk.skipFrom = kNotSkipping;  // left the directory that was never entered
    }
    return true;
}

// Replays entries until the stream ends. The stream has no end marker: it ends where the
// bzip2 stream does. A read that fails or falls short, a name that is not one plain
// component, or a leave at the top marks the package damaged and stops at once.
void replayEntries(EntryWalk& walk)
{
    for (;;) {
        // The last read already reached the end; reading on would only report a misuse.
        if (installerState.readError == BZ_STREAM_END) return;
        unsigned char tag = 0;
        std::uint32_t got = readPackageBytes(&tag, 1);
        if (installerState.readError != BZ_OK) {
            // A tag that arrives with the end of the stream is acted upon only when it
            // needs no fields: a file or directory entry without its fields is cut short.
            // A leave at the install directory is damage wherever it stands.
            bool cutShort = got == 1 && (tag == wbformat::kTagFile || tag == wbformat::kTagEnterDir);
            bool leavesHome = got == 1 && tag == wbformat::kTagLeaveDir && walk.depth == 0;
            if (installerState.readError != BZ_STREAM_END || cutShort || leavesHome) walk.damaged = true;
            return;
        }
        bool sound = true;
        if (tag == wbformat::kTagFile) {
            sound = replayFileEntry(walk);
        } else if (tag == wbformat::kTagEnterDir) {
            sound = replayEnterEntry(walk);
        } else if (tag == wbformat::kTagLeaveDir) {
            sound = replayLeaveEntry(walk);
        }
        // Any other tag carries no fields and is passed over.
        if (!sound) {
            walk.damaged = true;
            return;
        }
        tendInstallation();
    }
}

void reportInstallFailures()
{
    if (installerState.failedCount == 0) return;
    std::string text = "Some files could not be installed (" + decimalText(installerState.failedCount) +
                       " in all). The first was:\n\n" + installerState.firstFailedPath;
    showSetupMessage(text.c_str(), MB_ICONWARNING);
}

}  // namespace

ExtractResult extractFile(std::uint32_t size, const char* name, const char* logPrefix)
{
    ExtractResult result = {false, false, false};
    FILE* out = std::fopen(name, "wb");
    result.created = out != nullptr;
    // A file the installer did not create must never reach the log: the uninstaller would
    // delete whatever stands there. One it created is logged at once, so that a log written
    // while its data still arrives names it.
    if (result.created && logPrefix) logUninstallRecord(wbformat::kLogFile, logPrefix, name);
    fillFile(out, size, result);
    return result;
}

void runInstallation()
{
    InstallerState& s = installerState;
    InstallWalk plan = planInstallWalk(fullInstallDir(s.installDir));
    setInstallDir(plan.reached);
    readEarlierUninstallLog(shortcutFolders());
    logUninstallRecord(wbformat::kLogInstallRoot, "", s.installDir);
    // installDir loses its trailing backslash at the end; the directory is entered and the
    // log written with it, which for a drive's root names the root and not the drive's
    // current directory.
    std::string homeWithBackslash = s.installDir;
    std::string home = homeWithBackslash.substr(0, homeWithBackslash.size() - 1);

    if (!enterInstallDir(plan)) {
        // Nothing is put in place: no files, no links to a folder that is not there, no
        // entry in the list of installed programs.
        s.installDir[home.size()] = '\0';
        discardQueuedInput();
        s.installStopped = 1;
        std::string text = "The install folder `" + home + "' cannot be created.\n\nNothing has been installed.";
        showSetupMessage(text.c_str(), MB_ICONERROR);
        return;
    }

    EntryWalk walk = {s.installDir, 0, kNotSkipping, false, false};
    s.queueLookedAt = GetTickCount();
    s.logWrittenAt = s.queueLookedAt;
    replayEntries(walk);
    if (!walk.damaged) createShortcuts();
    discardQueuedInput();

    s.installDir[home.size()] = '\0';
    _chdir(homeWithBackslash.c_str());
    std::string logPath = homeWithBackslash + wbformat::kUninstallLogName;
    bool logWritten = writeUninstallLog(logPath.c_str());
    if (!logWritten) noteInstallFailure(logPath.c_str());

    if (walk.damaged) {
        // Whatever was written stays logged so that it can be removed, but a package that
        // broke off is no completed installation.
        s.packageDamaged = 1;
        s.installStopped = 1;
        showSetupMessage("Data error", MB_ICONERROR);
        return;
    }
    // The entry points at the uninstaller, which removes nothing without its log.
    if (walk.uninstallerExtracted && logWritten) {
        std::string command = "\"" + home + "\\" + wbformat::kUninstallerName + "\"";
        registerUninstaller(s.perUser != 0, s.productName, command.c_str(), s.webAddress, s.publisher);
    }
    reportInstallFailures();
    EnableWindow(s.installButton, TRUE);
    SetWindowTextA(s.installButton, "Completed");
    s.installDone = 1;
}
