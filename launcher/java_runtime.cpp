#include "launcher/java_runtime.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/code_page.h"
#include "launcher/download_prompt.h"
#include "launcher/launch_text.h"
#include "launcher/launcher_state.h"
#include "launcher/runtime_candidates.h"
#include "launcher/text_buffer.h"
#include "launcher/version.h"

namespace {

const char kRuntimeListKey[] = "Software\\JavaSoft\\Java Runtime Environment";
const char kDevelopmentKitListKey[] = "Software\\JavaSoft\\Java Development Kit";
// Where Java 9 and later register themselves.
const char kModernRuntimeListKey[] = "Software\\JavaSoft\\JRE";
const char kModernDevelopmentKitListKey[] = "Software\\JavaSoft\\JDK";

// Indices 0 to 9998: a registry with more entries than that is surely damaged, and the
// search must end.
constexpr DWORD kMaxRuntimesExamined = 9999;

// A longer Java home counts as unreadable.
constexpr DWORD kJavaHomeSize = 260;

const char kNotFound[] = "The Java Runtime Environment was not found!";
const char kTooOld[] = "The installed Java Runtime Environment is older than the required version.";
const char kDamaged[] = "The available Java Runtime Environment is damaged!";
const char kNotInstalled[] = "The available Java Runtime Environment is not properly installed!";
const char kLaunchFailed[] =
    "Failed to launch the Java Runtime Environment's virtual machine program (javaw.exe or java.exe)! "
    "This is probably due to a damaged JRE installation.";
const char kTooLong[] = "The command line for the Java virtual machine is too long.";

// Goes through the registered runtimes in the registry's order and chooses among them.
// False when the list key cannot be opened. The key is closed again before the caller
// can show any message.
bool chooseRegisteredRuntime(RuntimeChoice& choice)
{
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kRuntimeListKey, &key) != ERROR_SUCCESS) return false;
    for (DWORD index = 0; index < kMaxRuntimesExamined; ++index) {
        char name[256];
        // The end of the list, or any other failure, ends the search alike.
        if (RegEnumKeyA(key, index, name, sizeof name) != ERROR_SUCCESS) break;
        considerRuntime(choice, name, launcherState.requiredVersion);
    }
    RegCloseKey(key);
    return true;
}

// The "JavaHome" value of a runtime's key into javaHome; false when the key or the value
// cannot be read or the value does not fit.
bool readJavaHome(const char* runtimeName, char (&javaHome)[kJavaHomeSize + 1])
{
    TextBuffer path = {};
    appendText(path, kRuntimeListKey);
    appendText(path, "\\");
    appendText(path, runtimeName);
    HKEY key;
    LONG opened = RegOpenKeyA(HKEY_LOCAL_MACHINE, textOf(path), &key);
    freeText(path);
    if (opened != ERROR_SUCCESS) return false;
    // One byte more than is read: a value stored without its terminator still ends.
    std::memset(javaHome, 0, sizeof javaHome);
    DWORD size = kJavaHomeSize;
    LONG status = RegQueryValueExA(key, "JavaHome", nullptr, nullptr, reinterpret_cast<BYTE*>(javaHome), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// The virtual machine program below the Java home: javaw.exe, which opens no console
// window, or else java.exe.
bool findVmProgram(const char* javaHome, TextBuffer& program)
{
    appendText(program, javaHome);
    appendText(program, "\\bin\\javaw.exe");
    if (fileExists(textOf(program))) return true;
    freeText(program);
    appendText(program, javaHome);
    appendText(program, "\\bin\\java.exe");
    return fileExists(textOf(program));
}

// Starts the command in its own process group, with the launcher's environment and
// working directory, and lets it run on its own. CreateProcessA may write into the
// command line, which is why it is taken as a buffer.
bool startVirtualMachine(TextBuffer& commandLine)
{
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (!CreateProcessA(nullptr, commandLine.bytes, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// ---- A runtime shipped with the application ---------------------------------------

// The program of the runtime folder that vmkick.cfg names, relative to the working
// directory or absolute. No version is checked: the packager chose this runtime. False,
// and the search goes on, when the folder is not named or holds neither program.
bool findBundledRuntime(TextBuffer& program)
{
    const char* folder = launcherState.runtimeFolder;
    if (folder[0] == '\0') return false;
    // Made absolute, so that CreateProcessA cannot look for a relative program path
    // anywhere but in this folder.
    DWORD size = GetFullPathNameA(folder, 0, nullptr, nullptr);
    if (size == 0) return false;
    char* full = static_cast<char*>(std::calloc(size, 1));
    if (full == nullptr) return false;
    DWORD length = GetFullPathNameA(folder, size, full, nullptr);
    TextBuffer home = {};
    bool found = length > 0 && length < size && readFolder(full, length, home) && findVmProgram(textOf(home), program);
    std::free(full);
    freeText(home);
    if (!found) freeText(program);
    return found;
}

// ---- The classic registry list ----------------------------------------------------

// The program of the last suitable runtime of the classic list: nullptr when there is
// one to start, otherwise why there is none.
const char* findListedRuntime(TextBuffer& program)
{
    RuntimeChoice choice = {};
    if (!chooseRegisteredRuntime(choice) || !choice.anySeen) return kNotFound;
    if (!choice.anySuitable) return kTooOld;
    char javaHome[kJavaHomeSize + 1];
    if (!readJavaHome(choice.name, javaHome)) return kDamaged;
    if (!findVmProgram(javaHome, program)) {
        freeText(program);
        return kNotInstalled;
    }
    return nullptr;
}

// ---- The wider search, when the classic list gives nothing to start ---------------

bool hasVmProgram(const char* javaHome)
{
    TextBuffer program = {};
    bool found = findVmProgram(javaHome, program);
    freeText(program);
    return found;
}

// Only a runtime that could be chosen costs a look at the file system.
void noteCandidate(CandidateList& candidates, const char* javaHome, std::int64_t version)
{
    bool usable = version >= launcherState.requiredVersion && hasVmProgram(javaHome);
    addCandidate(candidates, javaHome, version, usable);
}

// The "JavaHome" of one runtime subkey as a folder; false when it cannot be read, does not
// fit, or was stored without its terminator: such a value is skipped, never cut.
bool readCandidateHome(HKEY list, const char* name, REGSAM view, TextBuffer& javaHome)
{
    HKEY key;
    if (RegOpenKeyExA(list, name, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    char value[kJavaHomeSize];
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, "JavaHome", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || size == 0 || size > sizeof value || value[size - 1] != '\0') return false;
    return readFolder(value, size - 1, javaHome);
}

// Every runtime subkey of one list key in one registry view, versioned by its name.
void collectListed(CandidateList& candidates, const char* listKey, REGSAM view)
{
    HKEY list;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listKey, 0, KEY_READ | view, &list) != ERROR_SUCCESS) return;
    for (DWORD index = 0; index < kMaxRuntimesExamined; ++index) {
        char name[256];
        if (RegEnumKeyA(list, index, name, sizeof name) != ERROR_SUCCESS) break;
        TextBuffer javaHome = {};
        if (readCandidateHome(list, name, view, javaHome)) noteCandidate(candidates, textOf(javaHome), packVersionText(name));
        freeText(javaHome);
    }
    RegCloseKey(list);
}

// A 32-bit program on 64-bit Windows reads HKLM\Software through Wow6432Node, where a
// 64-bit Java does not register: that view has to be asked for by name.
bool runsUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void collectRegistryCandidates(CandidateList& candidates)
{
    bool wow64 = runsUnderWow64();
    if (wow64) {
        collectListed(candidates, kRuntimeListKey, KEY_WOW64_64KEY);
        collectListed(candidates, kDevelopmentKitListKey, KEY_WOW64_64KEY);
    }
    collectListed(candidates, kDevelopmentKitListKey, 0);
    if (wow64) {
        collectListed(candidates, kModernRuntimeListKey, KEY_WOW64_64KEY);
        collectListed(candidates, kModernDevelopmentKitListKey, KEY_WOW64_64KEY);
    }
    collectListed(candidates, kModernRuntimeListKey, 0);
    collectListed(candidates, kModernDevelopmentKitListKey, 0);
}

// A release file is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kMaxReleaseFileSize = 65536;

// A Java home named outside the registry, versioned by its release file; skipped when
// that file is missing, unreadable or names no version.
void noteReleasedCandidate(CandidateList& candidates, const char* javaHome)
{
    TextBuffer path = {};
    appendText(path, javaHome);
    appendText(path, "\\release");
    FILE* file = std::fopen(textOf(path), "rb");
    freeText(path);
    if (file == nullptr) return;
    char* text = static_cast<char*>(std::malloc(kMaxReleaseFileSize + 1));
    std::size_t length = text == nullptr ? 0 : std::fread(text, 1, kMaxReleaseFileSize + 1, file);
    bool whole = text != nullptr && !std::ferror(file) && length <= kMaxReleaseFileSize;
    std::fclose(file);
    std::int64_t version = 0;
    if (whole) {
        text[length] = '\0';
        if (readReleaseVersion(text, version)) noteCandidate(candidates, javaHome, version);
    }
    std::free(text);
}

void collectVariableCandidates(CandidateList& candidates)
{
    static const char* const kVariables[] = {"JAVA_HOME", "JDK_HOME", "JRE_HOME"};
    for (const char* variable : kVariables) {
        const char* value = std::getenv(variable);
        if (value == nullptr) continue;
        TextBuffer javaHome = {};
        if (readFolder(value, std::strlen(value), javaHome)) noteReleasedCandidate(candidates, textOf(javaHome));
        freeText(javaHome);
    }
}

// The bin folders on PATH whose parent is a Java home with a release file.
void collectPathCandidates(CandidateList& candidates)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr) return;
    for (const char* entry = path;;) {
        const char* end = std::strchr(entry, ';');
        if (end == nullptr) end = entry + std::strlen(entry);
        TextBuffer javaHome = {};
        if (javaHomeOfPathEntry(entry, static_cast<std::size_t>(end - entry), javaHome)) {
            noteReleasedCandidate(candidates, textOf(javaHome));
        }
        freeText(javaHome);
        if (*end == '\0') break;
        entry = end + 1;
    }
}

// The newest suitable runtime of the other registry keys, the variables and the PATH.
bool findOtherRuntime(TextBuffer& program)
{
    CandidateList candidates = {};
    collectRegistryCandidates(candidates);
    collectVariableCandidates(candidates);
    collectPathCandidates(candidates);
    long chosen = chooseCandidate(candidates.items, candidates.count, launcherState.requiredVersion);
    bool found = chosen >= 0 && findVmProgram(candidates.items[chosen].javaHome, program);
    freeCandidates(candidates);
    if (!found) freeText(program);
    return found;
}

}  // namespace

bool fileExists(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

void startJava()
{
    // The first source that yields a program ends the search. When none does, the user
    // is told why the classic list gave nothing: that is where a runtime was looked for
    // first, and its reasons say what to do about it.
    TextBuffer program = {};
    if (!findBundledRuntime(program)) {
        const char* reason = findListedRuntime(program);
        if (reason != nullptr && !findOtherRuntime(program)) offerJavaDownload(reason);
    }

    TextBuffer commandLine = {};
    buildJavaCommandLine(commandLine, textOf(program), launcherState.classPath, launcherState.vmArgs,
                         launcherState.archive, launcherState.programArgs);
    freeText(program);
    // Cut, the line would start the application with wrong arguments; and the runtime is
    // fine, so offering another download would not help.
    if (wideLength(CP_ACP, textOf(commandLine), commandLine.length) > kMaxCommandLineLength) showFatalError(kTooLong);
    if (!startVirtualMachine(commandLine)) offerJavaDownload(kLaunchFailed);
    freeText(commandLine);
}
