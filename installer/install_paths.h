// The texts of the paths the installation engine works with: the install directory and the
// running path. Text work only, no file system, so the host's tests reach it.
#pragma once

#include <string>

// True when the install directory names its drive (C:\Tools\App); anything else is taken
// below the current directory, as the walk into the install directory would build it.
bool isAbsoluteInstallDir(const std::string& installDir);

// The install directory as the engine uses it: absolute (a relative one is joined to
// currentDir with exactly one backslash between them) and ending with a backslash.
std::string preparedInstallDir(const std::string& installDir, const std::string& currentDir);

// Leaves one directory: drops the running path's final backslash and the component before
// it, so C:\A\d\e\ becomes C:\A\d\.
void leaveRunningPath(std::string& runningPath);
