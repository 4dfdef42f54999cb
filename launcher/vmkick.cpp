// vmkick: starts the installed Java application with a registered Java runtime. It reads
// vmkick.cfg from its working directory, which the installer's shortcuts set to the
// application's folder, and has no window of its own: it speaks only in message boxes.
#include <windows.h>

#include <cstdlib>

#include "common/config.h"
#include "common/dll_search.h"
#include "launcher/java_runtime.h"
#include "launcher/launcher_state.h"
#include "launcher/message_box.h"

// Lets the C runtime expand wildcard arguments such as *.txt into the matching file
// names before main sees them, as a command prompt user expects.
extern "C" {
int _dowildcard = -1;
}

void showFatalError(const char* text)
{
    showMessageBox(text, errorCaption(launcherState.configTree), MB_OK | MB_ICONERROR);
    std::exit(1);
}

int main(int argc, char** argv)
{
    restrictDllSearch();
    // Relative on purpose: the configuration belongs to the working directory that the
    // shortcut gives, not to the folder of the executable.
    launcherState.configTree = loadConfig("vmkick.cfg");
    if (launcherState.configTree == nullptr) showFatalError("Cannot load file `vmkick.cfg'");
    std::atexit(releaseLauncherState);

    readLaunchSettings(launcherState);
    if (launcherState.archive[0] == '\0') showFatalError("info.archive was not set");
    readProgramArgs(launcherState, argc, argv);

    startJava();
    return 0;
}
