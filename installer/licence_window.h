// The licence agreement window, shown before anything can be installed.
#pragma once

#include <windows.h>

// Shows the licence window over the main window when the package has a licence text, and
// disables the main window until the user agrees. Needs the main window to exist.
void createLicenceWindow();

// The window procedure of the licence window: "I Agree" hands over to the main window,
// "I Disagree" or closing ends the installer, the timer makes "I Agree" usable.
LRESULT CALLBACK licenceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
