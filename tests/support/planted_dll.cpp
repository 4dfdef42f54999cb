// A DLL that someone might put beside an installer under the name of a system DLL that
// Windows loads on demand: loaded, it leaves the file planted-dll-ran.txt beside itself,
// and then refuses the load so that the program goes on with the real one. It imports
// version.dll, so that the import-table check has a program to fail on.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(instance, path, sizeof path);
    std::string marker(path, length);
    // Imports a DLL that is not one of the system's known ones, for the import-table check.
    GetFileVersionInfoSizeA(path, nullptr);
    marker = marker.substr(0, marker.find_last_of('\\') + 1) + "planted-dll-ran.txt";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;
}
