// Shortcuts made by real installers under Wine: links on the desktop and two levels below
// the programs menu that load back whole, their records at the head of __uninst.dat, and a
// shortcut whose folder cannot be looked up left out with a warning.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "tests/support/shortcut_fixtures.h"

namespace {

class ShortcutsEndToEnd : public ::testing::Test {
protected:
    lnk::ShellFoldersGuard guard;

    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    // Builds <base>\Setup.exe from the package, runs it through Install and Completed, and
    // answers what follows.
    lnk::InstallRun install(const std::string& base, const wbpack::PackageSpec& package)
    {
        std::string setup = base + "\\Setup.exe";
        std::string error;
        EXPECT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;
        ui::Process process;
        EXPECT_TRUE(ui::startProcess("\"" + setup + "\"", base, process));
        HWND mainWindow = lnk::waitForMainWindow(process);
        EXPECT_NE(mainWindow, nullptr);
        lnk::InstallRun run = lnk::installAndFinish(process, mainWindow);
        ui::killProcess(process);
        ui::closeProcess(process);
        return run;
    }
};

std::string notice(const std::string& installDir)
{
    return "`Lnk Test' has been installed at `" + installDir + "'";
}

// Shows a folder's listing in the shell's own window for the screenshot, then closes it.
void screenshotFolder(const std::string& folder, const std::string& name)
{
    ui::Process explorer;
    ASSERT_TRUE(ui::startProcess("explorer.exe \"" + folder + "\"", "", explorer));
    HWND window = nullptr;
    ui::waitFor([&] {
        std::vector<HWND> windows = ui::topLevelWindows(explorer.pid);
        window = windows.empty() ? nullptr : windows.front();
        return window && lnk::waitUntilIdle(window);
    });
    EXPECT_NE(window, nullptr);
    EXPECT_TRUE(ui::saveScreenshot(name));
    if (window) ui::closeWindow(window);
    if (ui::waitExit(explorer, 10000) == STILL_ACTIVE) ui::killProcess(explorer);
    ui::closeProcess(explorer);
}

}  // namespace

TEST_F(ShortcutsEndToEnd, DesktopAndMenuLinksLoadBackAndLeadTheUninstallLog)
{
    std::string base = lnk::freshTestFolder("shortcuts_e2e_links");
    std::string app = base + "\\app";
    std::string desktop = base + "\\Desktop";
    std::string programs = base + "\\Programs";
    CreateDirectoryA(desktop.c_str(), nullptr);
    CreateDirectoryA(programs.c_str(), nullptr);
    ASSERT_TRUE(lnk::setShellFolder("Desktop", desktop));
    ASSERT_TRUE(lnk::setShellFolder("Programs", programs));

    wbpack::PackageSpec package = lnk::basicPackage(app, "");
    package.shortcuts = {
        {"$D\\Lnk Test.lnk", app + "\\vmkick.exe", app, "--mode \"desk top\"", "Starts Lnk Test"},
        {"$P\\Lnk Group\\Tools\\Lnk Test.lnk", app + "\\vmkick.exe", app, "", "Lnk Test from the menu"},
        {"$P\\Lnk Group\\Tools\\Lnk Website.lnk", "http://example.org/lnk", "", "", ""},
    };
    lnk::InstallRun run = install(base, package);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.boxTexts, (std::vector<std::string>{notice(app)}));
    EXPECT_EQ(run.exitCode, 0u);

    std::string tools = programs + "\\Lnk Group\\Tools";
    lnk::LinkContents onDesktop = lnk::readShellLink(desktop + "\\Lnk Test.lnk");
    ASSERT_TRUE(onDesktop.loaded);
    EXPECT_EQ(onDesktop.target, app + "\\vmkick.exe");
    EXPECT_EQ(onDesktop.workingDir, app);
    EXPECT_EQ(onDesktop.arguments, "--mode \"desk top\"");
    EXPECT_EQ(onDesktop.description, "Starts Lnk Test");

    lnk::LinkContents inMenu = lnk::readShellLink(tools + "\\Lnk Test.lnk");
    ASSERT_TRUE(inMenu.loaded);
    EXPECT_EQ(inMenu.target, app + "\\vmkick.exe");
    EXPECT_EQ(inMenu.workingDir, app);
    EXPECT_EQ(inMenu.arguments, "");
    EXPECT_EQ(inMenu.description, "Lnk Test from the menu");

    // Wine's link object stores a web address resolved against the current directory, so
    // only the address part is compared.
    lnk::LinkContents website = lnk::readShellLink(tools + "\\Lnk Website.lnk");
    ASSERT_TRUE(website.loaded);
    EXPECT_NE(website.target.find("example.org"), std::string::npos) << website.target;
    EXPECT_EQ(website.workingDir, "");
    EXPECT_EQ(website.arguments, "");
    EXPECT_EQ(website.description, "");

    bool complete = false;
    std::vector<lnk::UninstallRecord> log = lnk::readUninstallLog(app + "\\__uninst.dat", &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(log, (std::vector<lnk::UninstallRecord>{
                       {0, tools + "\\Lnk Website.lnk"}, {4, tools},
                       {0, tools + "\\Lnk Test.lnk"}, {4, tools},
                       {0, desktop + "\\Lnk Test.lnk"}, {4, desktop},
                       {0, app + "\\vmkick.exe"}, {3, app + "\\"}}));

    screenshotFolder(tools, "shortcuts-menu-folder");
}

TEST_F(ShortcutsEndToEnd, UnreadableFolderLeavesItsShortcutOutWithAWarning)
{
    std::string base = lnk::freshTestFolder("shortcuts_e2e_missing");
    std::string app = base + "\\app";
    std::string desktop = base + "\\Desktop";
    CreateDirectoryA(desktop.c_str(), nullptr);
    ASSERT_TRUE(lnk::setShellFolder("Desktop", desktop));
    ASSERT_TRUE(lnk::deleteShellFolder("Startup"));

    wbpack::PackageSpec package = lnk::basicPackage(app, "");
    package.shortcuts = {
        {"$s\\Lnk Start.lnk", app + "\\vmkick.exe", app, "", "Never made"},
        {"$D\\Lnk Ok.lnk", app + "\\vmkick.exe", app, "", "Made"},
    };
    lnk::InstallRun run = install(base, package);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.boxTexts, (std::vector<std::string>{
                                "Some files could not be installed (1 in all). The first was:\n\n$s\\Lnk Start.lnk",
                                notice(app)}));
    // Anything left uninstalled makes the installer's exit status 1.
    EXPECT_EQ(run.exitCode, 1u);

    EXPECT_TRUE(lnk::readShellLink(desktop + "\\Lnk Ok.lnk").loaded);
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{{0, desktop + "\\Lnk Ok.lnk"}, {4, desktop},
                                                 {0, app + "\\vmkick.exe"}, {3, app + "\\"}}));
    // Without its folder the link path would have begun at a root or the current folder.
    EXPECT_FALSE(lnk::fileExists("C:\\Lnk Start.lnk"));
    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "__uninst.exe", "vmkick.exe"}));
    EXPECT_EQ(lnk::folderNames(base), (std::vector<std::string>{"Desktop", "Setup.exe", "app"}));
    EXPECT_EQ(lnk::folderNames(desktop), (std::vector<std::string>{"Lnk Ok.lnk"}));
}
