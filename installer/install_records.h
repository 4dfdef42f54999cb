// What the installation keeps account of while it runs: the uninstall log's records and
// the items that could not be installed. The engine and the shortcut phase both report
// here, so neither needs the other.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Pushes a record (type, prefix followed by name) onto the head of the uninstall log.
void logUninstallRecord(int type, const char* prefix, const char* name);

// Reads the log that an earlier installation left in installDir (which ends with a
// backslash) into earlierLog, when the uninstaller would accept it and its root is
// installDir. shortcutRoots: the shell folders the installer puts shortcuts in, a part of
// those the uninstaller accepts shortcut records in. Anything else (no log, a damaged one,
// another folder's) is passed over without a word: the new log is then the new
// installation's alone.
void readEarlierUninstallLog(const std::vector<std::string>& shortcutRoots);

// Writes the uninstall log to path, newest record first, the install root last: the
// records so far while the installation runs, all of them at its end, and before the root
// the earlier installation's records that this one did not log again. The bytes go to a
// temporary file beside path that is then moved over it, so that a process ended part-way
// leaves the previous log or the new one, never half of one; the bytes reach the disk
// before the move, and the move is made on the disk before it returns. A log larger than
// the uninstaller reads is written without the earlier records, or not at all (the new
// records alone too large). False when the log could not be written completely; path then
// keeps what it held.
bool writeUninstallLog(const char* path);

// A process ended part-way leaves the log of at most this long ago.
constexpr unsigned long kLogRewritePeriodMs = 1000;

// Rewrites the log in the install directory when kLogRewritePeriodMs have passed since it
// was last written: called as the entries are replayed and as the links are made.
void keepLogCurrent();

// Counts an item that could not be installed and remembers the first one's path, for the
// warning shown after the shortcut phase.
void noteInstallFailure(const char* path);

// A new allocation holding first followed by second; null when memory runs out.
char* joinText(const char* first, const char* second);

// Closes a file that was written, true when everything reached it. The flush is asked for
// separately: some C runtimes' fclose reports success although its final flush failed.
bool closeWrittenFile(FILE* file);
