// Administrator rights for the uninstaller. It runs as the user who starts it; what a
// machine-wide installation left (files only administrators may delete, an entry in the
// machine's list of installed programs) needs those rights, which it then asks for by
// starting itself again through Windows' consent prompt.
#pragma once

#include <string>
#include <vector>

#include "uninstaller/uninstaller_state.h"

// True when this process lacks rights that removing the installation needs: the log (and
// so the install folder's files) cannot be deleted, or an entry below the machine's root
// cannot be changed. Never true for a process that already runs elevated, nor before
// Windows Vista, which has no such prompt.
bool needsAdministrator(const std::string& logPath, const std::vector<UninstallEntry>& entries);

// Starts this program again with administrator rights, waits for it and returns its exit
// status. When the user declines, or it cannot be started, it says so (nothing has been
// removed) and returns 1.
int runAsAdministrator(const std::string& ownPath, const std::string& productName);
