// Stands in for a Java virtual machine in the launcher's latency benchmark: the first
// thing it does is take the time, which it then leaves in "<its own path>.stamp" as the
// performance-counter value at which it was running. The counter is the same clock in
// every process of the session, so the bench driver subtracts the moment it started the
// launcher (or the anchor program) from it.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char self[MAX_PATH * 4] = {0};
    GetModuleFileNameA(nullptr, self, sizeof self - 1);
    // Written under another name and renamed, so the driver never reads half a stamp.
    std::string partial = std::string(self) + ".partial";
    std::string stamp = std::string(self) + ".stamp";
    FILE* f = std::fopen(partial.c_str(), "w");
    if (!f) return 1;
    std::fprintf(f, "%lld\n", static_cast<long long>(now.QuadPart));
    std::fclose(f);
    return MoveFileExA(partial.c_str(), stamp.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
