// Fixtures of the installer's end-to-end tests: test folders below C:\wbtest that are
// removed after each test, source trees written and read back whole, installers built with
// the package builder's library (sound ones from a folder, damaged ones from raw bytes),
// the installer's message boxes read with their owner and answered, and the progress bar
// read back from the screen's pixels.
//
// Built on the shortcut fixtures (lnk::: folders, uninstall logs, building installers) and
// the launcher fixtures (vmk::: files, the recorder that stands in for a run command).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/shortcut_fixtures.h"
#include "tests/support/ui_driver.h"
#include "tools/pack/pack.h"

namespace inst {

// C:\wbtest\<name>, emptied and created afresh; removed again, whole, on destruction.
struct TestFolder {
    std::string path;
    explicit TestFolder(const std::string& name);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
};

// A started installer that is ended (if still running) and released on destruction, so
// that a failed assertion never leaves a process holding the test folder.
struct Running {
    ui::Process process;
    ~Running();
};

// A window of this process that Windows names the desktop's shell (GetShellWindow), as
// Explorer's is on a user's desktop; Wine's desktop has none. An elevated installer starts
// its run command with the rights of the shell's process. Gone again on destruction.
// The tests check that GetShellWindow() names `window`.
struct StandInShell {
    HWND window = nullptr;
    StandInShell();
    ~StandInShell();
    StandInShell(const StandInShell&) = delete;
    StandInShell& operator=(const StandInShell&) = delete;
};

// Deterministic bytes that bzip2 cannot shrink.
std::string noise(std::size_t size, std::uint32_t seed);
// 24 MB of such bytes in top-level files part0001.bin, part0002.bin, ... of equal size (at
// most 9999 files): an installation that lasts several seconds under Wine, where creating
// a file costs milliseconds, with a bar that moves all the while.
std::vector<wbpack::PackEntry> largePayload(int files);

// Every directory and file below root, '\'-joined relative paths in sorted order, each
// file with its bytes.
struct TreeItem {
    std::string path;
    bool directory = false;
    std::string bytes;
};
std::vector<TreeItem> readTree(const std::string& root);
// What differs between two trees (missing, extra, kind, size, first differing byte); empty
// when they are byte for byte the same. Names in `ignoreInActual` are skipped at the top of
// `actual`.
std::vector<std::string> treeDifferences(const std::vector<TreeItem>& expected, const std::vector<TreeItem>& actual,
                                         const std::vector<std::string>& ignoreInActual = {});

// The uninstall log that the installer must write for these entries below installDir (given
// without trailing backslash) and no shortcuts, in file order (newest first); files named
// __uninst.exe are left out, in every directory.
std::vector<lnk::UninstallRecord> expectedLog(const std::string& installDir,
                                              const std::vector<wbpack::PackEntry>& entries);

// A package of the given texts whose entries are the tree below sourceDir, as the builder
// walks it.
bool packageFromFolder(const wbpack::PackageHeader& header, const std::string& sourceDir,
                       wbpack::PackageSpec& package, std::string& error);
// Setup.exe from the built stub, the given package total and one bzip2 stream of exactly
// `stream`, unchecked: for packages the builder refuses to make.
bool buildRawInstaller(std::uint32_t total, const std::string& stream, const std::string& setupPath,
                       std::string& error);

std::string stubPath();

// Starts setupPath (quoted) with the given argument text in workDir.
bool startInstaller(const std::string& setupPath, const std::string& arguments, const std::string& workDir,
                    Running& out);
// The installer's main window once it is shown and its thread is in its message loop.
HWND waitForReadyMainWindow(const ui::Process& process);
// Any window (shown or not) of the class in the process.
bool hasWindowOfClass(DWORD pid, const char* className);

// A message box as the user sees it: what MessageBoxA was given (caption, text, icon and
// buttons, which together are its style) and its owner window.
struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    UINT icon = 0;
    std::vector<int> buttons;
    HWND owner = nullptr;
};
// Waits for the process's next message box and reads it, without answering it.
Box waitForBox(const ui::Process& process, int timeoutMs = ui::kDeadlineMs);
// Answers the box with the button `id` and waits until it is gone.
bool answerBox(const Box& box, int id);
// Answers the next box with id; false when none came.
bool answerNextBox(const ui::Process& process, int id, Box* seen = nullptr);

// The Install button (whatever it reads now).
HWND installButton(HWND mainWindow);
// Presses Install and waits until the button reads "Completed" and is enabled again.
bool installUntilCompleted(HWND mainWindow);

// The progress bar as drawn on the screen, in the main window's client coordinates.
struct Bar {
    int right = 0;            // the client area's right edge R
    int span = 0;             // R - 63: the fill of a complete bar
    bool frame = false;       // the closed outline from (30,50) to (R-30,60), all black
    int fill[7] = {};         // rows 52..58: black pixels in a run from x = 32
    bool gapClear = false;    // the one-pixel gap inside the frame holds no black pixel
    bool beyondClear = false; // nothing black in rows 52..58 right of the run, up to the frame
};
Bar readBar(HWND mainWindow);
// Waits until the screen shows the window steadily (the same pixels for 300 ms): its
// controls' last paint may reach the screen a little after the state that caused it.
bool waitUntilDrawn(HWND window);
// Whether any pixel of rows y0..y1, columns x0..x1 (client coordinates) is black.
bool anyBlack(HWND mainWindow, int x0, int x1, int y0, int y1);

}  // namespace inst
