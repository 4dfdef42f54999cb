// The texts of the paths the installation engine works with: the install directory and the
// running path. Text work only, no file system, so the host's tests reach it.
#pragma once

#include <string>
#include <vector>

// One step of the walk into the install directory: a root to change to (a drive's "Q:\" or
// a share's "\\server\share\"), which cannot be created, or a folder name to enter, created
// first when it is missing.
struct WalkStep {
    bool root;
    std::string text;
};

// The walk into an install directory that is already a full path. `reached` is the folder
// the walk ends in, with a trailing backslash: the install directory from then on, which
// every logged path, the notice and the registration name.
struct InstallWalk {
    std::vector<WalkStep> steps;
    std::string reached;
};

// Splits a full install directory into the walk's steps. A share's root is one step, as
// its server and share name are no folders of their own; a drive component further on
// (C:\a\Q:\b) starts the walk again at that drive's root, so the walk reaches Q:\b\.
// Empty components (doubled backslashes) change nothing.
InstallWalk planInstallWalk(const std::string& fullDir);

// The text with a leading per-user macro ($L) replaced by the user's local application
// data folder (given without its trailing backslash); any other text unchanged.
std::string expandPerUserPrefix(const char* text, const std::string& localAppData);

// Leaves one directory: drops the running path's final backslash and the component before
// it, so C:\A\d\e\ becomes C:\A\d\.
void leaveRunningPath(std::string& runningPath);
