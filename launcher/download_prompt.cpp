#include "launcher/download_prompt.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "launcher/launch_text.h"
#include "launcher/launcher_state.h"
#include "launcher/message_box.h"
#include "launcher/text_buffer.h"

namespace {

const char kNoBrowser[] = "Cannot find a web browser to use!";

// The key's default value, however long, appended to value; nothing when it is absent or
// cannot be read.
void readDefaultValue(HKEY key, TextBuffer& value)
{
    // The value may grow between asking for its size and reading it: then ask again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        LONG size = 0;
        if (RegQueryValueA(key, nullptr, nullptr, &size) != ERROR_SUCCESS || size <= 0) return;
        // One byte more than is read: a value stored without its terminator still ends.
        char* bytes = static_cast<char*>(std::calloc(static_cast<size_t>(size) + 1, 1));
        if (bytes == nullptr) return;
        LONG read = size;
        LONG status = RegQueryValueA(key, nullptr, bytes, &read);
        if (status == ERROR_SUCCESS) appendText(value, bytes);
        std::free(bytes);
        if (status != ERROR_MORE_DATA) return;
    }
}

}  // namespace

void offerJavaDownload(const char* reason)
{
    showMessageBox(reason, errorCaption(launcherState.configTree), MB_OK | MB_ICONERROR);
    TextBuffer question = {};
    buildDownloadQuestion(question, launcherState.requiredMajor, launcherState.requiredMinor,
                          launcherState.requiredSub, launcherState.requiredUpdate,
                          applicationName(launcherState.configTree));
    int answer = showMessageBox(textOf(question), "Get Java Runtime Environment", MB_YESNO | MB_ICONQUESTION);
    freeText(question);
    if (answer != IDNO) openWebsite();
    std::exit(0);
}

void openWebsite()
{
    HKEY key;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", &key) != ERROR_SUCCESS) {
        showFatalError(kNoBrowser);
    }
    TextBuffer registered = {};
    readDefaultValue(key, registered);
    RegCloseKey(key);
    // An association without a command names no browser either.
    if (registered.length == 0) showFatalError(kNoBrowser);
    TextBuffer command = {};
    buildBrowserCommand(command, textOf(registered), launcherState.website);
    freeText(registered);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMAXIMIZED;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // CreateProcessA may write into the command line, so it gets the buffer itself.
    if (!CreateProcessA(nullptr, command.bytes, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                        &startup, &process)) {
        TextBuffer message = {};
        buildBrowserFailureText(message, launcherState.website);
        showFatalError(textOf(message));
    }
    freeText(command);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
