#include "tests/support/launcher_fixtures.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#ifndef WB_DIST_DIR
#define WB_DIST_DIR "."
#endif
#ifndef WB_BINARY_DIR
#define WB_BINARY_DIR "."
#endif

namespace vmk {

namespace {

struct RegistryValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// A key with everything below it, as read; exists is false for a key that was absent.
struct RegistryTree {
    bool exists = false;
    std::vector<RegistryValue> values;
    std::vector<std::pair<std::string, RegistryTree>> subkeys;
};

RegistryTree readTree(HKEY root, const std::string& path)
{
    RegistryTree tree;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return tree;
    tree.exists = true;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        RegistryValue value;
        value.name = name;
        value.type = type;
        value.data.resize(size);
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
        tree.values.push_back(value);
    }
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& name : names) tree.subkeys.emplace_back(name, readTree(root, path + "\\" + name));
    return tree;
}

void writeTree(HKEY root, const std::string& path, const RegistryTree& tree)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const RegistryValue& value : tree.values) {
        RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    RegCloseKey(key);
    for (const auto& sub : tree.subkeys) writeTree(root, path + "\\" + sub.first, sub.second);
}

void putBack(HKEY root, const std::string& path, const RegistryTree& tree)
{
    RegDeleteTreeA(root, path.c_str());
    if (tree.exists) writeTree(root, path, tree);
}

bool setString(HKEY root, const std::string& path, const char* valueName, const std::string& data)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG status = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool createKey(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

const char kBrowserKey[] = "htmlfile\\shell\\open\\command";

}  // namespace

struct LauncherRegistryGuard::Saved {
    RegistryTree javaSoft;
    RegistryTree htmlFile;
};

LauncherRegistryGuard::LauncherRegistryGuard() : saved(new Saved)
{
    saved->javaSoft = readTree(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    saved->htmlFile = readTree(HKEY_CLASSES_ROOT, "htmlfile");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
}

LauncherRegistryGuard::~LauncherRegistryGuard()
{
    putBack(HKEY_LOCAL_MACHINE, "Software\\JavaSoft", saved->javaSoft);
    putBack(HKEY_CLASSES_ROOT, "htmlfile", saved->htmlFile);
    delete saved;
}

bool createRuntimeList()
{
    return createKey(HKEY_LOCAL_MACHINE, kRuntimeListKey);
}

bool addRuntime(const std::string& name, const std::string& javaHome, bool withoutHome)
{
    std::string path = std::string(kRuntimeListKey) + "\\" + name;
    if (withoutHome) return createKey(HKEY_LOCAL_MACHINE, path);
    return setString(HKEY_LOCAL_MACHINE, path, "JavaHome", javaHome);
}

std::vector<std::string> enumeratedRuntimes()
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kRuntimeListKey, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
    RegCloseKey(key);
    return names;
}

bool setBrowserCommand(const std::string& command)
{
    return setString(HKEY_CLASSES_ROOT, kBrowserKey, nullptr, command);
}

bool removeBrowserAssociation()
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "htmlfile");
    HKEY key;
    return RegOpenKeyA(HKEY_CLASSES_ROOT, kBrowserKey, &key) != ERROR_SUCCESS;
}

bool setBrowserKeyWithoutValue()
{
    return removeBrowserAssociation() && createKey(HKEY_CLASSES_ROOT, kBrowserKey);
}

std::string freshTestFolder(const std::string& name)
{
    CreateDirectoryA("C:\\wbtest", nullptr);
    std::string path = "C:\\wbtest\\" + name;
    ui::removeTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

bool makeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string readFile(const std::string& path)
{
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string vmkickPath()
{
    return WB_DIST_DIR "\\vmkick.exe";
}

std::string recorderPath()
{
    return WB_BINARY_DIR "\\tests\\support\\recorder.exe";
}

bool installRecorder(const std::string& path)
{
    makeFolders(path.substr(0, path.rfind('\\')));
    return CopyFileA(recorderPath().c_str(), path.c_str(), FALSE) != FALSE;
}

bool installRecorderRuntime(const std::string& javaHome, bool javaw, bool java)
{
    bool ok = makeFolders(javaHome + "\\bin");
    if (javaw) ok = installRecorder(javaHome + "\\bin\\javaw.exe") && ok;
    if (java) ok = installRecorder(javaHome + "\\bin\\java.exe") && ok;
    return ok;
}

std::vector<RecorderRun> recorderRuns(const std::string& recorderExe)
{
    std::vector<RecorderRun> runs;
    std::string log = readFile(recorderExe + ".log");
    RecorderRun run;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = log.substr(start, end - start);
        if (line.rfind("cmdline=", 0) == 0) {
            run = RecorderRun();
            run.commandLine = line.substr(8);
        } else if (line.rfind("cwd=", 0) == 0) {
            run.workingDir = line.substr(4);
        } else if (line.rfind("group=", 0) == 0) {
            run.group = std::atoi(line.c_str() + 6);
        } else if (line.rfind("show=", 0) == 0) {
            // The last of a start's lines: only complete starts are counted.
            run.show = std::atoi(line.c_str() + 5);
            runs.push_back(run);
        }
    }
    return runs;
}

std::vector<RecorderRun> waitForRecorderRuns(const std::string& recorderExe, size_t count)
{
    std::vector<RecorderRun> runs;
    ui::waitFor([&] {
        runs = recorderRuns(recorderExe);
        return runs.size() >= count;
    });
    return runs;
}

bool programRunning(const std::string& exePath)
{
    DWORD ids[4096];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) return false;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, ids[i]);
        if (!process) continue;
        char name[MAX_PATH * 4] = {0};
        DWORD size = sizeof name;
        bool match = QueryFullProcessImageNameA(process, 0, name, &size) && _stricmp(name, exePath.c_str()) == 0 &&
                     WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        CloseHandle(process);
        if (match) return true;
    }
    return false;
}

bool startLauncher(const std::string& workDir, const std::string& arguments, ui::Process& out, const std::string& exe)
{
    std::string line = "\"" + (exe.empty() ? vmkickPath() : exe) + "\"";
    if (!arguments.empty()) line += " " + arguments;
    return ui::startProcess(line, workDir, out);
}

MessageBoxSeen answerNextBox(ui::Process& process, const std::string& screenshotName, int answer)
{
    MessageBoxSeen seen;
    HWND box = ui::waitForMessageBox(process.pid);
    if (!box) return seen;
    seen.found = true;
    seen.caption = ui::windowText(box);
    seen.text = ui::messageBoxText(box);
    seen.buttons = ui::messageBoxButtons(box);
    // Waits until the icon is drawn, so the screenshot shows the finished box.
    seen.icon = ui::messageBoxIcon(box);
    seen.boxesShown = static_cast<int>(ui::topLevelWindows(process.pid, "#32770").size());
    ui::saveScreenshot(screenshotName);
    ui::answerMessageBox(box, answer);
    ui::waitFor([&] { return !IsWindow(box); });
    return seen;
}

}  // namespace vmk
