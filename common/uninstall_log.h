// The uninstall log __uninst.dat that the installer leaves in the install directory and the
// uninstaller reads: records one after another, newest first, each a type byte, a 16-bit
// little-endian path length and the path bytes, with no header, count or trailer. Plain
// C++ without Windows headers, so the host tests and sanitizers reach it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/path_rule.h"

struct LogEntry {
    int type;          // 0 file, 1 directory, 3 install root, 4 shortcut folder
    std::string path;
};

// Appends one record: the low byte of the type, the path's length as 16-bit little-endian,
// the path's bytes without terminator. A path longer than 65535 bytes cannot be described
// by the length field; it appends nothing and returns false, since a cut length would make
// the uninstaller misread every record after it.
bool appendLogRecordBytes(std::string& out, int type, const char* path);

// A log larger than this is not one the installer wrote (it would name millions of
// files); refusing it keeps a stray file from being read into memory.
constexpr std::size_t kMaxUninstallLogSize = 64u * 1024u * 1024u;

// Parses a whole log into entries in file order. The log is accepted only when every
// record is complete and sound, because removing part of what a damaged log names could
// delete the wrong things; otherwise entries is left empty, problem says what is wrong
// (a phrase that follows "it", such as "ends in the middle of a record"), and the result
// is false.
//
// Sound means: types 0, 1, 3 and 4 only; paths without zero bytes, fully qualified (a
// drive letter, colon and separator, or a network path) and without "." or ".." parts;
// only a shortcut folder record may have an empty path (a link placed directly in a drive
// root logs one); and exactly one install root record, the last, since the installer
// pushes it first. A log cut at a record boundary is caught by that last rule.
// Sound also means: no path begins with \\?\ or \\.\, holds a colon after its drive (an
// alternate data stream) or has a component that is a device name (CON, NUL.txt, ...).
bool parseUninstallLog(const std::string& bytes, std::vector<LogEntry>& entries, std::string& problem);

// The same, and then checkLogScope: the reader for a log whose records will be deleted.
bool parseUninstallLog(const std::string& bytes, const std::vector<std::string>& shortcutRoots,
                       std::vector<LogEntry>& entries, std::string& problem);

// A log may name only what the installer could have made: every record lies below the
// install root (the last record), except the records of shortcuts (a link file and its
// folder), which may instead lie in or below one of shortcutRoots, the shell folders that
// shortcuts go to (desktop, programs menu, start menu, start-up folder, each the user's
// and all users'). A package may put a link anywhere, so a file record of a link (a name
// ending in ".lnk") is accepted wherever it lies, and so is its folder's record right
// after it, which the installer logs only for a folder it created. A log that names
// anything else was not written by the installer for this folder, and deleting what it
// names could delete anything. False with problem (a phrase that follows "it") for the
// first record outside; entries as parsed.
bool checkLogScope(const std::vector<LogEntry>& entries, const std::vector<std::string>& shortcutRoots,
                   std::string& problem);

// The folder a record lies in for checkLogScope: the install root, or the deepest shortcut
// root that holds it, or for a link elsewhere its drive's (or share's) root; empty when
// there is none. Nothing between it and the record may be a link when the record is
// removed.
std::string logScopeOf(const LogEntry& entry, const std::string& installRoot,
                       const std::vector<std::string>& shortcutRoots);

// Reads a whole log file, refusing one larger than the limit above. False when it cannot
// be opened or read to its end.
bool readUninstallLogFile(const std::string& path, std::string& bytes);

// Installing over an earlier installation: its log's records are carried into the new log,
// so that the uninstaller still removes what only the earlier version had.
//
// Paths are compared as Windows compares file names: ASCII letters without case, either
// separator, trailing separators ignored.
//
// The earlier records worth carrying into a log whose root is newRoot: none when the
// earlier log's root names another folder; otherwise every record but the root, in the
// earlier order, of an item that `exists` still finds (a file record a file, a folder
// record a folder). The check is made once, before the new installation writes anything.
std::vector<LogEntry> earlierRecordsToKeep(const std::vector<LogEntry>& earlier, const std::string& newRoot,
                                           bool (*exists)(const LogEntry& entry));

// The records of the log to write: the new ones as they stand (newest first, the root
// last), with each kept earlier record whose path is not among the new ones put before the
// root. Unchanged when nothing is kept.
std::vector<LogEntry> mergedUninstallLog(const std::vector<LogEntry>& fresh, const std::vector<LogEntry>& kept);

// A number in decimal digits. std::to_string would bring the C runtime's whole formatted
// printing into the program for these few digits.
std::string decimalText(unsigned long value);
