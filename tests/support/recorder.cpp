// Stands in for an outside program (a Java virtual machine, a web browser, a run
// command). It appends what it was started with to "<its own path>.log":
//   cmdline=<the whole command line>
//   cwd=<its working directory>
//   show=<STARTF_USESHOWWINDOW set: the show state, else -1>
//   group=<1 when started in a new process group, as far as it can tell; else 0>
// and, when "<its own path>.hold" exists, keeps running until that file is removed (at
// most a minute), so tests can see that its starter did not wait for it.
#include <windows.h>

#include <cstdio>
#include <string>

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
        std::fprintf(f, "cmdline=%s\ncwd=%s\nshow=%d\n", GetCommandLineA(), cwd, show);
        std::fclose(f);
    }
    std::string hold = std::string(self) + ".hold";
    for (int i = 0; i < 6000 && GetFileAttributesA(hold.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(10);
    }
    return 0;
}
