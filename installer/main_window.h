// The installer's main window: product name, separator, the prompt or the progress bar,
// and the one button that reads "Install", "Installing..." and "Completed" in turn.
#pragma once

#include <windows.h>

// Registers MainWin, creates the main window centred on the desktop, shows it and adds the
// Install button. Sets mainWindow and installButton.
void createMainWindow();

// The window procedure of MainWin: close, paint, and the button's command.
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the progress bar from bytesWritten and progressTotal straight into the main
// window, without waiting for a paint message: the installation runs inside a message.
void drawProgress();

// Moves a top-level window to the centre of the desktop, keeping its size.
void centreOnDesktop(HWND window);

// A "Setup" message box owned by the main window, with the given MB_ICON... style.
void showSetupMessage(const char* text, UINT icon);
