// The Windows side of `make bench`: runs the programs under measurement and their anchors
// in turn, in the same Wine session, and prints one machine-readable line per sample:
//
//   sample kind=ours run=1 engine_ms=812.4 whole_ms=1103.9 peak_bytes=9015296 window_ms=80.1
//          notice_ms=6.0 exit_ms=150.2 engine_cpu_ms=780.0 whole_cpu_ms=870.0
//                                            (one line; window, notice and exit say where
//                                             the rest of the whole run went)
//   sample kind=floor run=1 engine_ms=790.2 whole_ms=845.0 peak_bytes=6012928 engine_cpu_ms=770.0
//          whole_cpu_ms=800.0
//   sample kind=floorwin run=1 engine_ms=795.0 whole_ms=990.3 peak_bytes=16012928 engine_cpu_ms=...
//   sample kind=floorfast run=1 engine_ms=620.0 whole_ms=675.0 peak_bytes=6016512 engine_cpu_ms=...
//                                            (the floor with our patched libbzip2: what the
//                                             patch alone changes in time and memory)
//   sample kind=nsis run=1 whole_ms=1002.7 whole_cpu_ms=950.0
//   sample kind=ours1 run=1 ...              (the same fields as ours: the same package
//                                             with a stub that decodes on one thread)
//
// The CPU times are those of each program's main thread (user and kernel), read with
// GetThreadTimes, which Wine answers for another process's thread too (GetProcessTimes it
// answers only for the calling process). They are a profile, not a judged figure: unlike
// the clock they hardly move when other work loads the machine, so they tell a real
// difference between two programs from a burst of load. Work that Wine's server or the
// display does on a program's behalf is not in them.
//   sample kind=vmkick run=1 latency_ms=41.2
//   sample kind=spawn run=1 latency_ms=37.9
//
// A measurement that cannot be taken prints "error <what>" and ends with exit status 1:
// bench/run turns that into a failed bench, never into a missing number.
//
// The kinds take turns within each run (ours, floor, floor with a window, the floor with
// the patched library, NSIS; then again), so that a burst of load from elsewhere on the
// machine hits all of them alike.
//
// Usage:
//   bench_driver install --runs N --ours SETUP.EXE --ours-dir DIR
//                        --floor FLOOR.EXE --floor-window FLOOR_WINDOW.EXE --floor-offset N
//                        --floor-dir DIR --result-dir DIR [--floor-patched FLOOR_PATCHED.EXE]
//                        [--nsis NSIS_SETUP.EXE --nsis-dir DIR] [--deadline-s S]
//                        [--ours-one-thread SETUP.EXE --ours-one-thread-dir DIR]
//   bench_driver latency --runs N --vmkick VMKICK.EXE --vmkick-dir DIR
//                        --spawn SPAWN.EXE --javaw JAVA_HOME\bin\javaw.exe [--deadline-s S]
//                        [--registered-as classic|jdk]
//
// The stand-in runtime is registered in the classic runtime list, or with
// "--registered-as jdk" under Software\JavaSoft\JDK alone, where the launcher finds it only
// after the classic list has given it nothing.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ui_driver.h"

namespace {

using Options = std::map<std::string, std::string>;

int deadlineMs = 600000;

void restoreRegistry();

[[noreturn]] void fail(const std::string& what)
{
    restoreRegistry();
    std::printf("error %s\n", what.c_str());
    std::fflush(stdout);
    std::exit(1);
}

Options parseOptions(int argc, char** argv, int first)
{
    Options options;
    for (int i = first; i < argc; ++i) {
        std::string key = argv[i];
        if (key.compare(0, 2, "--") != 0 || i + 1 >= argc) fail("bad argument " + key);
        options[key.substr(2)] = argv[++i];
    }
    if (options.count("deadline-s")) deadlineMs = std::atoi(options["deadline-s"].c_str()) * 1000;
    return options;
}

std::string need(Options& options, const char* key)
{
    auto it = options.find(key);
    if (it == options.end() || it->second.empty()) fail(std::string("missing --") + key);
    return it->second;
}

double nowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double counterToMs(long long counter)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A started program with the handle of its main thread kept, for its CPU time.
struct Started {
    ui::Process process;
    HANDLE thread = nullptr;
};

void closeStarted(Started& started)
{
    ui::closeProcess(started.process);
    if (started.thread) CloseHandle(started.thread);
    started.thread = nullptr;
}

// User and kernel time of a thread so far, in milliseconds; -1 when it cannot be read.
double threadCpuMs(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

// Removes a directory tree, so that every run installs into a folder that does not exist
// yet, as a first installation does.
void deleteTree(const std::string& path)
{
    ui::removeTree(path);
    if (exists(path)) fail("cannot remove " + path);
}

// The text a window holds, read from the window manager's copy: unlike WM_GETTEXT this
// does not wait for the owning thread, which is busy for the whole installation.
std::string storedText(HWND window)
{
    char text[256] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

// ---- the prefix's registry ---------------------------------------------------------

// The prefix is shared with the tests: whatever the bench sets is taken back at the end,
// also when a measurement fails.

// The virtual display has no window manager, and Wine waits up to two seconds for one
// whenever a managed top-level window is destroyed (its message box's and its main
// window's: four seconds of every installer run spent waiting for nobody). The bench's
// own programs therefore run with unmanaged windows, as Wine allows per program, so the
// whole run measures the program, not a missing desktop.
std::vector<std::string> unmanagedPrograms;

const char kRuntimeList[] = "Software\\JavaSoft\\Java Runtime Environment";
const char kJdkList[] = "Software\\JavaSoft\\JDK";
// Sorts after every runtime a test may have registered, so the launcher picks this one
// (it takes the last suitable name in enumeration order, which is sorted).
const char kBenchRuntime[] = "9.9.9_99-bench";

struct RuntimeRegistration {
    bool active = false;
    bool createdJavaSoft = false;
    bool createdList = false;
    std::string list;
};
RuntimeRegistration runtimeRegistration;

std::string baseName(const std::string& path)
{
    std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string appDefaultsKey(const std::string& program)
{
    return "Software\\Wine\\AppDefaults\\" + program;
}

void runUnmanaged(const std::string& programPath)
{
    std::string program = baseName(programPath);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (appDefaultsKey(program) + "\\X11 Driver").c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        fail("cannot write the Wine settings of " + program);
    }
    unmanagedPrograms.push_back(program);
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
}

bool keyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void registerRuntime(const std::string& list, const std::string& javaHome)
{
    RuntimeRegistration& r = runtimeRegistration;
    r.createdJavaSoft = !keyExists("Software\\JavaSoft");
    r.createdList = !keyExists(list);
    r.list = list;
    r.active = true;
    HKEY key;
    std::string path = list + "\\" + kBenchRuntime;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        fail("cannot create HKLM\\" + path);
    }
    RegSetValueExA(key, "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(javaHome.c_str()),
                   static_cast<DWORD>(javaHome.size() + 1));
    RegCloseKey(key);
}

// A runtime left behind would change what the launcher's tests see.
void restoreRegistry()
{
    for (const std::string& program : unmanagedPrograms) {
        RegDeleteKeyA(HKEY_CURRENT_USER, (appDefaultsKey(program) + "\\X11 Driver").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, appDefaultsKey(program).c_str());
    }
    unmanagedPrograms.clear();
    RuntimeRegistration& r = runtimeRegistration;
    if (!r.active) return;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (r.list + "\\" + kBenchRuntime).c_str());
    if (r.createdList) RegDeleteKeyA(HKEY_LOCAL_MACHINE, r.list.c_str());
    if (r.createdJavaSoft) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    r.active = false;
}

// ---- installation ------------------------------------------------------------------

struct InstallSample {
    double engineMs = 0;
    double wholeMs = 0;
    SIZE_T peakBytes = 0;
    // Where the rest of a whole run goes, for the profile: start to the main window,
    // "Completed" to the notice, the answer to the end of the process.
    double windowMs = 0;
    double noticeMs = 0;
    double exitMs = 0;
    // CPU time of the main thread: over the engine's span, and over the whole run.
    double engineCpuMs = -1;
    double wholeCpuMs = -1;
};

// Drives the installer as a user would: Install, wait for "Completed", press it, answer
// the completion notice. The engine time runs from the click to the moment the installer
// is back in its message loop with the button reading "Completed".
InstallSample runOurs(const std::string& setup)
{
    InstallSample sample;
    Started started;
    ui::Process& process = started.process;
    double start = nowMs();
    if (!ui::startProcess(quoted(setup), "", started.process, &started.thread)) fail("cannot start " + setup);
    HWND main = ui::waitForWindow(process.pid, "MainWin", "Orvanstead Wickerbay", deadlineMs);
    sample.windowMs = nowMs() - start;
    if (!main) {
        HWND box = ui::waitForMessageBox(process.pid, 100);
        ui::killProcess(process);
        fail("no main window from " + setup + (box ? ": it says " + ui::messageBoxText(box) : std::string()));
    }
    HWND button = nullptr;
    ui::waitFor([&] { return (button = ui::findChild(main, "Button", "Install")) != nullptr && ui::isEnabled(button); },
                deadlineMs);
    if (!button) {
        ui::killProcess(process);
        fail("no enabled Install button (a licence window?)");
    }

    double cpuAtClick = threadCpuMs(started.thread);
    double click = nowMs();
    ui::pressButton(button);
    // Once the button no longer reads "Install", the installation runs inside the
    // installer's command handler; a message sent now is answered only when the handler
    // returns, so waiting for its answer catches the end without polling the busy program.
    if (!ui::waitFor([&] { return storedText(button) != "Install"; }, deadlineMs)) {
        ui::killProcess(process);
        fail("the Install button did not react");
    }
    double deadline = click + deadlineMs;
    while (storedText(button) != "Completed") {
        double left = deadline - nowMs();
        if (left <= 0) {
            ui::killProcess(process);
            fail("no \"Completed\" within the deadline");
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(button, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(left), &ignored);
        if (storedText(button) != "Completed") Sleep(1);
    }
    sample.engineMs = nowMs() - click;
    sample.peakBytes = ui::peakWorkingSet(process);
    double cpuAtCompleted = threadCpuMs(started.thread);
    if (cpuAtClick >= 0 && cpuAtCompleted >= 0) sample.engineCpuMs = cpuAtCompleted - cpuAtClick;

    ui::pressButton(button);
    double done = nowMs();
    HWND notice = ui::waitForMessageBox(process.pid, deadlineMs);
    if (!notice) {
        ui::killProcess(process);
        fail("no completion notice");
    }
    sample.noticeMs = nowMs() - done;
    double answered = nowMs();
    ui::answerMessageBox(notice, IDOK);
    DWORD code = ui::waitExit(process, deadlineMs);
    sample.wholeMs = nowMs() - start;
    sample.exitMs = nowMs() - answered;
    sample.wholeCpuMs = threadCpuMs(started.thread);
    closeStarted(started);
    if (code != 0) fail("the installer ended with status " + std::to_string(code));
    if (sample.peakBytes == 0) fail("cannot read the installer's peak working set");
    return sample;
}

InstallSample runFloor(const std::string& floor, const std::string& setup, const std::string& offset,
                       const std::string& dir, const std::string& resultPath)
{
    InstallSample sample;
    DeleteFileA(resultPath.c_str());
    Started started;
    double start = nowMs();
    if (!ui::startProcess(quoted(floor) + " " + quoted(setup) + " " + offset + " " + quoted(dir) + " " +
                                quoted(resultPath), "", started.process, &started.thread)) {
        fail("cannot start " + floor);
    }
    DWORD code = ui::waitExit(started.process, deadlineMs);
    sample.wholeMs = nowMs() - start;
    sample.wholeCpuMs = threadCpuMs(started.thread);
    closeStarted(started);
    if (code != 0) fail("the floor program ended with status " + std::to_string(code));
    FILE* f = std::fopen(resultPath.c_str(), "r");
    if (!f) fail("the floor program left no result");
    double engineUs = 0;
    double engineCpuUs = -1;
    unsigned long peak = 0;
    int got = std::fscanf(f, "engine_us=%lf engine_cpu_us=%lf peak_bytes=%lu", &engineUs, &engineCpuUs, &peak);
    std::fclose(f);
    if (got != 3 || peak == 0) fail("unreadable floor result in " + resultPath);
    sample.engineMs = engineUs / 1000.0;
    sample.engineCpuMs = engineCpuUs < 0 ? -1 : engineCpuUs / 1000.0;
    sample.peakBytes = peak;
    return sample;
}

InstallSample runNsis(const std::string& setup, const std::string& dir)
{
    InstallSample sample;
    Started started;
    double start = nowMs();
    // The peer's silent mode: /D= comes last and unquoted, as its installers demand.
    if (!ui::startProcess(quoted(setup) + " /S /D=" + dir, "", started.process, &started.thread)) fail("cannot start " + setup);
    DWORD code = ui::waitExit(started.process, deadlineMs);
    sample.wholeMs = nowMs() - start;
    sample.wholeCpuMs = threadCpuMs(started.thread);
    closeStarted(started);
    if (code != 0) fail("the NSIS installer ended with status " + std::to_string(code));
    return sample;
}

// The CPU times of a sample, when they could be read, as extra fields of its line.
std::string cpuFields(const InstallSample& s)
{
    char text[96] = "";
    int n = 0;
    if (s.engineCpuMs >= 0) n = std::snprintf(text, sizeof text, " engine_cpu_ms=%.1f", s.engineCpuMs);
    if (s.wholeCpuMs >= 0) std::snprintf(text + n, sizeof text - n, " whole_cpu_ms=%.1f", s.wholeCpuMs);
    return text;
}

// One installation by a build of ours (kind "ours", or "ours1" for the build that decodes
// on one thread: the gain of the other cores, measured side by side) into its own folder.
void sampleOurs(const char* kind, int run, const std::string& setup, const std::string& dir)
{
    if (setup.empty()) return;
    deleteTree(dir);
    InstallSample s = runOurs(setup);
    std::printf("sample kind=%s run=%d engine_ms=%.1f whole_ms=%.1f peak_bytes=%lu window_ms=%.1f notice_ms=%.1f "
                "exit_ms=%.1f%s\n", kind, run, s.engineMs, s.wholeMs, static_cast<unsigned long>(s.peakBytes),
                s.windowMs, s.noticeMs, s.exitMs, cpuFields(s).c_str());
    std::fflush(stdout);
}

int benchInstall(Options& options)
{
    int runs = std::atoi(need(options, "runs").c_str());
    std::string ours = need(options, "ours");
    std::string oursDir = need(options, "ours-dir");
    std::string floor = need(options, "floor");
    std::string floorOffset = need(options, "floor-offset");
    std::string floorDir = need(options, "floor-dir");
    std::string resultDir = need(options, "result-dir");
    std::string floorWindow = need(options, "floor-window");
    std::string floorPatched = options.count("floor-patched") ? options["floor-patched"] : "";
    std::string nsis = options.count("nsis") ? options["nsis"] : "";
    std::string nsisDir = options.count("nsis-dir") ? options["nsis-dir"] : "";
    if (!nsis.empty() && nsisDir.empty()) fail("--nsis needs --nsis-dir");
    std::string oursOne = options.count("ours-one-thread") ? options["ours-one-thread"] : "";
    std::string oursOneDir = options.count("ours-one-thread-dir") ? options["ours-one-thread-dir"] : "";
    if (!oursOne.empty() && oursOneDir.empty()) fail("--ours-one-thread needs --ours-one-thread-dir");
    runUnmanaged(ours);
    if (!oursOne.empty()) runUnmanaged(oursOne);
    runUnmanaged(floorWindow);

    for (int run = 1; run <= runs; ++run) {
        // The two builds of ours take turns at going first, so that neither always meets
        // what the run before left behind.
        if (run % 2 == 0) sampleOurs("ours1", run, oursOne, oursOneDir);
        sampleOurs("ours", run, ours, oursDir);
        if (run % 2 == 1) sampleOurs("ours1", run, oursOne, oursOneDir);

        deleteTree(floorDir);
        InstallSample s = runFloor(floor, ours, floorOffset, floorDir, resultDir + "\\floor-result.txt");
        std::printf("sample kind=floor run=%d engine_ms=%.1f whole_ms=%.1f peak_bytes=%lu%s\n", run, s.engineMs,
                    s.wholeMs, static_cast<unsigned long>(s.peakBytes), cpuFields(s).c_str());
        std::fflush(stdout);

        deleteTree(floorDir);
        s = runFloor(floorWindow, ours, floorOffset, floorDir, resultDir + "\\floor-result.txt");
        std::printf("sample kind=floorwin run=%d engine_ms=%.1f whole_ms=%.1f peak_bytes=%lu%s\n", run, s.engineMs,
                    s.wholeMs, static_cast<unsigned long>(s.peakBytes), cpuFields(s).c_str());
        std::fflush(stdout);

        if (!floorPatched.empty()) {
            deleteTree(floorDir);
            s = runFloor(floorPatched, ours, floorOffset, floorDir, resultDir + "\\floor-result.txt");
            std::printf("sample kind=floorfast run=%d engine_ms=%.1f whole_ms=%.1f peak_bytes=%lu%s\n", run,
                        s.engineMs, s.wholeMs, static_cast<unsigned long>(s.peakBytes), cpuFields(s).c_str());
            std::fflush(stdout);
        }

        if (!nsis.empty()) {
            deleteTree(nsisDir);
            s = runNsis(nsis, nsisDir);
            std::printf("sample kind=nsis run=%d whole_ms=%.1f%s\n", run, s.wholeMs, cpuFields(s).c_str());
            std::fflush(stdout);
        }
    }
    restoreRegistry();
    // The last installations stay, so that bench/run can compare them with the payload.
    return 0;
}

// ---- launcher latency --------------------------------------------------------------

bool processNamed(const char* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        found = _stricmp(entry.szExeFile, exeName) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// Starts a program that is to start the recorder, and returns the time from the start
// to the recorder's first moment.
double measureLatency(const std::string& commandLine, const std::string& workDir, const std::string& stampPath,
                      const char* what)
{
    DeleteFileA(stampPath.c_str());
    ui::Process process;
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!ui::startProcess(commandLine, workDir, process)) {
        fail(std::string("cannot start ") + what);
    }
    bool stamped = ui::waitFor([&] { return exists(stampPath); }, deadlineMs);
    DWORD code = ui::waitExit(process, stamped ? deadlineMs : 100);
    if (!stamped || code != 0) {
        HWND box = ui::waitForMessageBox(process.pid, 100);
        std::string said = box ? ": it says " + ui::messageBoxText(box) : std::string();
        ui::killProcess(process);
        ui::closeProcess(process);
        fail(std::string(what) + (stamped ? " ended with status " + std::to_string(code) : " did not start the recorder") +
             said);
    }
    ui::closeProcess(process);
    // Read until it succeeds: on a loaded machine the file that has just been renamed into
    // place can still be refused for a moment.
    long long stamp = 0;
    bool read = ui::waitFor([&] {
        FILE* f = std::fopen(stampPath.c_str(), "r");
        if (!f) return false;
        bool scanned = std::fscanf(f, "%lld", &stamp) == 1;
        std::fclose(f);
        return scanned;
    }, deadlineMs);
    if (!read) fail("unreadable stamp " + stampPath);
    // The recorder is still on its way out; the next run starts when it is gone.
    ui::waitFor([] { return !processNamed("javaw.exe"); }, 10000);
    return counterToMs(stamp - started.QuadPart);
}

int benchLatency(Options& options)
{
    int runs = std::atoi(need(options, "runs").c_str());
    std::string vmkick = need(options, "vmkick");
    std::string vmkickDir = need(options, "vmkick-dir");
    std::string spawn = need(options, "spawn");
    std::string javaw = need(options, "javaw");
    std::string::size_type bin = javaw.rfind("\\bin\\javaw.exe");
    if (bin == std::string::npos || bin + 14 != javaw.size()) fail("--javaw must end in \\bin\\javaw.exe");
    std::string javaHome = javaw.substr(0, bin);
    std::string stampPath = javaw + ".stamp";

    std::string registeredAs = options.count("registered-as") ? options["registered-as"] : "classic";
    if (registeredAs != "classic" && registeredAs != "jdk") fail("--registered-as must be classic or jdk");
    // With the JDK key, no classic list may be there, or the launcher would stop at it.
    if (registeredAs == "jdk" && keyExists(kRuntimeList)) fail("a classic runtime list is registered in the prefix");
    registerRuntime(registeredAs == "jdk" ? kJdkList : kRuntimeList, javaHome);
    // The launcher's command line for this configuration is "<javaw> -jar app.jar"; the
    // anchor starts exactly that, from the same folder.
    std::string recorderLine = javaw + " -jar app.jar";
    for (int run = 1; run <= runs; ++run) {
        double ms = measureLatency(quoted(vmkick), vmkickDir, stampPath, "vmkick");
        std::printf("sample kind=vmkick run=%d latency_ms=%.2f\n", run, ms);
        std::fflush(stdout);
        ms = measureLatency(quoted(spawn) + " " + recorderLine, vmkickDir, stampPath, "the spawn program");
        std::printf("sample kind=spawn run=%d latency_ms=%.2f\n", run, ms);
        std::fflush(stdout);
    }
    restoreRegistry();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) fail("usage: bench_driver install|latency OPTIONS");
    std::string mode = argv[1];
    Options options = parseOptions(argc, argv, 2);
    if (mode == "install") return benchInstall(options);
    if (mode == "latency") return benchLatency(options);
    fail("unknown mode " + mode);
}
