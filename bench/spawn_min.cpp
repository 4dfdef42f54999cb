// The anchor of the launcher's latency: a program that does nothing but start another
// one, the way the launcher starts a Java virtual machine (no application name, the
// command line as given, a new process group, a start-up record that is zero but for its
// size), and then ends without waiting.
//
// Usage: spawn_min COMMAND LINE...   (everything after this program's own name)
#include <windows.h>

#include <cstring>

namespace {

// The rest of the command line after the program's own name, which may be quoted.
char* afterProgramName(char* line)
{
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line == '"') ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char* commandLine = afterProgramName(GetCommandLineA());
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                        &startup, &process)) {
        return 1;
    }
    return 0;
}
