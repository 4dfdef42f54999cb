// The installer's one process-wide record. Every part of the installer reads and writes
// these fields directly; texts read from the package live until the process ends.
#pragma once

#include <windows.h>

#include <bzlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/package_format.h"
#include "common/uninstall_log.h"

struct ShortcutRecord {
    char* linkPath;
    char* target;
    char* workingDir;
    char* arguments;
    char* description;
};

// One entry of the uninstall log; the list is newest first.
struct LogRecord {
    int type;
    char* path;
    LogRecord* next;
};

struct InstallerState {
    // The package header.
    char* productName;
    char* installDir;
    char* runCommand;
    char* webAddress;
    char* publisher;
    char* licenceText;

    std::uint32_t packageTotal;
    std::uint32_t progressTotal;
    std::uint32_t bytesWritten;

    std::int32_t shortcutCount;
    ShortcutRecord shortcuts[wbformat::kMaxShortcuts];

    int installDone;

    HANDLE packageFile;  // the installer's own file, held from the start (holdOwnFile)
    BZFILE* packageReader;
    int readError;

    HWND mainWindow;
    HWND installButton;
    HWND licenceWindow;
    HWND agreeButton;
    HWND disagreeButton;

    HFONT uiFont;
    HFONT licenceFont;

    LogRecord* uninstallLog;
    // The records an earlier installation into the same folder logged, of items still
    // there, in their log's order and without its root: every write of the log carries
    // those that this installation does not log itself, so an update stays removable whole.
    // Null when there are none.
    std::vector<LogEntry>* earlierLog;

    // What went wrong during the installation, for the warning after it: how many items
    // could not be installed, the path of the first, and whether the package itself was
    // damaged (which ends the installation early).
    unsigned failedCount;
    char* firstFailedPath;
    int packageDamaged;

    // The engine runs once: set when Install starts it, whatever happens after. Stopped:
    // it ended without completing (a damaged package, an install folder it could not
    // enter), which it has reported; the dialogue then ends with exit status 1.
    int installStarted;
    int installStopped;

    // GetTickCount when the engine last looked at its message queue and last wrote the
    // uninstall log, so that both happen at their pace and cost one clock read otherwise.
    DWORD queueLookedAt;
    DWORD logWrittenAt;

    // A per-user package (its install directory began with $L): it registers for this user
    // only. The user's local application data folder, looked up once a text needs it.
    int perUser;
    char localAppData[MAX_PATH];
};

extern InstallerState installerState;
