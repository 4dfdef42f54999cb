// Fixtures of the launcher's end-to-end tests: the registry keys that vmkick reads (the
// Java runtime list under HKLM and the HTML file association under HKCR), test folders
// below C:\wbtest with recorder programs standing in for javaw.exe, java.exe and the web
// browser, the recorders' logs read back, and vmkick's message boxes read and answered.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/ui_driver.h"

namespace vmk {

constexpr const char* kRuntimeListKey = "Software\\JavaSoft\\Java Runtime Environment";

// Saves HKLM\Software\JavaSoft and HKCR\htmlfile (values and subkeys, whole) on
// construction and puts them back exactly on destruction, so that tests sharing the
// prefix do not see each other's runtimes or browsers. Starts with no runtime registered
// and the prefix's own browser association in place.
struct LauncherRegistryGuard {
    LauncherRegistryGuard();
    ~LauncherRegistryGuard();
    LauncherRegistryGuard(const LauncherRegistryGuard&) = delete;
    LauncherRegistryGuard& operator=(const LauncherRegistryGuard&) = delete;
    struct Saved;
    Saved* saved;
};

// The runtime list key with no subkeys, so that it exists.
bool createRuntimeList();
// A runtime subkey named by its version; with javaHome unless withoutHome.
bool addRuntime(const std::string& name, const std::string& javaHome, bool withoutHome = false);
// The subkey names as the registry enumerates them.
std::vector<std::string> enumeratedRuntimes();

// The HTML file association's open command; absent, present without a default value, or
// with the given command.
bool setBrowserCommand(const std::string& command);
bool removeBrowserAssociation();
bool setBrowserKeyWithoutValue();

// C:\wbtest\<name>, emptied and created afresh.
std::string freshTestFolder(const std::string& name);
bool makeFolders(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

std::string vmkickPath();
std::string recorderPath();
// <javaHome>\bin\javaw.exe and/or java.exe as copies of the recorder.
bool installRecorderRuntime(const std::string& javaHome, bool javaw, bool java);
// A recorder copied to path (a browser, or a program planted where none should run).
bool installRecorder(const std::string& path);

// One start of a recorder, from "<its path>.log".
struct RecorderRun {
    std::string commandLine;
    std::string workingDir;
    int group = -1;
    int show = -1;
};
std::vector<RecorderRun> recorderRuns(const std::string& recorderExe);
// Waits until the recorder has logged count starts; returns them (fewer on timeout).
std::vector<RecorderRun> waitForRecorderRuns(const std::string& recorderExe, size_t count = 1);
// Whether a process of this program file is running.
bool programRunning(const std::string& exePath);

// Starts vmkick.exe (the built one, or exe) in workDir with the given argument text.
bool startLauncher(const std::string& workDir, const std::string& arguments, ui::Process& out,
                   const std::string& exe = std::string());

// One message box of vmkick, as the user sees it.
struct MessageBoxSeen {
    bool found = false;
    std::string caption;
    std::string text;
    UINT icon = 0;
    std::vector<int> buttons;
    int boxesShown = 0;  // message boxes of the process visible at the time
};
// Waits for the process's next message box, reads it, saves a screenshot under
// screenshotName, answers it with answer and waits until it is gone.
MessageBoxSeen answerNextBox(ui::Process& process, const std::string& screenshotName, int answer);

}  // namespace vmk
