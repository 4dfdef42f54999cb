// How the uninstaller removes its own program and log, which it cannot delete while it
// runs.
//
// At the end it copies itself into the temporary folder, opens that copy with "delete on
// close" in a handle the copy inherits, and starts it with an inherited handle to itself
// and a clean-up request (uninstall_plan.h). The copy waits on that handle until the
// original has ended, deletes the uninstaller, then the log beside it, then that folder
// when asked and empty, and ends. Windows deletes the copy's file when its last handle
// closes, which is when the copy's process has gone. Should the delete-on-close open fail,
// the copy is marked for deletion at the next restart instead.
#pragma once

#include <string>

#include "uninstaller/uninstall_plan.h"

// Starts the clean-up copy for the uninstaller at uninstallerPath. False when it could not
// be started; then nothing of the uninstaller's own has been touched.
bool startCleanupCopy(const std::string& uninstallerPath, bool removeFolder);

// The copy's whole work; its exit code (0, or 1 when the uninstaller stayed).
int runCleanup(const CleanupRequest& request);
