// The shell folders that shortcut records may lie in, read once the same way by the
// uninstaller (which judges a log by them) and by the installer (which reads an earlier
// installation's log by them before it installs over it): if the two read different
// folders, an update would drop a log the uninstaller would have accepted.
#pragma once

#include <string>
#include <vector>

// The user's and all users' desktop, programs menu, start menu and start-up folder, as
// SHGetFolderPathA gives them now, without those that isAcceptableShortcutRoot refuses.
std::vector<std::string> readShortcutRoots();

// The folders no shortcut root may hold: the Windows folder, the system folders and the
// Program Files folders.
std::vector<std::string> readSystemFolders();
