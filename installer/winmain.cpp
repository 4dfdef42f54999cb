// The installer's entry point and main sequence: open the package, show the windows, run
// the dialogue, then release the package and tell the user where the product went.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/dll_search.h"
#include "installer/installer_state.h"
#include "installer/licence_window.h"
#include "installer/main_window.h"
#include "installer/package_reader.h"
#include "installer/install_paths.h"
#include "installer/shell_shortcuts.h"

namespace {

void runMessageLoop()
{
    MSG message;
    // GetMessageA's -1 is taken like any other message: only the quit message ends the loop.
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void showCompletionNotice()
{
    InstallerState& s = installerState;
    // Closing the window after completion has already destroyed it.
    HWND owner = IsWindow(s.mainWindow) ? s.mainWindow : nullptr;
    std::string text = std::string("`") + s.productName + "' has been installed at `" + s.installDir + "'";
    if (s.runCommand[0] != '\0') {
        text += ". Do you want to run it now?";
        if (MessageBoxA(owner, text.c_str(), "Notice", MB_ICONQUESTION | MB_YESNO) == IDYES) {
            // The current directory is the install directory, which the program inherits.
            WinExec(s.runCommand, SW_SHOW);
        }
    } else {
        MessageBoxA(owner, text.c_str(), "Notice", MB_ICONINFORMATION);
    }
}

// Texts of the package live until the process ends; one made here replaces the header's.
char* keptText(const std::string& text)
{
    char* kept = static_cast<char*>(std::malloc(text.size() + 1));
    if (kept) std::memcpy(kept, text.c_str(), text.size() + 1);
    return kept ? kept : const_cast<char*>("");
}

// A per-user package's install directory begins with $L, the user's local application data
// folder: from here on it is that folder's full path, and the package is installed and
// registered for this user alone. False when the folder cannot be found, which the user
// has been told.
bool placePerUserInstall()
{
    InstallerState& s = installerState;
    if (!wbformat::beginsWithPerUserMacro(s.installDir)) return true;
    const char* folder = localAppDataFolder();
    if (!folder) {
        // As for any install folder that cannot be made.
        std::string text = std::string("The install folder `") + s.installDir +
                           "' cannot be created.\n\nNothing has been installed.";
        MessageBoxA(nullptr, text.c_str(), "Setup", MB_ICONERROR);
        return false;
    }
    s.installDir = keptText(expandPerUserPrefix(s.installDir, folder));
    // The builder names a program of the package by its full path below $L, quoted.
    if (s.runCommand[0] == '"') s.runCommand = keptText("\"" + expandPerUserPrefix(s.runCommand + 1, folder));
    s.perUser = 1;
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    restrictDllSearch();
    // Before anything else: the package is checked and read through this one handle,
    // which keeps the file from being replaced after Windows checked its signature.
    holdOwnFile();
    loadThemedControls();
    InstallerState& s = installerState;
    CoInitialize(nullptr);
    openPackage();
    if (!placePerUserInstall()) return 1;
    s.uiFont = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_DONTCARE, "Verdana");
    s.licenceFont = CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_DONTCARE, "Courier");
    createMainWindow();
    createLicenceWindow();
    runMessageLoop();
    closePackage();
    if (s.installDone) showCompletionNotice();
    if (IsWindow(s.mainWindow)) DestroyWindow(s.mainWindow);
    CoUninitialize();
    // A damaged package, or anything that could not be put in place, must not look like
    // a clean installation to whoever started the installer.
    return (s.packageDamaged || s.installStopped || s.failedCount != 0) ? 1 : 0;
}
