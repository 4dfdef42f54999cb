// The licence window of real installers under Wine: its place, size, owner and controls,
// the text that cannot be edited, the delay before "I Agree", and the three ways out.
// (Its fonts cannot be asked of another process: shortcuts_licence_window_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "tests/support/shortcut_fixtures.h"

namespace {

// Wrapped lines, more of them than the box shows, and CR LF line ends as the box needs.
std::string licenceText()
{
    std::string text = "LNK TEST LICENCE\r\n\r\n";
    for (int i = 1; i <= 30; ++i) text += "Clause " + std::to_string(i) + ": the software comes as it is.\r\n";
    text += "A closing sentence long enough that it cannot fit on one line of the box, so that the box has "
            "to wrap it at its own width instead of scrolling sideways, which it has no bar for.";
    return text;
}

struct Started {
    std::string app;
    ui::Process process;
    DWORD startTick = 0;  // before the process was started
    DWORD seenTick = 0;   // when its licence window was first seen
};

// Ends the installer when a test ends, also one that stopped at a failed assertion: a
// process left running would keep the test runner waiting for its output.
struct EndsWithTest {
    ui::Process& process;
    ~EndsWithTest()
    {
        ui::killProcess(process);
        ui::closeProcess(process);
    }
};

// Builds an installer with the given licence text below C:\wbtest\<name> and starts it.
Started startInstaller(const std::string& name, const std::string& licence)
{
    Started started;
    std::string base = lnk::freshTestFolder(name);
    started.app = base + "\\app";
    std::string setup = base + "\\Setup.exe";
    std::string error;
    EXPECT_TRUE(lnk::buildTestInstaller(lnk::basicPackage(started.app, licence), setup, error)) << error;
    started.startTick = GetTickCount();
    EXPECT_TRUE(ui::startProcess("\"" + setup + "\"", base, started.process));
    return started;
}

// The licence window once all of its steps have run: the main window is disabled and the
// text box has the focus only at the very end.
HWND waitForFinishedLicenceWindow(Started& started, HWND& mainWindow, HWND& textBox)
{
    mainWindow = lnk::waitForMainWindow(started.process);
    HWND licence = lnk::waitForLicenceWindow(started.process);
    started.seenTick = GetTickCount();
    textBox = licence ? ui::findChild(licence, "Edit") : nullptr;
    bool finished = ui::waitFor([&] {
        return textBox && ui::findChild(licence, "Button", "I Disagree") && !ui::isEnabled(mainWindow) &&
               lnk::focusOf(licence) == textBox;
    });
    return finished ? licence : nullptr;
}

RECT rectIn(HWND child, HWND parent)
{
    RECT r = ui::windowRect(child);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void expectPlace(HWND child, HWND parent, int x, int y, int width, int height)
{
    RECT r = rectIn(child, parent);
    EXPECT_EQ(r.left, x) << ui::windowText(child);
    EXPECT_EQ(r.top, y) << ui::windowText(child);
    EXPECT_EQ(r.right - r.left, width) << ui::windowText(child);
    EXPECT_EQ(r.bottom - r.top, height) << ui::windowText(child);
}

}  // namespace

TEST(LicenceEndToEnd, WindowDelayAgreementAndInstall)
{
    Started started = startInstaller("licence_e2e_agree", licenceText());
    EndsWithTest ends{started.process};
    HWND mainWindow = nullptr, textBox = nullptr;
    HWND licence = waitForFinishedLicenceWindow(started, mainWindow, textBox);
    ASSERT_NE(licence, nullptr);
    HWND agree = ui::findChild(licence, "Button", "I Agree");
    HWND disagree = ui::findChild(licence, "Button", "I Disagree");
    ASSERT_NE(agree, nullptr);
    bool agreeEnabled = ui::isEnabled(agree);
    // The timer starts as the window is made, before it is seen; what is read within
    // 3.5 s of seeing it is the state before the first tick, however long the installer
    // took to come up (an emulated host is slow to start a program).
    ASSERT_LT(GetTickCount() - started.seenTick, 3500u) << "the test looked too late to see the delay";
    EXPECT_FALSE(agreeEnabled);
    EXPECT_TRUE(ui::isEnabled(disagree));
    EXPECT_TRUE(ui::saveScreenshot("licence-reading"));

    // A click on the disabled button changes nothing.
    ui::pressButton(agree);
    ASSERT_TRUE(lnk::drainPostedMessages(textBox));
    EXPECT_TRUE(IsWindow(licence));
    EXPECT_FALSE(ui::isEnabled(mainWindow));

    EXPECT_EQ(ui::windowText(licence), "License");
    EXPECT_EQ(ui::owner(licence), mainWindow);
    RECT outer = ui::windowRect(licence);
    RECT desktop = ui::windowRect(GetDesktopWindow());
    EXPECT_EQ(outer.right - outer.left, 600);
    EXPECT_EQ(outer.bottom - outer.top, 400);
    EXPECT_EQ(outer.left, (desktop.right - desktop.left) / 2 - 300);
    EXPECT_EQ(outer.top, (desktop.bottom - desktop.top) / 2 - 200);
    EXPECT_TRUE(ui::style(licence) & WS_SYSMENU);
    EXPECT_FALSE(ui::style(licence) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    RECT client = ui::clientRect(licence);
    int w = client.right, h = client.bottom;
    expectPlace(textBox, licence, 10, 10, w - 20, h - 50);
    expectPlace(agree, licence, w / 2 - 160, h - 35, 120, 25);
    expectPlace(disagree, licence, w / 2 + 40, h - 35, 120, 25);

    std::string text = licenceText();
    EXPECT_EQ(ui::windowText(textBox), text);
    EXPECT_EQ(ui::style(textBox), static_cast<LONG>(WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE |
                                                    ES_AUTOVSCROLL | ES_READONLY));
    EXPECT_TRUE(ui::exStyle(textBox) & WS_EX_STATICEDGE);
    // 33 lines of text, the last one wrapped.
    EXPECT_GT(SendMessageA(textBox, EM_GETLINECOUNT, 0, 0), 33);

    // Typing, deleting and cutting leave the text as it is; paging down scrolls it.
    PostMessageA(textBox, WM_CHAR, 'x', 0);
    PostMessageA(textBox, WM_CHAR, VK_BACK, 0);
    PostMessageA(textBox, EM_SETSEL, 0, -1);
    PostMessageA(textBox, WM_CLEAR, 0, 0);
    PostMessageA(textBox, WM_CUT, 0, 0);
    PostMessageA(textBox, WM_KEYDOWN, VK_DELETE, 0);
    ASSERT_TRUE(lnk::drainPostedMessages(textBox));
    EXPECT_EQ(ui::windowText(textBox), text);
    PostMessageA(textBox, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_TRUE(ui::waitFor([&] { return SendMessageA(textBox, EM_GETFIRSTVISIBLELINE, 0, 0) > 0; }));

    ASSERT_TRUE(ui::waitFor([&] { return ui::isEnabled(agree); }));
    DWORD enabledAfter = GetTickCount() - started.startTick;
    EXPECT_GE(enabledAfter, 3900u);
    EXPECT_FALSE(ui::isEnabled(mainWindow));
    EXPECT_TRUE(ui::saveScreenshot("licence-ready"));

    ui::pressButton(agree);
    EXPECT_TRUE(ui::waitFor([&] { return !IsWindow(licence); }));
    EXPECT_TRUE(ui::waitFor([&] { return ui::isEnabled(mainWindow) && lnk::focusOf(mainWindow) == mainWindow; }));

    lnk::InstallRun run = lnk::installAndFinish(started.process, mainWindow);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.boxTexts, (std::vector<std::string>{"`Lnk Test' has been installed at `" + started.app + "'"}));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(lnk::fileExists(started.app + "\\vmkick.exe"));
}

TEST(LicenceEndToEnd, DisagreeEndsQuietlyWithNothingInstalled)
{
    Started started = startInstaller("licence_e2e_disagree", "Terms.");
    EndsWithTest ends{started.process};
    HWND mainWindow = nullptr, textBox = nullptr;
    HWND licence = waitForFinishedLicenceWindow(started, mainWindow, textBox);
    ASSERT_NE(licence, nullptr);
    ui::pressButton(ui::findChild(licence, "Button", "I Disagree"));
    // A notice would keep the process waiting for an answer.
    EXPECT_EQ(ui::waitExit(started.process), 0u);
    EXPECT_FALSE(lnk::directoryExists(started.app));
}

TEST(LicenceEndToEnd, ClosingEndsQuietlyWithNothingInstalled)
{
    Started started = startInstaller("licence_e2e_close", "Terms.");
    EndsWithTest ends{started.process};
    HWND mainWindow = nullptr, textBox = nullptr;
    HWND licence = waitForFinishedLicenceWindow(started, mainWindow, textBox);
    ASSERT_NE(licence, nullptr);
    ui::closeWindow(licence);
    EXPECT_EQ(ui::waitExit(started.process), 0u);
    EXPECT_FALSE(lnk::directoryExists(started.app));
}

TEST(LicenceEndToEnd, NoLicenceTextShowsNoLicenceWindow)
{
    Started started = startInstaller("licence_e2e_none", "");
    EndsWithTest ends{started.process};
    HWND mainWindow = lnk::waitForMainWindow(started.process);
    ASSERT_NE(mainWindow, nullptr);
    // Once the installer answers, it is in its message loop: the licence window's turn
    // has passed.
    ASSERT_TRUE(lnk::waitUntilIdle(mainWindow));
    EXPECT_FALSE(lnk::hasLicenceWindow(started.process));
    EXPECT_TRUE(ui::isEnabled(mainWindow));
    ui::closeWindow(mainWindow);
    EXPECT_EQ(ui::waitExit(started.process), 0u);
}
