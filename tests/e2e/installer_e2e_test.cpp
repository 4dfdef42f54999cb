// The installer's main flow under Wine, on installers built with the package builder's
// library: the main window as placed and styled, the progress bar before, during and after
// the installation (with screenshots), the tree it writes byte for byte, the completion
// notice of both kinds with its owner, the run command started in the install directory,
// closing the window before and after installing, a relative install directory,
// command-line arguments that change nothing, and a long installation during which the
// window is never taken for hung and input changes nothing.
// (The faults: installer_e2e_faults_test.cpp. The engine's own cases: installer_engine_test.)
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/installer_e2e.h"
#include "tests/support/installer_fixtures.h"
#include "tests/support/launcher_fixtures.h"
#include "tests/support/shortcut_fixtures.h"

namespace {

// Large enough that the bar is seen part-way: several MB that bzip2 cannot shrink.
constexpr std::size_t kBigFileSize = 8 * 1024 * 1024;

const char kTitle[] = "Orvanstead Wickerbay";

// A tree of the kinds of file and folder a package holds: an empty file, every byte
// value, names with blanks, a file over several 32768-byte chunks, one of several MB,
// nested folders and an empty one.
void writeSourceTree(const std::string& root)
{
    std::string allBytes;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    }
    ASSERT_TRUE(vmk::makeFolders(root + "\\data\\deep\\deeper"));
    ASSERT_TRUE(vmk::makeFolders(root + "\\empty folder"));
    ASSERT_TRUE(vmk::writeFile(root + "\\Read Me.txt", "Read me first.\r\n"));
    ASSERT_TRUE(vmk::writeFile(root + "\\empty.dat", ""));
    ASSERT_TRUE(vmk::writeFile(root + "\\all bytes.bin", allBytes));
    ASSERT_TRUE(vmk::writeFile(root + "\\data\\big.bin", inst::noise(kBigFileSize, 11)));
    ASSERT_TRUE(vmk::writeFile(root + "\\data\\chunks.bin", inst::noise(70000, 12)));
    ASSERT_TRUE(vmk::writeFile(root + "\\data\\deep\\deeper\\leaf.txt", "leaf"));
}

wbpack::PackageHeader header(const std::string& productName, const std::string& installDir,
                             const std::string& runCommand = "")
{
    return {productName, installDir, runCommand, "http://example.org/" + productName, "Wickerbay tests", ""};
}

std::string notice(const std::string& productName, const std::string& installDir)
{
    return "`" + productName + "' has been installed at `" + installDir + "'";
}

std::string question(const std::string& productName, const std::string& installDir)
{
    return notice(productName, installDir) + ". Do you want to run it now?";
}

// A small package whose run command, when it has one, starts the recorder it carries.
wbpack::PackageSpec smallPackage(const std::string& productName, const std::string& installDir,
                                 const std::string& runCommand = "")
{
    wbpack::PackageSpec package;
    package.header = header(productName, installDir, runCommand);
    package.entries.push_back(wbpack::memoryFileEntry("runner.exe", vmk::readFile(vmk::recorderPath())));
    package.entries.push_back(wbpack::enterDirEntry("docs"));
    package.entries.push_back(wbpack::memoryFileEntry("guide.txt", "How to use it.\r\n"));
    package.entries.push_back(wbpack::leaveDirEntry());
    return package;
}

// A child's window rectangle in its parent's client coordinates.
RECT rectIn(HWND child, HWND parent)
{
    RECT r = ui::windowRect(child);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Everything fixed about the waiting main window and its button.
void expectWaitingMainWindow(HWND window)
{
    EXPECT_EQ(ui::className(window), "MainWin");
    EXPECT_EQ(ui::windowText(window), kTitle);
    EXPECT_EQ(ui::owner(window), nullptr);
    EXPECT_TRUE(ui::isEnabled(window));

    RECT outer = ui::windowRect(window);
    RECT desktop = ui::windowRect(GetDesktopWindow());
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, 140);
    // Each extent halved on its own; the desktop's origin not added.
    EXPECT_EQ(outer.left, (desktop.right - desktop.left) / 2 - width / 2);
    EXPECT_EQ(outer.top, (desktop.bottom - desktop.top) / 2 - height / 2);

    // WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX, to which the system adds the caption's dialog
    // frame (WS_CAPTION) for an overlapped window; shown; no maximise box, no sizing border.
    const LONG chosen = WS_BORDER | WS_DLGFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME |
                        WS_POPUP | WS_CHILD | WS_VISIBLE | WS_DISABLED;
    EXPECT_EQ(ui::style(window) & chosen, static_cast<LONG>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE))
        << std::hex << ui::style(window);
    // WS_EX_APPWINDOW, and the edge the system gives every captioned window.
    EXPECT_EQ(ui::exStyle(window) & ~WS_EX_WINDOWEDGE, static_cast<LONG>(WS_EX_APPWINDOW))
        << std::hex << ui::exStyle(window);
    EXPECT_EQ(GetClassLongA(window, GCL_STYLE), static_cast<DWORD>(CS_OWNDC));

    std::vector<HWND> controls = ui::children(window);
    ASSERT_EQ(controls.size(), 1u);
    HWND button = controls.front();
    EXPECT_EQ(ui::className(button), "Button");
    EXPECT_EQ(ui::windowText(button), "Install");
    EXPECT_TRUE(ui::isEnabled(button));
    EXPECT_EQ(ui::style(button), static_cast<LONG>(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON)) << std::hex
                                                                                          << ui::style(button);
    EXPECT_EQ(ui::exStyle(button), 0) << std::hex << ui::exStyle(button);
    EXPECT_EQ(GetDlgCtrlID(button), 0);
    RECT client = ui::clientRect(window);
    RECT place = rectIn(button, window);
    EXPECT_EQ(place.left, client.right / 2 - 60);
    EXPECT_EQ(place.top, client.bottom - 35);
    EXPECT_EQ(place.right - place.left, 120);
    EXPECT_EQ(place.bottom - place.top, 25);
}

// Nothing that a run command would write appears: the installer has ended, so a start
// would have happened already; the recorder gets a second to write its log.
bool recorderStaysIdle(const std::string& recorder)
{
    return !ui::waitFor([&] { return lnk::fileExists(recorder + ".log"); }, 1000);
}

}  // namespace

TEST(InstallerEndToEnd, WindowShowsProgressAndInstallsTheTreeByteForByte)
{
    inst::TestFolder folder("installer_e2e_tree");
    std::string source = folder.path + "\\source";
    std::string app = folder.path + "\\Program Files\\Tree Test";
    std::string setup = folder.path + "\\Setup.exe";
    writeSourceTree(source);
    wbpack::PackageSpec package;
    std::string error;
    ASSERT_TRUE(inst::packageFromFolder(header("Tree Test", app), source, package, error)) << error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    expectWaitingMainWindow(window);
    HWND button = inst::installButton(window);
    ASSERT_NE(button, nullptr);

    // Waiting: the prompt at (72, 48) and no bar (nothing black left of the prompt).
    EXPECT_TRUE(ui::waitFor([&] { return inst::anyBlack(window, 72, 200, 48, 60); }));
    EXPECT_TRUE(inst::waitUntilDrawn(window));
    EXPECT_FALSE(inst::anyBlack(window, 8, 71, 40, 70));
    EXPECT_FALSE(lnk::directoryExists(app));
    EXPECT_TRUE(ui::saveScreenshot("installer-before"));
    // The manifest's dependency: the common controls 6 from the side-by-side store are in
    // the process (under Wine their file calls itself 5.81, so their folder tells).
    std::vector<std::string> controls = ui::loadedModulePaths(run.process, "comctl32.dll");
    EXPECT_TRUE(std::any_of(controls.begin(), controls.end(), [](const std::string& path) {
        return path.find("\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.") != std::string::npos;
    })) << ::testing::PrintToString(controls);

    // Installing: no message is handled now, so the button is read without a message
    // (another process's window text comes from the system) and the bar from the screen.
    ui::pressButton(button);
    inst::Bar during;
    bool started = false;
    bool partWay = false;
    ui::waitFor([&] {
        // Enabled again after it was disabled: the installation ended unseen.
        if (ui::isEnabled(button)) return started;
        started = true;
        during = inst::readBar(window);
        partWay = during.fill[3] > 0 && during.fill[3] < during.span;
        return partWay;
    }, 60000);
    char label[64] = {0};
    GetWindowTextA(button, label, sizeof label);
    EXPECT_TRUE(ui::saveScreenshot("installer-during"));
    ASSERT_TRUE(partWay) << "the bar was never seen part-way";
    EXPECT_STREQ(label, "Installing...");
    EXPECT_TRUE(during.frame);
    EXPECT_TRUE(during.gapClear);
    EXPECT_TRUE(during.beyondClear);
    for (int row = 1; row < 7; ++row) EXPECT_EQ(during.fill[row], during.fill[0]) << "row " << 52 + row;

    // Completed: the full bar ends one pixel inside the frame (and a prompt left under it
    // would show in the gap rows).
    ASSERT_TRUE(ui::waitFor([&] { return ui::windowText(button) == "Completed" && ui::isEnabled(button); }, 120000));
    EXPECT_TRUE(inst::waitUntilDrawn(window));
    inst::Bar after = inst::readBar(window);
    EXPECT_EQ(after.right, ui::clientRect(window).right);
    EXPECT_TRUE(after.frame);
    EXPECT_TRUE(after.gapClear);
    EXPECT_TRUE(after.beyondClear);
    for (int row = 0; row < 7; ++row) EXPECT_EQ(after.fill[row], after.span) << "row " << 52 + row;
    EXPECT_TRUE(ui::saveScreenshot("installer-after"));

    ui::pressButton(button);
    inst::Box box = inst::waitForBox(run.process);
    EXPECT_TRUE(ui::saveScreenshot("installer-notice"));
    expectBox(box, "Notice", notice("Tree Test", app), MB_ICONINFORMATION, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 0u);

    EXPECT_EQ(inst::treeDifferences(inst::readTree(source), inst::readTree(app), {"__uninst.dat"}),
              std::vector<std::string>{});
    bool complete = false;
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat", &complete), inst::expectedLog(app, package.entries));
    EXPECT_TRUE(complete);
    // Nothing beside the install directory.
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Program Files", "Setup.exe", "source"}));
    EXPECT_EQ(lnk::folderNames(folder.path + "\\Program Files"), std::vector<std::string>{"Tree Test"});
}

TEST(InstallerEndToEnd, YesRunsTheRunCommandInTheInstallDirectory)
{
    char local[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local), S_OK);
    // The installer runs elevated, so it starts the program with the shell's rights.
    inst::StandInShell shell;
    ASSERT_EQ(GetShellWindow(), shell.window);
    // Machine-wide, then per user: there the builder names the program below $L and the
    // installer puts the user's folder in its place.
    for (bool perUser : {false, true}) {
        SCOPED_TRACE(perUser ? "per user" : "machine-wide");
        inst::TestFolder folder("installer_e2e_run_yes");
        // Given with its trailing backslash; the notice shows the folder without it.
        std::string app = perUser ? std::string(local) + "\\Programs\\Run Test" : folder.path + "\\Run Here";
        std::string runCommand = "\"" + app + "\\runner.exe\" --first \"two words\" last";
        std::string setup = folder.path + "\\Setup.exe";
        std::string error;
        ui::removeTree(app);
        wbpack::PackageSpec package = perUser ? smallPackage("Run Test", "$L\\Programs\\Run Test\\",
                                                             "runner.exe --first \"two words\" last")
                                              : smallPackage("Run Test", app + "\\", runCommand);
        ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

        inst::Running run;
        // Started from another folder: the run command's folder comes from the installation.
        ASSERT_TRUE(inst::startInstaller(setup, "", "C:\\", run));
        HWND window = inst::waitForReadyMainWindow(run.process);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(inst::installUntilCompleted(window));
        ui::pressButton(inst::installButton(window));
        inst::Box box = inst::waitForBox(run.process);
        EXPECT_TRUE(ui::saveScreenshot("installer-run-question"));
        expectBox(box, "Notice", question("Run Test", app), MB_ICONQUESTION, {IDYES, IDNO}, window);
        EXPECT_TRUE(inst::answerBox(box, IDYES));
        EXPECT_EQ(ui::waitExit(run.process), 0u);

        std::vector<vmk::RecorderRun> starts = vmk::waitForRecorderRuns(app + "\\runner.exe");
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].commandLine, runCommand);
        EXPECT_EQ(starts[0].workingDir, app);
        EXPECT_EQ(starts[0].show, SW_SHOW);
        // The recorder's log beside it is its own; the installation left the rest.
        ui::waitFor([&] { return !vmk::programRunning(app + "\\runner.exe"); });
        EXPECT_EQ(lnk::folderNames(app),
                  (std::vector<std::string>{"__uninst.dat", "docs", "runner.exe", "runner.exe.log"}));
    }
}

// A bare program name is the install folder's program, quoted: one planted beside the
// installer (where a download leaves whatever came with it) does not run, whether the
// builder wrote the full path (its packages) or the installer completes it (a package made
// some other way). With no shell to take the user's rights from, the elevated installer
// starts nothing and says so.
TEST(InstallerEndToEnd, BareRunCommandStartsTheInstalledProgramNotOneBesideTheInstaller)
{
    inst::TestFolder folder("installer_e2e_run_bare");
    std::string app = folder.path + "\\Bare Run";
    std::string setup = folder.path + "\\Setup.exe";
    std::string planted = folder.path + "\\runner.exe";
    std::string started = "\"" + app + "\\runner.exe\" -x";
    ASSERT_TRUE(vmk::installRecorder(planted));
    wbpack::PackageSpec package = smallPackage("Bare Run", app, "runner.exe -x");
    std::string runner = vmk::readFile(vmk::recorderPath());
    std::string rawStream = wbpack::encodeHeader(package.header, {}) + wbpack::encodeFileEntry("runner.exe", runner);

    for (const char* made : {"by the builder", "raw", "no shell"}) {
        SCOPED_TRACE(made);
        bool shellPresent = std::string(made) != "no shell";
        auto shell = shellPresent ? std::make_unique<inst::StandInShell>() : nullptr;
        ASSERT_EQ(GetShellWindow(), shellPresent ? shell->window : nullptr);
        ui::removeTree(app);
        std::string error;
        ASSERT_TRUE(std::string(made) == "raw" ? inst::buildRawInstaller(static_cast<std::uint32_t>(runner.size()), rawStream, setup, error)
                                               : lnk::buildTestInstaller(package, setup, error)) << error;

        inst::Running run;
        ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
        HWND window = inst::waitForReadyMainWindow(run.process);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(inst::installUntilCompleted(window));
        ui::pressButton(inst::installButton(window));
        inst::Box box = inst::waitForBox(run.process);
        expectBox(box, "Notice", question("Bare Run", app), MB_ICONQUESTION, {IDYES, IDNO}, window);
        EXPECT_TRUE(inst::answerBox(box, IDYES));
        if (!shellPresent) {
            inst::Box refused = inst::waitForBox(run.process);
            EXPECT_TRUE(ui::saveScreenshot("installer-run-refused"));
            expectBox(refused, "Notice",
                      "`" + started + "' was not started: this installer runs with administrator rights, which the "
                      "program must not have, and the rights of the user signed in to the desktop could not be had. "
                      "Start it from its shortcut or its folder.",
                      MB_ICONEXCLAMATION, {IDOK}, window);
            EXPECT_TRUE(inst::answerBox(refused, IDOK));
        }
        EXPECT_EQ(ui::waitExit(run.process), 0u);

        if (shellPresent) {
            std::vector<vmk::RecorderRun> starts = vmk::waitForRecorderRuns(app + "\\runner.exe");
            ASSERT_EQ(starts.size(), 1u);
            EXPECT_EQ(starts[0].commandLine, started);
            EXPECT_EQ(starts[0].workingDir, app);
            ui::waitFor([&] { return !vmk::programRunning(app + "\\runner.exe"); });
        } else {
            EXPECT_TRUE(vmk::recorderRuns(app + "\\runner.exe").empty());
        }
        EXPECT_TRUE(recorderStaysIdle(planted));
    }
}

TEST(InstallerEndToEnd, NoRunsNothingAndArgumentsChangeNothing)
{
    inst::TestFolder folder("installer_e2e_run_no");
    std::string app = folder.path + "\\No Run";
    std::string setup = folder.path + "\\Setup.exe";
    std::string elsewhere = folder.path + "\\elsewhere";
    std::string error;
    wbpack::PackageSpec package = smallPackage("No Run Test", app, "\"" + app + "\\runner.exe\"");
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    // Switches other installers know: silent, another folder, help.
    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "/S /D=" + elsewhere + " --silent /? -y \"" + elsewhere + "\"",
                                     folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    expectWaitingMainWindow(window);
    // Still waiting for the user: nothing installed yet.
    EXPECT_TRUE(ui::isRunning(run.process));
    EXPECT_FALSE(lnk::directoryExists(app));
    ASSERT_TRUE(inst::installUntilCompleted(window));
    ui::pressButton(inst::installButton(window));
    inst::Box box = inst::waitForBox(run.process);
    expectBox(box, "Notice", question("No Run Test", app), MB_ICONQUESTION, {IDYES, IDNO}, window);
    EXPECT_TRUE(inst::answerBox(box, IDNO));
    EXPECT_EQ(ui::waitExit(run.process), 0u);

    EXPECT_TRUE(recorderStaysIdle(app + "\\runner.exe"));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"No Run", "Setup.exe"}));
    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "docs", "runner.exe"}));
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"), inst::expectedLog(app, package.entries));
}

TEST(InstallerEndToEnd, ClosingBeforeInstallExtractsNothing)
{
    inst::TestFolder folder("installer_e2e_close_early");
    std::string app = folder.path + "\\never\\app";
    std::string setup = folder.path + "\\Setup.exe";
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(smallPackage("Close Test", app), setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ui::closeWindow(window);
    // A notice would keep the process waiting for an answer.
    EXPECT_EQ(ui::waitExit(run.process), 0u);
    EXPECT_EQ(lnk::folderNames(folder.path), std::vector<std::string>{"Setup.exe"});
}

TEST(InstallerEndToEnd, ClosingAfterCompletionStillShowsTheNoticeWithoutOwner)
{
    inst::TestFolder folder("installer_e2e_close_late");
    std::string app = folder.path + "\\app";
    std::string setup = folder.path + "\\Setup.exe";
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(smallPackage("Close Late", app), setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(inst::installUntilCompleted(window));
    ui::closeWindow(window);
    inst::Box box = inst::waitForBox(run.process);
    // The default close handling has destroyed the main window before the notice.
    EXPECT_FALSE(IsWindow(window));
    expectBox(box, "Notice", notice("Close Late", app), MB_ICONINFORMATION, {IDOK}, nullptr);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 0u);
    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "docs", "runner.exe"}));
}

// The names below a folder as the host's file system holds them (UTF-8 bytes), listed by
// a host script (tests/e2e/installer.cmake) that Wine starts like a Windows program.
std::string hostNames(const std::string& folder)
{
    // A name of its own for each listing: a list left by an earlier run is never taken.
    std::string list = folder + "-host-names-" + std::to_string(GetTickCount64()) + ".txt";
    std::string dir = ui::hostPath(folder), out = ui::hostPath(list);
    std::string script = ui::hostPath(WB_BINARY_DIR "\\tests\\host-names");
    if (dir.empty() || out.empty() || script.empty()) return "(no host path)";
    if (!ui::runOnHost({script, dir, out})) return "(host-names failed)";
    bool listed = lnk::fileExists(list);
    std::string names = vmk::readFile(list);
    DeleteFileA(list.c_str());
    return listed ? names : "(host-names left no list)";
}

TEST(InstallerEndToEnd, NamesOutsideAsciiInstallAsTheCodePageSpellsThem)
{
    inst::TestFolder folder("installer_e2e_code_page");
    const std::string cafe = "Caf\u00e9 Cr\u00e8me";   // UTF-8, as a manifest holds it
    std::string setup = folder.path + "\\Setup.exe";
    wbpack::PackageSpec package;
    package.header = header(cafe, folder.path + "\\" + cafe);
    package.entries = {wbpack::enterDirEntry(cafe), wbpack::memoryFileEntry(cafe + ".txt", "caf\u00e9"),
                       wbpack::leaveDirEntry()};
    std::string error;
    ASSERT_TRUE(wbpack::encodePackageSpec(package, wbpack::TextLabels(), error)) << error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(inst::waitUntilDrawn(window));
    EXPECT_TRUE(ui::saveScreenshot("installer-code-page-main"));
    ASSERT_TRUE(inst::installUntilCompleted(window));
    ui::pressButton(inst::installButton(window));
    inst::Box box = inst::waitForBox(run.process);
    EXPECT_TRUE(ui::saveScreenshot("installer-code-page-notice"));
    // The box's text read back in the test prefix's code page, 1252.
    const std::string ansi = "Caf\xE9 Cr\xE8me";
    expectBox(box, "Notice", notice(ansi, folder.path + "\\" + ansi), MB_ICONINFORMATION, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 0u);

    EXPECT_EQ(vmk::readFile(folder.path + "\\" + ansi + "\\" + ansi + "\\" + ansi + ".txt"), "caf\u00e9");
    EXPECT_EQ(hostNames(folder.path), "./" + cafe + "\n./" + cafe + "/" + cafe + "\n./" + cafe + "/" + cafe + "/" +
                                          cafe + ".txt\n./" + cafe + "/__uninst.dat\n./Setup.exe\n");
}

TEST(InstallerEndToEnd, SignedInstallerInstallsExactlyLikeTheUnsigned)
{
    // Made by signed_installer.sh with wickerbay-pack build --sign, and verified there.
    const std::string made = WB_BINARY_DIR "\\tests\\signed";
    const std::string app = "C:\\wbtest\\signed-install";
    std::vector<std::vector<inst::TreeItem>> trees;
    for (const char* setup : {"Unsigned.exe", "Signed.exe"}) {
        SCOPED_TRACE(setup);
        ui::removeTree(app);
        inst::Running run;
        ASSERT_TRUE(inst::startInstaller(made + "\\" + setup, "", made, run));
        HWND window = inst::waitForReadyMainWindow(run.process);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(inst::installUntilCompleted(window));
        ui::pressButton(inst::installButton(window));
        EXPECT_TRUE(inst::answerNextBox(run.process, IDOK));
        EXPECT_EQ(ui::waitExit(run.process), 0u);
        trees.push_back(inst::readTree(app));
    }
    ui::removeTree(app);
    EXPECT_EQ(inst::treeDifferences(inst::readTree(made + "\\app"), trees[0], {"__uninst.dat"}),
              std::vector<std::string>{});
    EXPECT_EQ(inst::treeDifferences(trees[0], trees[1]), std::vector<std::string>{});
}

TEST(InstallerEndToEnd, RelativeInstallDirIsUsedAndShownAbsolute)
{
    inst::TestFolder folder("installer_e2e_relative");
    std::string setup = folder.path + "\\Setup.exe";
    std::string error;
    wbpack::PackageSpec package = smallPackage("Relative Test", "Relative\\App");
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    // Below the folder the installer is started in.
    std::string app = folder.path + "\\Relative\\App";
    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(inst::installUntilCompleted(window));
    ui::pressButton(inst::installButton(window));
    inst::Box box = inst::waitForBox(run.process);
    expectBox(box, "Notice", notice("Relative Test", app), MB_ICONINFORMATION, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 0u);

    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Relative", "Setup.exe"}));
    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "docs", "runner.exe"}));
    // The log names absolute paths, which mean the same to an uninstaller started elsewhere.
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"), inst::expectedLog(app, package.entries));
}

TEST(InstallerEndToEnd, ALongInstallationNeverHangsAndInputMeanwhileChangesNothing)
{
    inst::TestFolder folder("installer_e2e_long");
    std::string app = folder.path + "\\Long";
    std::string setup = folder.path + "\\Setup.exe";
    wbpack::PackageSpec package;
    package.header = header("Long Test", app);
    // Long enough, with time to spare on a fast machine, for a hang to show.
    package.entries = inst::largePayload(6144);
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    HWND button = inst::installButton(window);
    ui::pressButton(button);
    ASSERT_TRUE(ui::waitFor([&] { return !ui::isEnabled(button); }));
    DWORD started = GetTickCount();
    // What a user might do meanwhile: click the button, press Alt+F4 (bit 29: Alt is down).
    PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 0x20000001);
    // The request to close that the task list sends, handled when the engine looks at its
    // queue: refused while it runs.
    DWORD_PTR ignored = 0;
    EXPECT_NE(SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, ui::kDeadlineMs, &ignored), 0);

    // Windows takes a window for hung after five seconds without a look at its queue; the
    // bar is read once past that point and again later.
    bool everHung = false;
    int pastFive = -1;
    int later = -1;
    ui::waitFor([&] {
        everHung = everHung || IsHungAppWindow(window);
        if (!IsWindow(window) || ui::isEnabled(button)) return true;
        int fill = inst::readBar(window).fill[3];
        if (GetTickCount() - started > 5500) {
            if (pastFive < 0) {
                pastFive = fill;
            } else if (fill > pastFive && later < 0) {
                later = fill;
                EXPECT_TRUE(ui::saveScreenshot("installer-long-during"));
            }
        }
        return false;
    }, 120000);
    DWORD lasted = GetTickCount() - started;
    ASSERT_TRUE(IsWindow(window)) << "the window was closed during the installation";
    ASSERT_GT(lasted, 6000u) << "too short to show a hang; the payload needs to grow";
    EXPECT_FALSE(everHung);
    EXPECT_GT(later, pastFive) << "the bar did not move after five seconds";

    // The click and the keys were dropped: the window is still there, and the notice comes
    // only when Completed is pressed, owned by it.
    ASSERT_TRUE(ui::waitFor([&] { return ui::windowText(button) == "Completed"; }));
    ui::pressButton(button);
    inst::Box box = inst::waitForBox(run.process);
    expectBox(box, "Notice", notice("Long Test", app), MB_ICONINFORMATION, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 0u);
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"), inst::expectedLog(app, package.entries));
}
