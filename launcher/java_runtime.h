// Finding a registered Java runtime and starting its virtual machine.
#pragma once

// Finds a runtime and starts its virtual machine with the launch settings: the runtime
// folder named in the configuration; else the last registered runtime of the classic list,
// in the registry's order, whose version is at least the required one; else, only then,
// the newest suitable runtime of the other registry keys and views, the JAVA_HOME-style
// variables and the PATH. Returns only when the virtual machine runs; when nothing can be
// started, the download offer gives the classic list's reason and ends the process.
void startJava();

// True when path can be opened for reading.
bool fileExists(const char* path);
