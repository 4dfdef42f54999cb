#include "installer/main_window.h"

#include <cstring>

#include "installer/install_engine.h"
#include "installer/installer_state.h"
#include "installer/progress.h"

namespace {

const char kPrompt[] = "Press install to continue";

// Drawn through the window's own device context; the default handling that follows
// validates the window.
void paintMainWindow(HWND window)
{
    InstallerState& s = installerState;
    HDC dc = GetDC(window);
    HGDIOBJ keptFont = SelectObject(dc, s.uiFont);
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, 10, 10, s.productName, static_cast<int>(std::strlen(s.productName)));
    MoveToEx(dc, 8, 30, nullptr);
    LineTo(dc, client.right - 8, 30);
    if (s.progressTotal != 0) {
        drawProgress();
    } else {
        TextOutA(dc, 72, 48, kPrompt, static_cast<int>(sizeof kPrompt - 1));
    }
    SelectObject(dc, keptFont);
    ReleaseDC(window, dc);
}

// While the engine runs, messages that other threads send are handled when it looks at
// its queue, and a message box it shows runs a loop of its own.
bool installationRunning()
{
    const InstallerState& s = installerState;
    return s.installStarted && !s.installDone && !s.installStopped;
}

// The button starts the installation; once it is done the same button ends the dialogue.
// Any other command does nothing: the package's stream can be read only once, and a second
// run inside the first would log the install folder twice.
LRESULT commandMainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    InstallerState& s = installerState;
    if (s.installDone) {
        PostQuitMessage(0);
        return 0;
    }
    if (s.installStarted) return 0;
    s.installStarted = 1;
    HDC dc = GetDC(window);
    RECT client;
    GetClientRect(window, &client);
    s.progressTotal = s.packageTotal;
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    ReleaseDC(window, dc);
    // Drawn now, not through the queue: no message is handled until the installation ends.
    mainWindowProc(window, WM_PAINT, 0, 0);
    EnableWindow(s.installButton, FALSE);
    SetWindowTextA(s.installButton, "Installing...");
    runInstallation();
    // A damaged package or an unusable install folder has been reported; there is nothing
    // left to do but end.
    if (s.installStopped) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void createMainWindow()
{
    InstallerState& s = installerState;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "MainWin";
    RegisterClassExA(&windowClass);

    s.mainWindow = CreateWindowExA(WS_EX_APPWINDOW, "MainWin", "Orvanstead Wickerbay",
                                   WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                                   300, 140, nullptr, nullptr, instance, nullptr);
    SendMessageA(s.mainWindow, WM_SETFONT, reinterpret_cast<WPARAM>(s.uiFont), 0);
    centreOnDesktop(s.mainWindow);
    RECT client;
    GetClientRect(s.mainWindow, &client);
    ShowWindow(s.mainWindow, SW_SHOW);

    s.installButton = CreateWindowExA(0, "BUTTON", "Install", WS_CHILD | WS_VISIBLE, client.right / 2 - 60,
                                      client.bottom - 35, 120, 25, s.mainWindow, nullptr, instance, nullptr);
    SendMessageA(s.installButton, WM_SETFONT, reinterpret_cast<WPARAM>(s.uiFont), 0);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // Closing part-way would leave an installation nobody finished; it is refused
        // until the engine has ended.
        if (installationRunning()) return 0;
        PostQuitMessage(0);
        break;
    case WM_PAINT:
        paintMainWindow(window);
        break;
    case WM_COMMAND:
        return commandMainWindow(window, message, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void drawProgress()
{
    InstallerState& s = installerState;
    HDC dc = GetDC(s.mainWindow);
    RECT client;
    GetClientRect(s.mainWindow, &client);
    int right = client.right;
    int filled = static_cast<int>(progressFill(progressSpan(right), s.bytesWritten, s.progressTotal));
    MoveToEx(dc, 30, 50, nullptr);
    LineTo(dc, right - 30, 50);
    LineTo(dc, right - 30, 60);
    LineTo(dc, 30, 60);
    LineTo(dc, 30, 50);
    for (int y = 52; y <= 58; ++y) {
        MoveToEx(dc, 32, y, nullptr);
        LineTo(dc, 32 + filled, y);
    }
    ReleaseDC(s.mainWindow, dc);
}

void centreOnDesktop(HWND window)
{
    RECT own;
    RECT desktop;
    GetWindowRect(window, &own);
    GetWindowRect(GetDesktopWindow(), &desktop);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    // Each extent is halved on its own, as the window has always been placed; the desktop's
    // origin is not added.
    int x = (desktop.right - desktop.left) / 2 - width / 2;
    int y = (desktop.bottom - desktop.top) / 2 - height / 2;
    MoveWindow(window, x, y, width, height, TRUE);
}

void showSetupMessage(const char* text, UINT icon)
{
    MessageBoxA(installerState.mainWindow, text, "Setup", icon);
}
