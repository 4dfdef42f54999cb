// The demo of the example's road (`make demo`, through scripts/demo): drives an installer
// built from the example the way a user would and leaves a screenshot of every step as
// demo-NN-step.png. Two phases, so that the script can photograph the Java window (a host
// window, outside Wine) in between:
//
//   road_demo install SETUP.EXE   licence, main window, bar part-way, "Completed", the
//                                 notice, the desktop shortcut as loaded back; then starts
//                                 the shortcut with the host's Java registered
//   road_demo uninstall           the uninstaller's question and its last word
//
// Prints each step; the exit status is 1 when a step did not come as expected.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/road_fixtures.h"
#include "tests/support/shortcut_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

int failures = 0;

void shot(const char* name)
{
    bool saved = ui::saveScreenshot(name);
    std::printf("  %s.png%s\n", name, saved ? "" : " (could not be saved)");
    if (!saved) ++failures;
}

bool step(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
    return ok;
}

bool barPartWay(HWND mainWindow)
{
    shot("demo-03-progress");
    std::printf("  (the bar %d%% filled)\n", static_cast<int>(road::barFill(mainWindow) * 100));
    return true;
}

// Answers the next message box of process after a screenshot; returns its text.
std::string photographBox(ui::Process& process, const char* name, int answer)
{
    HWND box = ui::waitForMessageBox(process.pid);
    if (!box) return std::string();
    std::string text = ui::messageBoxText(box);
    road::paintNow(box);
    shot(name);
    ui::answerMessageBox(box, answer);
    ui::waitFor([&] { return !IsWindow(box); });
    return text;
}

int install(const std::string& setup)
{
    road::Places places = road::places();
    road::removeLeftovers(places);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");

    ui::Process installer;
    if (!step(road::startInstaller(setup, "C:\\", installer), "the installer starts")) return 1;
    HWND mainWindow = road::agreeToLicence(installer, "demo-01-licence");
    if (!step(mainWindow != nullptr, "the licence is accepted")) return 1;
    std::printf("  demo-01-licence.png\n");
    road::paintNow(mainWindow);
    shot("demo-02-main-window");
    if (!step(road::installUntilCompleted(mainWindow, barPartWay), "Install runs to \"Completed\"")) return 1;
    shot("demo-04-completed");
    ui::pressButton(ui::findChild(mainWindow, "Button", "Completed"));
    std::string notice = photographBox(installer, "demo-05-notice", IDNO);
    step(notice.find("has been installed at") != std::string::npos, ("the notice: " + notice).c_str());
    step(ui::waitExit(installer) == 0, "the installer ends with exit code 0");
    ui::closeProcess(installer);

    // The shortcut as the shell loads it back, shown in a box of the demo's own.
    lnk::LinkContents link = lnk::readShellLink(places.desktopLink());
    if (!step(link.loaded, "the desktop shortcut loads")) return 1;
    std::string properties = "Target:\t\t" + link.target + "\nStart in:\t\t" + link.workingDir +
                             "\nArguments:\t" + (link.arguments.empty() ? "(none)" : link.arguments) +
                             "\nComment:\t\t" + link.description;
    ui::Process self;
    self.pid = GetCurrentProcessId();
    std::thread box([&] {
        MessageBoxA(nullptr, properties.c_str(), "Hello World.lnk, as loaded back", MB_OK | MB_ICONINFORMATION);
    });
    photographBox(self, "demo-06-shortcut-properties", IDOK);
    box.join();

    // The shortcut's target in its working folder, as the shell starts it.
    step(vmk::addRuntime("1.8.0_402", road::hostJavaHome(true)), "the host's Java is registered");
    ui::Process launcher;
    step(ui::startProcess("\"" + link.target + "\"", link.workingDir, launcher), "the shortcut's target starts");
    step(ui::waitExit(launcher) == 0, "vmkick ends with exit code 0");
    ui::closeProcess(launcher);
    std::string log;
    step(ui::waitFor([&] {
        return (log = vmk::readFile(places.installDir + "\\hello-run.log")).find('\n') != std::string::npos;
    }, 120000), "hello.jar runs");
    std::printf("  %s", log.c_str());
    return failures == 0 ? 0 : 1;
}

int uninstall()
{
    road::Places places = road::places();
    // hello.jar's record of its run is the application's own file, which the uninstaller
    // rightly keeps (with its folder); the demo takes it away to show a clean removal.
    DeleteFileA((places.installDir + "\\hello-run.log").c_str());
    ui::Process uninstaller;
    if (!step(ui::startProcess("\"" + places.installDir + "\\__uninst.exe\"", places.installDir, uninstaller),
              "the uninstaller starts"))
        return 1;
    photographBox(uninstaller, "demo-08-uninstall-question", IDYES);
    std::string last = photographBox(uninstaller, "demo-09-uninstalled", IDOK);
    step(last == "`Hello World' has been removed.", ("the uninstaller: " + last).c_str());
    step(ui::waitExit(uninstaller) == 0, "the uninstaller ends with exit code 0");
    ui::closeProcess(uninstaller);
    step(ui::waitFor([&] { return !lnk::directoryExists(places.installDir); }), "the install folder is gone");
    step(!lnk::fileExists(places.desktopLink()), "the desktop shortcut is gone");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    CoInitialize(nullptr);
    std::string phase = argc > 1 ? argv[1] : "";
    int status = 2;
    if (phase == "install" && argc == 3) {
        status = install(argv[2]);
    } else if (phase == "uninstall" && argc == 2) {
        status = uninstall();
    } else {
        std::fprintf(stderr, "usage: road_demo install SETUP.EXE | road_demo uninstall\n");
    }
    CoUninitialize();
    return status;
}
