// The UI driver of the Windows tests: starts a program, finds its top-level windows and
// message boxes, reads texts, rectangles and states, presses buttons, waits for exits,
// and saves screenshots. Every wait polls quickly against a generous deadline.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

constexpr int kDeadlineMs = 30000;

struct Process {
    HANDLE handle = nullptr;
    DWORD pid = 0;
};

// Starts commandLine in workDir (empty: the test's own directory). With mainThread, the
// handle of the program's main thread is kept there for the caller to close.
bool startProcess(const std::string& commandLine, const std::string& workDir, Process& out,
                  HANDLE* mainThread = nullptr);
// Exit code, or STILL_ACTIVE (259) when it did not end within the deadline.
DWORD waitExit(Process& process, int timeoutMs = kDeadlineMs);
bool isRunning(const Process& process);
// Deletes a folder and everything in it, read-only files too. Test code may; the
// programs under test never delete recursively.
void removeTree(const std::string& path);
void killProcess(Process& process);
void closeProcess(Process& process);

// The host path of a Windows path, as Wine maps it; "" when not under Wine.
std::string hostPath(const std::string& windowsPath);
// Runs a host program (argv in host terms) under Wine and waits for it; true when it
// exited with status 0. Never through startProcess: for a host program Wine fills in no
// process handles, and closing the values it leaves can close handles of the test's own
// (its standard output among them).
bool runOnHost(std::vector<std::string> argv);

// Polls condition every few milliseconds until it holds or the deadline passes.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = kDeadlineMs);

// Visible top-level windows of a process; className or title may be null to match any.
std::vector<HWND> topLevelWindows(DWORD pid, const char* className = nullptr, const char* title = nullptr);
HWND waitForWindow(DWORD pid, const char* className, const char* title, int timeoutMs = kDeadlineMs);
// A message box is a dialog of class #32770; its text is the static control 0xFFFF.
HWND waitForMessageBox(DWORD pid, int timeoutMs = kDeadlineMs);
std::string messageBoxText(HWND box);
// The icon of a message box, as the MB_ICON... style it was made with (0 when none).
UINT messageBoxIcon(HWND box);
// The command identifiers of the box's buttons (IDOK, IDYES, IDNO, ...), in child order.
std::vector<int> messageBoxButtons(HWND box);
// Answers a message box as if its button `id` was pressed.
void answerMessageBox(HWND box, int id);

HWND findChild(HWND parent, const char* className, const char* text = nullptr);
std::vector<HWND> children(HWND parent);
std::string windowText(HWND window);
std::string className(HWND window);
RECT windowRect(HWND window);
RECT clientRect(HWND window);
bool isEnabled(HWND window);
LONG style(HWND window);
LONG exStyle(HWND window);
HWND owner(HWND window);
// Presses a button as a mouse click would (posted, so a long handler does not block us).
void pressButton(HWND button);
void closeWindow(HWND window);

// The screen's pixels in a rectangle, row by row from the top, each a 24-bit BGR word with
// its top byte cleared (so black is 0).
std::vector<DWORD> screenPixels(int x, int y, int width, int height);

// Saves the whole virtual screen as WB_SCREENSHOT_DIR/name.png.
bool saveScreenshot(const std::string& name);

// The full paths, in lower case and sorted, of the DLLs of that name loaded in a running
// process (one process may hold two builds of a library side by side).
std::vector<std::string> loadedModulePaths(const Process& process, const char* moduleName);

// Peak working set of a running process, in bytes (0 when it cannot be read).
SIZE_T peakWorkingSet(const Process& process);

}  // namespace ui
