#include "launcher/message_box.h"

#include "common/dll_search.h"

int showMessageBox(const char* text, const char* caption, UINT style)
{
    typedef int(WINAPI * MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
    static MessageBoxFunction messageBox = nullptr;
    if (messageBox == nullptr) {
        // Loaded only when a box is shown: a launch that finds its Java loads nothing of
        // the user interface, and starts that much sooner.
        loadThemedControls();
        HMODULE user32 = loadSystemLibrary("user32.dll");
        if (user32 == nullptr) return 0;
        messageBox = reinterpret_cast<MessageBoxFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")));
        if (messageBox == nullptr) return 0;
    }
    return messageBox(nullptr, text, caption, style);
}
