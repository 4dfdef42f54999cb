// Stands in for an outside program (a Java virtual machine, a web browser, a run
// command). It appends what it was started with to "<its own path>.log":
//   cmdline=<the whole command line>
//   cwd=<its working directory>
//   group=<1 when started in a new process group (CREATE_NEW_PROCESS_GROUP), else 0>
//   show=<STARTF_USESHOWWINDOW set: the show state, else -1>
// and, when "<its own path>.hold" exists, keeps running until that file is removed (at
// most a minute), so tests can see that its starter did not wait for it.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// CREATE_NEW_PROCESS_GROUP leaves one mark a started program can read: the new group's
// first process ignores Ctrl+C, which the system notes in bit 0 of the process
// parameters' ConsoleFlags, the word after ConsoleHandle (the public header names the
// fields "Reserved").
int startedInNewGroup()
{
    PROCESS_BASIC_INFORMATION process;
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &process, sizeof process, nullptr) != 0) {
        return -1;
    }
    const BYTE* parameters = reinterpret_cast<const BYTE*>(process.PebBaseAddress->ProcessParameters);
    ULONG consoleFlags = 0;
    std::memcpy(&consoleFlags, parameters + 4 * sizeof(ULONG) + sizeof(HANDLE), sizeof consoleFlags);
    return consoleFlags & 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH * 4] = {0};
    GetModuleFileNameA(nullptr, self, sizeof self - 1);
    char cwd[MAX_PATH * 4] = {0};
    GetCurrentDirectoryA(sizeof cwd - 1, cwd);
    STARTUPINFOA si;
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;

    std::string log = std::string(self) + ".log";
    if (FILE* f = std::fopen(log.c_str(), "ab")) {
        // show= stays last: a reader counts a start as complete when it has that line.
        std::fprintf(f, "cmdline=%s\ncwd=%s\ngroup=%d\nshow=%d\n", GetCommandLineA(), cwd, startedInNewGroup(), show);
        std::fclose(f);
    }
    std::string hold = std::string(self) + ".hold";
    for (int i = 0; i < 6000 && GetFileAttributesA(hold.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(10);
    }
    return 0;
}
