// How the uninstaller removes its own program and log, which it cannot delete while it
// runs.
//
// At the end it copies itself into a new folder of its own in the temporary folder, opens
// that copy with "delete on close" in a handle that forbids anyone else to write, rename
// or delete it, and starts it from its path, with that handle and one to the original
// process inherited, and a clean-up request (uninstall_plan.h). Once the copy runs, the
// uninstaller moves the copy's file through its handle out of the new folder and removes
// the folder. The copy waits on its handle to the original until that has ended, deletes
// the uninstaller, then the log beside it, then that folder when asked and empty, and
// ends. Windows deletes the copy's file when its last handle closes, which is when the
// copy's process has gone.
//
// Run elevated, the uninstaller gives the new folder an access list that lets only SYSTEM
// and the Administrators in: the user's own unelevated programs can write the temporary
// folder, and one of them must not be able to replace the copy before it is started.
#pragma once

#include <windows.h>

#include <string>

#include "uninstaller/uninstall_plan.h"

// Where the copy's folder goes: run elevated, %SystemRoot%\Temp\ (a user's own TEMP is
// one its unelevated programs can rename entries in, or move through HKCU\Environment);
// otherwise the user's temporary folder. With its trailing backslash; empty when unknown.
std::string copyFolderBase();

// Makes a new folder for the copy below `base` (given with its trailing backslash): "wbu"
// and 16 hexadecimal digits from the system's random source, and, run elevated, an access
// list for SYSTEM and the Administrators alone from its creation. Empty when none could
// be made.
std::string createCopyFolder(const std::string& base);

// Opens the copy written at copyPath so that it can be started and not replaced: sharing
// only reading, "delete on close", inheritable, holding exactly program's bytes, and at
// copyPath as Windows names the open file. The handle, or INVALID_HANDLE_VALUE; then the
// file found at copyPath, if any, is gone: it was not the copy to start.
HANDLE openCopyToStart(const std::string& copyPath, const std::string& program);

// Starts the clean-up copy for the uninstaller at uninstallerPath. False when any step
// failed; then no copy runs, and nothing of the copy or its folder is left.
bool startCleanupCopy(const std::string& uninstallerPath, bool removeFolder);

// The copy's whole work; its exit code (0, or 1 when the uninstaller stayed).
int runCleanup(const CleanupRequest& request);
