#include "launcher/java_runtime.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "launcher/download_prompt.h"
#include "launcher/launch_text.h"
#include "launcher/launcher_state.h"
#include "launcher/text_buffer.h"
#include "launcher/version.h"

namespace {

const char kRuntimeListKey[] = "Software\\JavaSoft\\Java Runtime Environment";

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
    RuntimeChoice choice = {};
    if (!chooseRegisteredRuntime(choice)) offerJavaDownload(kNotFound);
    if (!choice.anySeen) offerJavaDownload(kNotFound);
    if (!choice.anySuitable) offerJavaDownload(kTooOld);

    char javaHome[kJavaHomeSize + 1];
    if (!readJavaHome(choice.name, javaHome)) offerJavaDownload(kDamaged);
    TextBuffer program = {};
    if (!findVmProgram(javaHome, program)) offerJavaDownload(kNotInstalled);

    TextBuffer commandLine = {};
    buildJavaCommandLine(commandLine, textOf(program), launcherState.classPath, launcherState.vmArgs,
                         launcherState.archive, launcherState.programArgs);
    freeText(program);
    // Cut, the line would start the application with wrong arguments; and the runtime is
    // fine, so offering another download would not help.
    if (commandLine.length > kMaxCommandLineLength) showFatalError(kTooLong);
    if (!startVirtualMachine(commandLine)) offerJavaDownload(kLaunchFailed);
    freeText(commandLine);
}
