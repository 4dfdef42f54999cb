// The installer's entry point and main sequence: open the package, show the windows, run
// the dialogue, then release the package and tell the user where the product went.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/dll_search.h"
#include "common/path_rule.h"
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

// The token of the desktop's shell: the signed-in user's own, without elevation. Null when
// there is no shell to ask, or when its process or token refuses us (an installer elevated
// with another account's name and password may not open the user's), and then nothing is
// started: never the installer's own rights as a fallback.
HANDLE shellUserToken()
{
    DWORD shellProcess = 0;
    GetWindowThreadProcessId(GetShellWindow(), &shellProcess);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess);
    HANDLE token = nullptr;
    HANDLE primary = nullptr;
    if (process && OpenProcessToken(process, TOKEN_DUPLICATE, &token)) {
        // The rights CreateProcessWithTokenW needs of its token, and no more.
        DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, nullptr, SecurityImpersonation,
                         TokenPrimary, &primary);
        CloseHandle(token);
    }
    if (process) CloseHandle(process);
    return primary;
}

const char kNotStarted[] = "' could not be started.";

// Starts the run command in the install directory (the current one, which the program
// inherits). An elevated installer starts it as the signed-in user, never with the rights
// the installation needed: the program, the Java it finds and whatever the user's
// environment points them at would otherwise run as administrator. When the user's rights
// cannot be had, it starts nothing. (IsUserAnAdmin is true only for a token with the
// administrators' rights in force: an elevated one, or any administrator's without user
// account control.) Null when started, else the rest of the sentence that says why not.
const char* startRunCommand(const char* command)
{
    if (!IsUserAnAdmin()) return WinExec(command, SW_SHOW) > 31 ? nullptr : kNotStarted;
    HANDLE user = shellUserToken();
    if (!user) {
        return "' was not started: this installer runs with administrator rights, which the program must not "
               "have, and the rights of the user signed in to the desktop could not be had. Start it from its "
               "shortcut or its folder.";
    }
    static wchar_t line[32768];
    static wchar_t folder[32768];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started;
    // The install folder given outright: the process is made by a system service, not by
    // this one, so there is no current folder of ours for it to inherit.
    bool ok = MultiByteToWideChar(CP_ACP, 0, command, -1, line, 32768) &&
              MultiByteToWideChar(CP_ACP, 0, installerState.installDir, -1, folder, 32768) &&
              CreateProcessWithTokenW(user, 0, nullptr, line, 0, nullptr, folder, &startup, &started);
    CloseHandle(user);
    if (!ok) return kNotStarted;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return nullptr;
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
            // The builder makes a program of the package its full path, quoted; a package
            // from elsewhere is held to the same rule here.
            std::string command = runCommandInFolder(s.runCommand, s.installDir);
            if (const char* notStarted = startRunCommand(command.c_str())) {
                text = "`" + command + notStarted;
                MessageBoxA(owner, text.c_str(), "Notice", MB_ICONEXCLAMATION);
            }
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
