// The installation engine: replays the package's entry stream below the install
// directory, has the shortcuts made, and writes the uninstall log __uninst.dat.
#pragma once

#include <cstdint>

// Runs the whole installation, once, inside the Install button's command. installDir
// becomes the full path of the folder the walk reaches, which on return has no trailing
// backslash and is the current directory. A sound package ends with the button reading
// "Completed" and installDone set. A damaged one ends early with packageDamaged and
// installStopped set, after the "Data error" box; an install folder that cannot be entered
// ends it with installStopped set, after a box that names the folder, with nothing
// installed.
void runInstallation();

// What became of one file entry.
struct ExtractResult {
    bool created;       // the file was opened for writing (and so exists now)
    bool writeFailed;   // a write or the closing flush failed
    bool streamBroken;  // its data did not arrive whole: the package is damaged
};

// Creates the file name in the current directory and fills it with the next size bytes of
// the package, in chunks of at most 32768 bytes with a progress redraw after each. The
// data is consumed even when the file cannot be created or written, so that the entries
// after it stay in step; only bytes the decompressor delivered are ever written. With a
// logPrefix, a file that was created is logged (logPrefix followed by name) before its data.
ExtractResult extractFile(std::uint32_t size, const char* name, const char* logPrefix);
