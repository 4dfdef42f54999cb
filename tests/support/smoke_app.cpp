// The GUI smoke program: shows a window titled "Smoke" and then a message box owned by it;
// exits with 7 when the box is answered with OK, 8 otherwise.
#include <windows.h>

static LRESULT CALLBACK smokeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = smokeWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "SmokeWin";
    RegisterClassExA(&wc);
    HWND window = CreateWindowExA(0, "SmokeWin", "Smoke", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  100, 100, 320, 200, nullptr, nullptr, instance, nullptr);
    int answer = MessageBoxA(window, "Smoke test: press OK", "Smoke box", MB_OKCANCEL | MB_ICONINFORMATION);
    DestroyWindow(window);
    return answer == IDOK ? 7 : 8;
}
