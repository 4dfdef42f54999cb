// Fixtures of the example's whole road (build, install, start, remove): where the example
// installs and puts its shortcuts in this prefix, the folder `make` packed it from, the
// installer driven through its licence and its main window, and the host's Java standing
// in as a registered runtime.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/ui_driver.h"

namespace road {

// The example's manifest names these.
constexpr const char* kProduct = "Hello World";
constexpr const char* kInstallDir = "C:\\Program Files\\Hello World";

// The example's places in this prefix: the Shell Folders values say where the desktop and
// the programs menu are.
struct Places {
    std::string installDir = kInstallDir;
    std::string desktop;
    std::string programs;
    std::string desktopLink() const { return desktop + "\\Hello World.lnk"; }
    std::string desktopWebLink() const { return desktop + "\\Hello World on the Web.lnk"; }
    std::string publisherMenu() const { return programs + "\\Orvanstead Examples"; }
    std::string menuFolder() const { return publisherMenu() + "\\Hello World"; }
};
Places places();
// Takes away what an earlier run that was cut short may have left: the install folder,
// the shortcuts and their menu folders.
void removeLeftovers(const Places& places);

// The application folder that `make` packed into HelloSetup.exe.
std::string exampleAppFolder();
// The files below folder as relative paths, sorted, folders left out.
std::vector<std::string> filesBelow(const std::string& folder);
std::string readBytes(const std::string& path);

// Starts an installer from the build's dist folder in workDir.
bool startInstaller(const std::string& exePath, const std::string& workDir, ui::Process& out);
// Waits for the licence window's "I Agree" to become usable, optionally saves a
// screenshot, presses it and returns the main window once it is enabled again.
HWND agreeToLicence(const ui::Process& installer, const std::string& screenshot = std::string());
// Presses Install and waits for "Completed"; while it runs, calls whileRunning (when given)
// each time the bar is seen part-way, until it returns true.
bool installUntilCompleted(HWND mainWindow, bool (*whileRunning)(HWND) = nullptr);
// How much of the progress bar's span is filled, 0 to 1, as the screen shows it.
double barFill(HWND mainWindow);
// Has a window of another process painted in full now (its paint messages are sent and
// handled before this returns), so that a screenshot shows what the user sees.
void paintNow(HWND window);

// A runtime home whose bin\javaw.exe is a host script running the host's Java; headless
// for tests (the example then ends after recording its run), with a display for the demo.
std::string hostJavaHome(bool withDisplay);

}  // namespace road
