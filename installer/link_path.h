// How a shortcut's link path becomes a file name: the shell folder macros and the limits a
// link path must keep. Plain text work only, so the host's tests and sanitizers reach it.
#pragma once

#include <cstddef>
#include <string>

// The folders a link path may name, each by a "$" and one case-sensitive letter.
enum ShellFolder {
    kDesktopFolder,     // $D
    kProgramsFolder,    // $P
    kStartMenuFolder,   // $S
    kStartupFolder,     // $s
    kShellFolderCount
};

// The longest expansion kept; longer ones are refused rather than cut, since a cut path
// would name some other file.
constexpr std::size_t kMaxExpandedLinkPath = 4095;
// The longest link path that can be saved: the link object takes it as at most
// MAX_PATH UTF-16 units with the terminator, and no ANSI byte yields more than one unit.
constexpr std::size_t kMaxSavedLinkPath = 259;

// The folder a macro letter names, or -1 when the letter is no macro.
int shellFolderOfMacro(char letter);
// The Shell Folders registry value that holds a folder's path.
const char* shellFolderValueName(int folder);

// One bit (1 << folder) for each folder that the link path's macros name, so that only
// those values are looked up.
unsigned linkPathFolders(const char* linkPath);

// Expands the link path with the given folder texts (an unreadable folder is an empty
// text). A "$" before an unknown letter is dropped with that letter; the character right
// after a macro is copied without being taken for a macro; a lone "$" at the end ends the
// expansion. False, with `expanded` cleared, when the result would exceed
// kMaxExpandedLinkPath characters.
bool expandLinkPathText(const char* linkPath, const std::string (&folders)[kShellFolderCount],
                        std::string& expanded);

// True for a path that a shortcut can be saved at: a drive letter, a colon and a
// separator at its start, and at most kMaxSavedLinkPath characters.
bool isSavableLinkPath(const std::string& path);
