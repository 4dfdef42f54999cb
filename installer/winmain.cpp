// The installer's entry point and main sequence: open the package, show the windows, run
// the dialogue, then release the package and tell the user where the product went.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/dll_search.h"
#include "installer/installer_state.h"
#include "installer/licence_window.h"
#include "installer/main_window.h"
#include "installer/package_reader.h"

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

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    restrictDllSearch();
    InstallerState& s = installerState;
    CoInitialize(nullptr);
    openPackage();
    s.uiFont = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_DONTCARE, "Verdana");
    s.licenceFont = CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_DONTCARE, "Courier");
    createMainWindow();
    createLicenceWindow();
    runMessageLoop();
    BZ2_bzReadClose(&s.readError, s.packageReader);
    std::fclose(s.packageFile);
    if (s.installDone) showCompletionNotice();
    if (IsWindow(s.mainWindow)) DestroyWindow(s.mainWindow);
    CoUninitialize();
    // A damaged package, or anything that could not be put in place, must not look like
    // a clean installation to whoever started the installer.
    return (s.packageDamaged || s.installStopped || s.failedCount != 0) ? 1 : 0;
}
