// The uninstaller's one process-wide record: where it runs from, what the log names, the
// registration it found, and what could not be removed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/uninstall_log.h"
#include "uninstaller/uninstall_plan.h"

// One entry of the list of installed programs that starts this uninstaller.
struct UninstallEntry {
    HKEY root;
    std::string keyName;
    std::string displayName;
};

struct UninstallerState {
    std::string ownPath;       // this program, as Windows started it
    std::string ownFolder;     // the install directory, normally
    std::string logPath;
    std::vector<LogEntry> log;
    RemovalPlan plan;
    std::vector<UninstallEntry> entries;
    std::string productName;   // the first entry's DisplayName; empty when none
    std::vector<std::string> shortcutRoots;  // the shell folders, as read before removing
    std::vector<std::string> failures;
    // Items not touched because a junction or symbolic link lies on the way to them.
    std::vector<std::string> linked;
    // Everything else went, but the copy that removes the uninstaller could not be started.
    bool selfKept = false;
};

extern UninstallerState uninstallerState;
