#include "installer/install_engine.h"

#include <windows.h>

#include <direct.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

std::string currentDirectory()
{
    char* cwd = _getcwd(nullptr, 0);
    std::string dir = cwd ? cwd : "";
    std::free(cwd);
    return dir;
}

bool isSkipping(const EntryWalk& walk)
{
    return walk.depth >= walk.skipFrom;
}

// Makes installDir absolute and gives it its trailing backslash. A relative one is fixed
// against the current directory now, where the walk would build it anyway, so that the
// log, the notice and the run command all name the folder that was really used.
void prepareInstallDir()
{
    std::string current;
    if (!isAbsoluteInstallDir(installerState.installDir)) current = currentDirectory();
    std::string dir = preparedInstallDir(installerState.installDir, current);
    if (dir == installerState.installDir) return;
    char* text = joinText(dir.c_str(), "");
    if (!text) return;
    std::free(installerState.installDir);
    installerState.installDir = text;
}

// One component of the install directory: a drive switches to that drive's root, any
// other name is entered, and created first when it does not exist.
bool enterWalkComponent(const std::string& component)
{
    if (component.back() == ':') return _chdir((component.substr(0, 2) + "\\").c_str()) == 0;
    if (_chdir(component.c_str()) == 0) return true;
    _mkdir(component.c_str());
    return _chdir(component.c_str()) == 0;
}

// Walks from the first component of installDir to its last, creating what is missing.
// Stops at the first component it cannot enter: going on would create the rest of the
// path, and then the files, in whatever directory it was left in.
bool enterInstallDir()
{
    std::string component;
    for (const char* p = installerState.installDir; *p; ++p) {
        if (*p != '\\') {
            component += *p;
            continue;
        }
        if (!component.empty() && !enterWalkComponent(component)) return false;
        component.clear();
    }
    return true;
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
        if (got != chunk) {
            result.streamBroken = true;
            return;
        }
    }
}

bool replayFileEntry(EntryWalk& walk)
{
    unsigned char sizeBytes[4];
    if (readPackageBytes(sizeBytes, sizeof sizeBytes) != sizeof sizeBytes) return false;
    std::uint32_t size = littleEndian32(sizeBytes);
    char* name = readCountedString();
    if (!name) return false;
    if (!wbformat::isSafeEntryName(name, std::strlen(name))) {
        std::free(name);
        return false;
    }
    std::string path = walk.runningPath + name;
    ExtractResult result = {false, false, false};
    if (isSkipping(walk)) {
        copyFileData(nullptr, size, result);
        noteInstallFailure(path.c_str());
    } else {
        result = extractFile(size, name);
        bool isUninstaller = std::strcmp(name, wbformat::kUninstallerName) == 0;
        // A file the installer did not create must never reach the log: the uninstaller
        // would delete whatever stands there. The uninstaller itself is never logged.
        if (result.created && !isUninstaller) {
            logUninstallRecord(wbformat::kLogFile, walk.runningPath.c_str(), name);
        }
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
    char* name = readCountedString();
    if (!name) return false;
    if (!wbformat::isSafeEntryName(name, std::strlen(name))) {
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
            bool cutShort = got == 1 && (tag == wbformat::kTagFile || tag == wbformat::kTagEnterDir);
            if (installerState.readError != BZ_STREAM_END || cutShort) walk.damaged = true;
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

ExtractResult extractFile(std::uint32_t size, const char* name)
{
    ExtractResult result = {false, false, false};
    FILE* out = std::fopen(name, "wb");
    result.created = out != nullptr;
    copyFileData(out, size, result);
    if (out && !closeWrittenFile(out)) result.writeFailed = true;
    return result;
}

void runInstallation()
{
    InstallerState& s = installerState;
    prepareInstallDir();
    logUninstallRecord(wbformat::kLogInstallRoot, "", s.installDir);

    EntryWalk walk = {s.installDir, 0, kNotSkipping, false, false};
    std::string home = s.installDir;
    home.pop_back();
    if (!enterInstallDir()) {
        // Nothing can be put in place; the stream is still read through, so that a damaged
        // package is told apart and the progress bar reaches its end.
        noteInstallFailure(home.c_str());
        walk.skipFrom = 0;
    }
    replayEntries(walk);

    if (!walk.damaged) createShortcuts();

    // installDir loses its trailing backslash; the directory is entered with it, which
    // for a drive's root names the root and not the drive's current directory.
    std::string homeWithBackslash = s.installDir;
    s.installDir[std::strlen(s.installDir) - 1] = '\0';
    bool atHome = _chdir(homeWithBackslash.c_str()) == 0;
    if (!atHome || !writeUninstallLog(wbformat::kUninstallLogName)) {
        noteInstallFailure((home + "\\" + wbformat::kUninstallLogName).c_str());
    }

    if (walk.damaged) {
        // Whatever was written stays logged so that it can be removed, but a package that
        // broke off is no completed installation.
        s.packageDamaged = 1;
        showSetupMessage("Data error", MB_ICONERROR);
        return;
    }
    if (walk.uninstallerExtracted) {
        std::string command = "\"" + home + "\\" + wbformat::kUninstallerName + "\"";
        registerUninstaller(s.productName, command.c_str(), s.webAddress, s.publisher);
    }
    reportInstallFailures();
    EnableWindow(s.installButton, TRUE);
    SetWindowTextA(s.installButton, "Completed");
    s.installDone = 1;
}
