// Where the Windows programs may load DLLs from. An installer is often started from a
// Downloads folder, and often elevated: a DLL that someone put beside it under the name of
// one that Windows loads on demand would run with the installer's rights. Windows only.
#pragma once

#include <windows.h>

// Restricts every later DLL search of the process to the system folder, and takes the
// current directory out of it. Called first thing at each program's entry, before anything
// can load a DLL. Where SetDefaultDllDirectories is missing (Windows before 8 without its
// update), only the current directory goes.
void restrictDllSearch();

// Loads the common controls that the program's manifest depends on (version 6, themed),
// after restrictDllSearch. Windows Vista and later load them for the first control of a
// themed class anyway; loaded here, every control and box of the program is the themed
// one wherever the manifest is honoured.
void loadThemedControls();

// Loads a system DLL by its full path in the system folder; nullptr when that fails.
HMODULE loadSystemLibrary(const char* name);
