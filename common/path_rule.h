// The one rule for the paths and names that the builder checks, the installer writes into
// the uninstall log and the uninstaller reads back: how a path is split into characters and
// parts, how two paths are compared, which shell folders shortcuts may lie in, and where a
// logged item's removal is judged from. Three programs that each kept their own copy of
// these rules drifted apart at the edges and left installations nobody could remove.
// Plain C++ without Windows headers (lead bytes come from code_page_bytes*.cpp), so the
// host's tests reach it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// ---- Characters ------------------------------------------------------------------------

// The code page the paths' bytes are in. In a double-byte code page (932, 936, 949, 950)
// the second byte of a character can be 0x5C, the backslash, or an ASCII letter: every walk
// over a path goes character by character. 0 is the system's own code page on Windows and
// a single-byte one on the host.
void setPathCodePage(unsigned codePage);
unsigned pathCodePage();

// True when byte begins a two-byte character in codePage (0: the current path code page).
bool isLeadByte(unsigned codePage, unsigned char byte);

// The bytes of the character at text[at]: 2 for a lead byte with its trail, else 1.
std::size_t characterLength(const std::string& text, std::size_t at);

// A backslash or slash that is a character of its own, not the second byte of one.
bool isSeparatorAt(const std::string& text, std::size_t at);

// The name with each two-byte character replaced by "_", so that byte-wise rules (no
// separator, no trailing dot or blank, no device name, none of <>"|?*) judge its
// single-byte characters only: "\x83\x5C" is one Japanese character, not a backslash.
std::string singleByteView(const std::string& name);

// The position of the last separator, or npos.
std::size_t lastSeparator(const std::string& text);

// ---- Comparing -------------------------------------------------------------------------

// The form in which Windows' file systems compare two paths as far as this program can
// know it without asking them: single-byte ASCII letters in lower case, backslashes only,
// no trailing separator ("C:\" and "C:" both become "c:"). Other characters stay as they
// are, so a name that differs in another letter's case counts as another name, which
// refuses or keeps too much, never deletes too much.
std::string comparablePath(const std::string& path);
// "C:\", "C:", "\\server\share" and "\\server\share\" name their roots too.
bool isSamePath(const std::string& a, const std::string& b);
// True when path is folder or lies below it.
bool isPathAtOrBelow(const std::string& path, const std::string& folder);

// ---- Parts -----------------------------------------------------------------------------

// A drive letter, a colon and a separator, or a network path (\\server\share\...).
bool isFullPath(const std::string& path);
// The root a full path starts from: "C:\" or "\\server\share"; empty for any other path.
std::string pathRoot(const std::string& path);
// True for "C:", "C:\", "\\server\share" and the same with trailing separators.
bool isPathRoot(const std::string& path);
// The folder holding a file, as the uninstaller names its own: "C:\A" for "C:\A\x", and
// "C:\" (the root, not "C:", which is the drive's current folder) for "C:\x".
std::string folderHolding(const std::string& filePath);

// A part without the trailing blanks and dots that Windows drops when it creates a file or
// folder ("Tool " and "Tool..." make "Tool"; "..." makes nothing).
std::string trimmedPart(const std::string& part);
// The first part of path (split at separators) that Windows would create under another
// name: one ending in a blank or a dot, other than the "." and ".." that name folders.
// Empty when there is none.
std::string firstTrimmedPart(const std::string& path);

// The first part of path that Windows opens as a device (CON, nul.txt, ...); empty when none.
std::string firstDevicePart(const std::string& path);

// What makes a log record's path one the uninstaller would refuse, as a phrase that
// follows "it" ("holds a path with a `.' or `..' part: `C:\A\..'"); empty when it is
// sound. Only a shortcut folder record (type 4) may be empty.
std::string logPathProblem(int type, const std::string& path);

// A file whose name ends in ".lnk", in any case: a shell link.
bool isLinkFile(const std::string& path);

// ---- Run commands ----------------------------------------------------------------------

// A program named by its full path, as Windows starts it: a full path, or one that begins
// with two separators (a network path, however the rest of it reads).
bool isFullProgramPath(const std::string& path);

// The run command as it is started from the install folder `folder`: a program named by
// its full path (quoted, or up to the first blank or tab) stays as it is; any other name
// is the install folder's program, so it becomes that file's full path, quoted, and
// Windows never looks for it first in the installer's own folder (a download folder,
// where anyone may have left a file of that name) or along PATH. The arguments follow as
// they were given.
std::string runCommandInFolder(const std::string& command, const std::string& folder);

// ---- Shell folders ---------------------------------------------------------------------

// The shell folders that shortcut records may lie in, of the candidates read from Windows:
// each a full path that is not a drive root and holds none of systemFolders (the Windows
// folder, the system folder, the Program Files folders). A user can point their own shell
// folders anywhere; a start-up folder moved to C:\ would otherwise put every file of the
// drive in an elevated uninstaller's reach.
bool isAcceptableShortcutRoot(const std::string& root, const std::vector<std::string>& systemFolders);
std::vector<std::string> acceptableShortcutRoots(const std::vector<std::string>& candidates,
                                                 const std::vector<std::string>& systemFolders);

// The folder record the installer logs for a link whose folder is linkFolder: the folder
// itself when it lies in the install folder or a shortcut root, or when the installer has
// just created it; otherwise nothing (an empty record), because a folder somewhere else
// that was there before is not the installer's to remove.
std::string linkFolderToLog(const std::string& linkFolder, bool created, const std::string& installRoot,
                            const std::vector<std::string>& shortcutRoots);
