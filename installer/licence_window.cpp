#include "installer/licence_window.h"

#include "installer/installer_state.h"
#include "installer/main_window.h"

namespace {

const char kLicenceClassName[] = "LicWin";

// The agree delay: "I Agree" stays disabled until the first tick, so that nobody agrees
// to a text they had no chance to see.
constexpr UINT_PTR kAgreeDelayTimer = 1;
constexpr UINT kAgreeDelayMs = 4000;

constexpr int kWindowWidth = 600;
constexpr int kWindowHeight = 400;
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 25;

void registerLicenceClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = licenceWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kLicenceClassName;
    RegisterClassExA(&windowClass);
}

// All three children have identifier 0: the window procedure tells the buttons apart by
// their handles.
HWND createChild(const char* className, const char* text, DWORD style, DWORD exStyle,
                 int x, int y, int width, int height, HFONT font, HINSTANCE instance)
{
    HWND child = CreateWindowExA(exStyle, className, text, style, x, y, width, height,
                                 installerState.licenceWindow, nullptr, instance, nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    return child;
}

void acceptLicence()
{
    // The main window is enabled before the licence window goes, so that it is the one
    // that becomes active.
    EnableWindow(installerState.mainWindow, TRUE);
    DestroyWindow(installerState.licenceWindow);
    installerState.licenceWindow = nullptr;
    installerState.agreeButton = nullptr;
    installerState.disagreeButton = nullptr;
    SetFocus(installerState.mainWindow);
}

}  // namespace

void createLicenceWindow()
{
    if (!installerState.licenceText || installerState.licenceText[0] == '\0') return;

    HINSTANCE instance = GetModuleHandleA(nullptr);
    registerLicenceClass(instance);

    // Given the main window as parent without WS_CHILD, the main window owns it: it stays
    // above the main window and goes when the main window is destroyed.
    installerState.licenceWindow = CreateWindowExA(
        0, kLicenceClassName, "License", WS_BORDER | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
        kWindowWidth, kWindowHeight, installerState.mainWindow, nullptr, instance, nullptr);
    centreOnDesktop(installerState.licenceWindow);

    // The children are placed by the size of the client area, read once the window stands
    // where it stays.
    RECT client;
    GetClientRect(installerState.licenceWindow, &client);
    int width = client.right;
    int height = client.bottom;

    ShowWindow(installerState.licenceWindow, SW_SHOW);

    // No ES_AUTOHSCROLL and no horizontal scroll bar: the lines wrap at the box's width.
    HWND textBox = createChild(
        "EDIT", installerState.licenceText,
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
        WS_EX_STATICEDGE, 10, 10, width - 20, height - 50, installerState.licenceFont, instance);

    installerState.agreeButton =
        createChild("BUTTON", "I Agree", WS_CHILD | WS_VISIBLE, 0, width / 2 - 160, height - 35,
                    kButtonWidth, kButtonHeight, installerState.uiFont, instance);
    EnableWindow(installerState.agreeButton, FALSE);
    SetTimer(installerState.licenceWindow, kAgreeDelayTimer, kAgreeDelayMs, nullptr);

    installerState.disagreeButton =
        createChild("BUTTON", "I Disagree", WS_CHILD | WS_VISIBLE, 0, width / 2 + 40, height - 35,
                    kButtonWidth, kButtonHeight, installerState.uiFont, instance);

    EnableWindow(installerState.mainWindow, FALSE);
    SetFocus(textBox);
}

LRESULT CALLBACK licenceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // The default handling that follows destroys the window.
        PostQuitMessage(0);
        break;
    case WM_COMMAND: {
        HWND sender = reinterpret_cast<HWND>(lParam);
        if (!sender) break;
        if (sender == installerState.disagreeButton) {
            // The window stays until the main window, its owner, is destroyed on the way out.
            PostQuitMessage(0);
        } else if (sender == installerState.agreeButton && IsWindowEnabled(sender)) {
            // A command in the name of a still disabled "I Agree" (sent by another
            // program) must not cut the delay short.
            acceptLicence();
        }
        break;
    }
    case WM_TIMER:
        // The timer keeps ticking while the window lives; enabling again changes nothing.
        EnableWindow(installerState.agreeButton, TRUE);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
