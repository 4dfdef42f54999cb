// The example's whole road under Wine, as a Windows user meets it: HelloSetup.exe (built by
// `make` with wickerbay-pack app from the example's jar) shows the licence, installs, offers to run the program; the
// desktop shortcut starts vmkick.exe, which finds the registered Java and runs hello.jar;
// without a runtime vmkick offers the download instead; __uninst.exe takes it all away.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/road_fixtures.h"
#include "tests/support/shortcut_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

const std::string kSetup = WB_DIST_DIR "\\HelloSetup.exe";

class Road : public ::testing::Test {
protected:
    vmk::LauncherRegistryGuard registry;  // starts with no Java runtime registered
    road::Places places = road::places();
    std::string workDir = vmk::freshTestFolder("road");

    void SetUp() override
    {
        CoInitialize(nullptr);
        ASSERT_FALSE(places.desktop.empty());
        ASSERT_FALSE(places.programs.empty());
        road::removeLeftovers(places);
    }
    void TearDown() override
    {
        road::removeLeftovers(places);
        CoUninitialize();
    }

    // Runs the desktop shortcut's target in its working folder, as the shell would.
    bool startShortcut(const lnk::LinkContents& link, const std::string& arguments, ui::Process& out)
    {
        return ui::startProcess("\"" + link.target + "\" " + arguments, link.workingDir, out);
    }
};

TEST_F(Road, HelloSetupInstallsRunsThroughItsShortcutAndUninstalls)
{
    // Install: the licence first, then the main window.
    ui::Process installer;
    ASSERT_TRUE(road::startInstaller(kSetup, workDir, installer));
    HWND mainWindow = road::agreeToLicence(installer, "road-licence");
    ASSERT_TRUE(mainWindow);
    EXPECT_EQ(ui::windowText(mainWindow), "Orvanstead Wickerbay");
    ASSERT_TRUE(road::installUntilCompleted(mainWindow));
    ui::saveScreenshot("road-completed");
    HWND completed = ui::findChild(mainWindow, "Button", "Completed");
    ASSERT_TRUE(completed);
    ui::pressButton(completed);

    HWND notice = ui::waitForMessageBox(installer.pid);
    ASSERT_TRUE(notice);
    EXPECT_EQ(ui::windowText(notice), "Notice");
    EXPECT_EQ(ui::messageBoxText(notice),
              "`Hello World' has been installed at `C:\\Program Files\\Hello World'. Do you want to run it now?");
    EXPECT_EQ(ui::messageBoxIcon(notice), static_cast<UINT>(MB_ICONQUESTION));
    ui::answerMessageBox(notice, IDNO);
    EXPECT_EQ(ui::waitExit(installer), 0u);
    ui::closeProcess(installer);

    // Every file of the application folder, byte for byte, and nothing else but the log.
    const std::string app = road::exampleAppFolder();
    std::vector<std::string> packed = road::filesBelow(app);
    ASSERT_GE(packed.size(), 8u) << app;
    std::vector<std::string> expected = packed;
    expected.push_back("__uninst.dat");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(road::filesBelow(places.installDir), expected);
    for (const std::string& file : packed) {
        std::string original = road::readBytes(app + "\\" + file);
        EXPECT_TRUE(road::readBytes(places.installDir + "\\" + file) == original) << file;
    }

    // The shortcuts, as loaded back through the shell's link object.
    lnk::LinkContents desktop = lnk::readShellLink(places.desktopLink());
    ASSERT_TRUE(desktop.loaded);
    EXPECT_EQ(desktop.target, "C:\\Program Files\\Hello World\\vmkick.exe");
    EXPECT_EQ(desktop.workingDir, "C:\\Program Files\\Hello World");
    EXPECT_EQ(desktop.arguments, "");
    EXPECT_EQ(desktop.description, "Start Hello World");
    EXPECT_TRUE(lnk::fileExists(places.desktopWebLink()));
    EXPECT_EQ(lnk::folderNames(places.menuFolder()),
              (std::vector<std::string>{"Hello World on the Web.lnk", "Hello World.lnk", "Uninstall Hello World.lnk"}));
    EXPECT_EQ(lnk::readShellLink(places.menuFolder() + "\\Uninstall Hello World.lnk").target,
              "C:\\Program Files\\Hello World\\__uninst.exe");

    // With the host's Java registered, the shortcut's vmkick starts hello.jar in the install
    // folder with the arguments given.
    ASSERT_TRUE(vmk::addRuntime("1.8.0_402", road::hostJavaHome(false)));
    ui::Process launcher;
    ASSERT_TRUE(startShortcut(desktop, "one \"two words\"", launcher));
    EXPECT_EQ(ui::waitExit(launcher), 0u);
    ui::closeProcess(launcher);
    const std::string runLog = places.installDir + "\\hello-run.log";
    std::string line;
    ASSERT_TRUE(ui::waitFor([&] { return (line = vmk::readFile(runLog)).find('\n') != std::string::npos; }, 120000));
    // Java names its working folder by the host's path; the file only that folder holds
    // shows it is the install folder.
    const std::string prefix = "hello ran in ";
    const std::string suffix = " with 2 arguments: [one] [two words]\n";
    ASSERT_GT(line.size(), prefix.size() + suffix.size()) << line;
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix);
    std::string hostFolder = "Z:" + line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    for (char& c : hostFolder) if (c == '/') c = '\\';
    EXPECT_EQ(road::readBytes(hostFolder + "\\vmkick.cfg"), road::readBytes(app + "\\vmkick.cfg")) << hostFolder;
    ASSERT_TRUE(DeleteFileA(runLog.c_str()));

    // Without a runtime the launcher says so and offers the download; No ends it with 0. The
    // caption is the product's name and the version the one the jar's class files need
    // (Java 8), both written into vmkick.cfg by wickerbay-pack app.
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft"), ERROR_SUCCESS);
    ASSERT_TRUE(startShortcut(desktop, "", launcher));
    vmk::MessageBoxSeen reason = vmk::answerNextBox(launcher, "road-no-runtime", IDOK);
    EXPECT_EQ(reason.caption, "Hello World");
    EXPECT_EQ(reason.text, "The Java Runtime Environment was not found!");
    vmk::MessageBoxSeen question = vmk::answerNextBox(launcher, "road-download-question", IDNO);
    EXPECT_EQ(question.caption, "Get Java Runtime Environment");
    EXPECT_EQ(question.text,
              "You need to install the Java Runtime Environment version 1.8.0 (or a newer version) prior using "
              "Hello World. Do you want to visit the Java site to download the latest version now? You will need an "
              "active internet connection if you answer yes.");
    EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(ui::waitExit(launcher), 0u);
    ui::closeProcess(launcher);
    EXPECT_FALSE(lnk::fileExists(runLog));

    // The uninstaller from the programs menu takes everything away, itself included.
    lnk::LinkContents uninstall = lnk::readShellLink(places.menuFolder() + "\\Uninstall Hello World.lnk");
    ui::Process uninstaller;
    ASSERT_TRUE(startShortcut(uninstall, "", uninstaller));
    vmk::MessageBoxSeen ask = vmk::answerNextBox(uninstaller, "road-uninstall-question", IDYES);
    EXPECT_EQ(ask.caption, "Uninstall");
    EXPECT_EQ(ask.text, "Do you want to remove the program installed at `C:\\Program Files\\Hello World'?");
    vmk::MessageBoxSeen done = vmk::answerNextBox(uninstaller, "road-uninstalled", IDOK);
    EXPECT_EQ(done.caption, "Uninstall");
    EXPECT_EQ(done.text, "`Hello World' has been removed.");
    EXPECT_EQ(ui::waitExit(uninstaller), 0u);
    ui::closeProcess(uninstaller);
    EXPECT_TRUE(ui::waitFor([&] { return !lnk::directoryExists(places.installDir); }));
    EXPECT_FALSE(lnk::fileExists(places.desktopLink()));
    EXPECT_FALSE(lnk::fileExists(places.desktopWebLink()));
    EXPECT_FALSE(lnk::directoryExists(places.menuFolder()));
    // The log names only each shortcut's own folder, so the publisher's folder that the
    // walk created above it stays behind, empty.
    EXPECT_EQ(lnk::folderNames(places.publisherMenu()), std::vector<std::string>{});
    EXPECT_TRUE(lnk::directoryExists(places.desktop));
    EXPECT_TRUE(lnk::directoryExists(places.programs));
}

TEST_F(Road, DisagreeingEndsTheInstallerWithNothingInstalled)
{
    ui::Process installer;
    ASSERT_TRUE(road::startInstaller(kSetup, workDir, installer));
    HWND licence = ui::waitForWindow(installer.pid, "LicWin", "License");
    ASSERT_TRUE(licence);
    HWND disagree = ui::findChild(licence, "Button", "I Disagree");
    ASSERT_TRUE(disagree);
    ui::pressButton(disagree);
    EXPECT_EQ(ui::waitExit(installer), 0u);
    ui::closeProcess(installer);
    EXPECT_FALSE(lnk::directoryExists(places.installDir));
    EXPECT_FALSE(lnk::fileExists(places.desktopLink()));
}

}  // namespace
