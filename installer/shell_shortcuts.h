// The shortcut phase of the installation: shell links on the desktop and in the menus.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Every Shell Folders lookup reads into this one buffer; its text is valid only until the
// next lookup.
constexpr std::size_t kShellFolderBufferSize = 16384;
extern char shellFolderBuffer[kShellFolderBufferSize];

// Creates every shortcut of the package, in table order. Each one that is made logs its
// folder and then its link file; one whose link path cannot be made into a usable file
// name is left out and counted as a failed item. Needs COM on the calling thread.
void createShortcuts();

// The link path with its shell folder macros replaced by the current user's folders.
// False when the expansion outgrows its limit.
bool expandLinkPath(const char* linkPath, std::string& expanded);

// The desktop, programs menu, start menu and start-up folder that the macros name (empty
// when unreadable): the folders the installer's shortcut records may lie below.
std::vector<std::string> shortcutFolders();

// The current user's local application data folder, which the per-user macro $L names;
// null when it cannot be found. Looked up once.
const char* localAppDataFolder();

// The named value of the current user's Shell Folders key, in shellFolderBuffer; an empty
// text when the key or the value cannot be read.
const char* readShellFolder(const char* valueName);

// Creates one shell link at linkPath (an absolute path with a drive letter), with the
// link's folder created first and the folder and the link file logged for the uninstaller.
void createShellLink(const char* target, const char* linkPath, const char* workingDir,
                     const char* arguments, const char* description);

// Creates the folders that linkPath's file needs, from its drive's root down, stopping at
// the first one it cannot enter, and logs the link's folder. The current directory is the
// same afterwards.
void createLinkFolder(const char* linkPath);
