#include "tests/support/ui_driver.h"

#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "tests/support/png_writer.h"

#ifndef WB_SCREENSHOT_DIR
#define WB_SCREENSHOT_DIR "."
#endif

namespace ui {

bool startProcess(const std::string& commandLine, const std::string& workDir, Process& out, HANDLE* mainThread)
{
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        return false;
    }
    if (mainThread) {
        *mainThread = pi.hThread;
    } else {
        CloseHandle(pi.hThread);
    }
    out.handle = pi.hProcess;
    out.pid = pi.dwProcessId;
    return true;
}

void removeTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

DWORD waitExit(Process& process, int timeoutMs)
{
    if (!process.handle) return STILL_ACTIVE;
    if (WaitForSingleObject(process.handle, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.handle, &code);
    return code;
}

bool isRunning(const Process& process)
{
    return process.handle && WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT;
}

void killProcess(Process& process)
{
    if (isRunning(process)) {
        TerminateProcess(process.handle, 99);
        WaitForSingleObject(process.handle, kDeadlineMs);
    }
}

std::string hostPath(const std::string& windowsPath)
{
    using UnixName = char*(CDECL*)(const WCHAR*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return "";
    std::vector<WCHAR> wide(windowsPath.size() + 1);
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    char* path = unixName(wide.data());
    if (!path) return "";
    std::string result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

bool runOnHost(std::vector<std::string> argv)
{
    // Wine's own spawn call: it waits and gives the exit status (an NTSTATUS when the
    // program could not be started).
    using UnixSpawn = LONG(WINAPI*)(char* const*, int);
    auto spawn = reinterpret_cast<UnixSpawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    if (!spawn || argv.empty()) return false;
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(&arg[0]);
    args.push_back(nullptr);
    return spawn(args.data(), TRUE) == 0;
}

void closeProcess(Process& process)
{
    if (process.handle) CloseHandle(process.handle);
    process.handle = nullptr;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) return condition();
        Sleep(5);
    }
}

namespace {

struct WindowQuery {
    DWORD pid;
    const char* className;
    const char* title;
    std::vector<HWND>* found;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM param)
{
    WindowQuery* query = reinterpret_cast<WindowQuery*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != query->pid || !IsWindowVisible(window)) return TRUE;
    if (query->className && className(window) != query->className) return TRUE;
    if (query->title && windowText(window) != query->title) return TRUE;
    query->found->push_back(window);
    return TRUE;
}

BOOL CALLBACK collectChild(HWND window, LPARAM param)
{
    std::vector<HWND>* found = reinterpret_cast<std::vector<HWND>*>(param);
    found->push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD pid, const char* cls, const char* title)
{
    std::vector<HWND> found;
    WindowQuery query{pid, cls, title, &found};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&query));
    return found;
}

HWND waitForWindow(DWORD pid, const char* cls, const char* title, int timeoutMs)
{
    HWND result = nullptr;
    waitFor([&] {
        std::vector<HWND> found = topLevelWindows(pid, cls, title);
        result = found.empty() ? nullptr : found.front();
        return result != nullptr;
    }, timeoutMs);
    return result;
}

HWND waitForMessageBox(DWORD pid, int timeoutMs)
{
    HWND result = nullptr;
    waitFor([&] {
        for (HWND window : topLevelWindows(pid, "#32770")) {
            // A message box is ready once its text control exists.
            if (GetDlgItem(window, 0xFFFF)) {
                result = window;
                return true;
            }
        }
        return false;
    }, timeoutMs);
    return result;
}

std::string messageBoxText(HWND box)
{
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? windowText(text) : std::string();
}

namespace {

// The pixels of a bitmap selected out of memory, as 24-bit BGR words (top byte cleared,
// so black is 0), row by row from the top. Releases the bitmap, the memory DC and screen.
std::vector<DWORD> takePixels(HDC screen, HDC memory, HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (DWORD& p : pixels) p &= 0x00FFFFFF;
    return pixels;
}

// The pixels of a system icon drawn on the given background colour.
std::vector<DWORD> renderIcon(LPCSTR id, int width, int height, COLORREF background)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIcon(memory, 0, 0, LoadIconA(nullptr, id));
    SelectObject(memory, old);
    return takePixels(screen, memory, bitmap, width, height);
}

}  // namespace

std::vector<DWORD> screenPixels(int x, int y, int width, int height)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
    SelectObject(memory, old);
    return takePixels(screen, memory, bitmap, width, height);
}

UINT messageBoxIcon(HWND box)
{
    // The icon is a static control with SS_ICON (its identifier differs between Windows
    // versions). Icon handles mean nothing across processes, so the shown pixels are
    // compared with each system icon drawn here on the same background.
    HWND icon = nullptr;
    for (HWND child : children(box)) {
        if (className(child) == "Static" && (style(child) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child)) {
            icon = child;
        }
    }
    if (!icon) return 0;
    SetForegroundWindow(box);
    RECT r = windowRect(icon);
    int size = GetSystemMetrics(SM_CXICON);
    std::vector<DWORD> shown;
    struct Known { LPCSTR id; UINT style; } known[] = {
        {IDI_HAND, MB_ICONERROR}, {IDI_QUESTION, MB_ICONQUESTION},
        {IDI_EXCLAMATION, MB_ICONWARNING}, {IDI_ASTERISK, MB_ICONINFORMATION}};
    UINT result = 0xFFFFFFFFu;
    waitFor([&] {
        shown = screenPixels(r.left, r.top, size, size);
        COLORREF background = RGB(shown[0] & 0xFF, (shown[0] >> 8) & 0xFF, (shown[0] >> 16) & 0xFF);
        for (const Known& k : known) {
            if (renderIcon(k.id, size, size, background) == shown) {
                result = k.style;
                return true;
            }
        }
        return false;
    }, 5000);
    return result;
}

std::vector<int> messageBoxButtons(HWND box)
{
    std::vector<int> ids;
    for (HWND child : children(box)) {
        if (className(child) == "Button" && IsWindowVisible(child)) {
            ids.push_back(GetDlgCtrlID(child));
        }
    }
    return ids;
}

void answerMessageBox(HWND box, int id)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND findChild(HWND parent, const char* cls, const char* text)
{
    for (HWND child : children(parent)) {
        if (cls && _stricmp(className(child).c_str(), cls) != 0) continue;
        if (text && windowText(child) != text) continue;
        return child;
    }
    return nullptr;
}

std::string windowText(HWND window)
{
    // WM_GETTEXT works across processes; GetWindowText would not for other programs' controls.
    LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::string className(HWND window)
{
    char name[256] = {0};
    GetClassNameA(window, name, sizeof name);
    return name;
}

RECT windowRect(HWND window)
{
    RECT r{0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

RECT clientRect(HWND window)
{
    RECT r{0, 0, 0, 0};
    GetClientRect(window, &r);
    return r;
}

bool isEnabled(HWND window) { return IsWindowEnabled(window) != FALSE; }
LONG style(HWND window) { return GetWindowLongA(window, GWL_STYLE); }
LONG exStyle(HWND window) { return GetWindowLongA(window, GWL_EXSTYLE); }
HWND owner(HWND window) { return GetWindow(window, GW_OWNER); }

void pressButton(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}

void closeWindow(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

bool saveScreenshot(const std::string& name)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<DWORD> bgr = screenPixels(0, 0, width, height);
    std::vector<unsigned char> rgb(bgr.size() * 3);
    for (size_t i = 0; i < bgr.size(); ++i) {
        rgb[i * 3 + 0] = static_cast<unsigned char>(bgr[i] >> 16);
        rgb[i * 3 + 1] = static_cast<unsigned char>(bgr[i] >> 8);
        rgb[i * 3 + 2] = static_cast<unsigned char>(bgr[i]);
    }
    CreateDirectoryA(WB_SCREENSHOT_DIR, nullptr);
    std::string path = std::string(WB_SCREENSHOT_DIR) + "\\" + name + ".png";
    return writePng(path, width, height, rgb);
}

std::vector<std::string> loadedModulePaths(const Process& process, const char* moduleName)
{
    std::vector<std::string> paths;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(process.handle, modules, sizeof modules, &bytes)) return paths;
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string wanted = "\\" + lower(moduleName);
    for (DWORD i = 0; i < bytes / sizeof modules[0] && i < 512; ++i) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameExA(process.handle, modules[i], path, sizeof path);
        if (length == 0 || length >= sizeof path) continue;
        std::string name = lower(std::string(path, length));
        if (name.size() > wanted.size() && name.compare(name.size() - wanted.size(), wanted.size(), wanted) == 0) {
            paths.push_back(name);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

SIZE_T peakWorkingSet(const Process& process)
{
    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process.handle, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace ui
