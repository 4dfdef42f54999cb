// The licence window made by the installer's own code in this process, where its fonts,
// class and focus can be read directly: the window and its three children, and what each
// message does to the installer's state.
#include "installer/licence_window.h"

#include <gtest/gtest.h>

#include "installer/installer_state.h"

namespace {

class LicenceWindowTest : public ::testing::Test {
protected:
    HWND textBox = nullptr;

    void SetUp() override
    {
        InstallerState& s = installerState;
        s.mainWindow = CreateWindowExA(0, "STATIC", "Owner", WS_OVERLAPPED, 0, 0, 300, 140,
                                       nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        s.uiFont = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_DONTCARE, "Verdana");
        s.licenceFont = CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_DONTCARE, "Courier");
        s.licenceText = const_cast<char*>("Terms\r\nMore terms");
        s.licenceWindow = s.agreeButton = s.disagreeButton = nullptr;
    }

    void TearDown() override
    {
        // The owner takes the licence window with it.
        DestroyWindow(installerState.mainWindow);
        UnregisterClassA("LicWin", GetModuleHandleA(nullptr));
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void create()
    {
        createLicenceWindow();
        ASSERT_NE(installerState.licenceWindow, nullptr);
        textBox = FindWindowExA(installerState.licenceWindow, nullptr, "Edit", nullptr);
        ASSERT_NE(textBox, nullptr);
    }
};

bool quitPosted()
{
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.wParam == 0;
}

RECT childRect(HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void expectRect(HWND child, int x, int y, int width, int height)
{
    RECT r = childRect(child);
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

}  // namespace

TEST_F(LicenceWindowTest, NoLicenceTextMakesNoWindowNoClassNoDisabling)
{
    for (const char* text : {"", static_cast<const char*>(nullptr)}) {
        installerState.licenceText = const_cast<char*>(text);
        createLicenceWindow();
        EXPECT_EQ(installerState.licenceWindow, nullptr);
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), "LicWin", &windowClass));
        EXPECT_TRUE(IsWindowEnabled(installerState.mainWindow));
    }
}

TEST_F(LicenceWindowTest, WindowChildrenFontsAndFocus)
{
    create();
    InstallerState& s = installerState;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "LicWin", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_OWNDC));
    EXPECT_EQ(windowClass.lpfnWndProc, &licenceWindowProc);
    EXPECT_EQ(windowClass.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));

    EXPECT_EQ(GetWindow(s.licenceWindow, GW_OWNER), s.mainWindow);
    EXPECT_TRUE(IsWindowVisible(s.licenceWindow));
    LONG style = GetWindowLongA(s.licenceWindow, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD));

    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(textBox, WM_GETFONT, 0, 0)), s.licenceFont);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(s.agreeButton, WM_GETFONT, 0, 0)), s.uiFont);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(s.disagreeButton, WM_GETFONT, 0, 0)), s.uiFont);
    for (HWND child : {textBox, s.agreeButton, s.disagreeButton}) EXPECT_EQ(GetDlgCtrlID(child), 0);

    EXPECT_EQ(GetWindowLongA(textBox, GWL_STYLE),
              WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY);
    EXPECT_TRUE(GetWindowLongA(textBox, GWL_EXSTYLE) & WS_EX_STATICEDGE);
    char text[64] = {0};
    GetWindowTextA(textBox, text, sizeof text);
    EXPECT_STREQ(text, "Terms\r\nMore terms");

    RECT client;
    GetClientRect(s.licenceWindow, &client);
    int w = client.right, h = client.bottom;
    expectRect(textBox, 10, 10, w - 20, h - 50);
    expectRect(s.agreeButton, w / 2 - 160, h - 35, 120, 25);
    expectRect(s.disagreeButton, w / 2 + 40, h - 35, 120, 25);

    EXPECT_FALSE(IsWindowEnabled(s.agreeButton));
    EXPECT_TRUE(IsWindowEnabled(s.disagreeButton));
    EXPECT_FALSE(IsWindowEnabled(s.mainWindow));
    EXPECT_EQ(GetFocus(), textBox);
}

TEST_F(LicenceWindowTest, AgreeWaitsForTheTimerThenHandsOverToTheMainWindow)
{
    create();
    InstallerState& s = installerState;
    HWND licence = s.licenceWindow;
    HWND agree = s.agreeButton;

    // Before the first tick neither a click, a command in its name, nor the text box's
    // notifications count as agreement.
    SendMessageA(agree, BM_CLICK, 0, 0);
    SendMessageA(licence, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(agree));
    SendMessageA(licence, WM_COMMAND, MAKEWPARAM(0, EN_SETFOCUS), reinterpret_cast<LPARAM>(textBox));
    EXPECT_TRUE(IsWindow(licence));
    EXPECT_FALSE(IsWindowEnabled(s.mainWindow));

    SendMessageA(licence, WM_TIMER, 1, 0);
    EXPECT_TRUE(IsWindowEnabled(agree));
    SendMessageA(licence, WM_TIMER, 1, 0);
    EXPECT_TRUE(IsWindowEnabled(agree));
    SendMessageA(licence, WM_COMMAND, MAKEWPARAM(0, EN_KILLFOCUS), reinterpret_cast<LPARAM>(textBox));
    EXPECT_TRUE(IsWindow(licence));

    SendMessageA(agree, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(licence));
    EXPECT_TRUE(IsWindowEnabled(s.mainWindow));
    EXPECT_EQ(GetFocus(), s.mainWindow);
    EXPECT_FALSE(quitPosted());
}

TEST_F(LicenceWindowTest, DisagreeQuitsAndLeavesTheWindowToItsOwner)
{
    create();
    SendMessageA(installerState.disagreeButton, BM_CLICK, 0, 0);
    EXPECT_TRUE(quitPosted());
    EXPECT_TRUE(IsWindow(installerState.licenceWindow));
    EXPECT_FALSE(IsWindowEnabled(installerState.mainWindow));
}

TEST_F(LicenceWindowTest, CloseQuitsAndDestroysTheWindow)
{
    create();
    HWND licence = installerState.licenceWindow;
    SendMessageA(licence, WM_CLOSE, 0, 0);
    EXPECT_TRUE(quitPosted());
    EXPECT_FALSE(IsWindow(licence));
}
