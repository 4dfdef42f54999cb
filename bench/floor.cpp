// The floor of the installation benchmark: the least work that installing a package can
// be. It reads the same package with the same bzip2 reading interface in small-memory
// mode, in chunks of 32768 bytes, and writes the same directories and files with the same
// C runtime calls as the installer, but has no window, draws nothing and logs nothing.
// The installer's engine time is measured against this program's.
//
// Usage: floor SETUP.EXE PACKAGE_OFFSET INSTALL_DIR RESULT_FILE
// Writes "engine_us=N engine_cpu_us=N peak_bytes=N files=N bytes=N" to RESULT_FILE,
// where engine_us covers the walk into INSTALL_DIR and the whole entry stream (the part of
// an installation that follows the Install button), engine_cpu_us is this thread's CPU
// time over the same span (-1 if it cannot be read), and peak_bytes is this process's peak
// working set, read the same way the bench driver reads the installer's.
//
// Built as bench_floor_window (FLOOR_WITH_WINDOW), it first shows a window of the
// installer's size and lets it paint once, then extracts as before without drawing: the
// working set that any program with a window has here, so that the installer's own
// memory can be told apart from the windowing system's.
#include <windows.h>
#include <psapi.h>

#include <direct.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <bzlib.h>

namespace {

struct FloorState {
    FILE* packageFile = nullptr;
    BZFILE* packageReader = nullptr;
    int readError = BZ_OK;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

FloorState floorState;

// Reads exactly `count` bytes or reports how many arrived; a short read leaves the rest
// of the buffer untouched, so the callers never use bytes that were not delivered.
int readBytes(void* into, int count)
{
    if (count == 0) return 0;
    return BZ2_bzRead(&floorState.readError, floorState.packageReader, into, count);
}

std::string readCountedString()
{
    unsigned char length[2] = {0, 0};
    if (readBytes(length, 2) != 2) return std::string();
    int n = length[0] | (length[1] << 8);
    std::string text(static_cast<std::size_t>(n), '\0');
    int got = readBytes(&text[0], n);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

std::uint32_t readU32()
{
    unsigned char b[4] = {0, 0, 0, 0};
    readBytes(b, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void skipHeader()
{
    for (int i = 0; i < 6; ++i) readCountedString();
    std::int32_t shortcutCount = static_cast<std::int32_t>(readU32());
    for (std::int32_t i = 0; i < shortcutCount && i < 256; ++i) {
        for (int field = 0; field < 5; ++field) readCountedString();
    }
}

// The same walk as the installer's: drive components switch to the drive's root, every
// other component is entered, and made first when it does not exist yet.
void walkInto(const std::string& installDir)
{
    std::string dir = installDir;
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    std::string component;
    for (char c : dir) {
        if (c != '\\') {
            component += c;
            continue;
        }
        if (!component.empty() && component.back() == ':') {
            _chdir((component.substr(0, 2) + "\\").c_str());
        } else if (!component.empty() && _chdir(component.c_str()) != 0) {
            _mkdir(component.c_str());
            _chdir(component.c_str());
        }
        component.clear();
    }
}

void extractFile(std::uint32_t size, const std::string& name)
{
    static char buffer[32768];
    FILE* out = std::fopen(name.c_str(), "wb");
    std::uint32_t written = 0;
    while (written < size) {
        std::uint32_t chunk = size - written < sizeof buffer ? size - written : sizeof buffer;
        int got = readBytes(buffer, static_cast<int>(chunk));
        if (got <= 0) break;
        if (out) std::fwrite(buffer, 1, static_cast<std::size_t>(got), out);
        written += static_cast<std::uint32_t>(got);
        floorState.bytes += static_cast<std::uint32_t>(got);
        if (floorState.readError != BZ_OK) break;
    }
    // The installer asks for the final flush separately before closing; so does the floor.
    if (out) {
        std::fflush(out);
        std::ferror(out);
        std::fclose(out);
    }
    ++floorState.files;
}

void replayEntries()
{
    for (;;) {
        unsigned char tag = 0;
        readBytes(&tag, 1);
        if (floorState.readError != BZ_OK) return;
        if (tag == 0) {
            std::uint32_t size = readU32();
            std::string name = readCountedString();
            extractFile(size, name);
        } else if (tag == 1) {
            std::string name = readCountedString();
            _mkdir(name.c_str());
            _chdir(name.c_str());
        } else if (tag == 2) {
            _chdir("..");
        }
    }
}

#ifdef FLOOR_WITH_WINDOW
// A plain window of the installer's outer size with a button and a line of text, shown
// and painted once; nothing is drawn into it afterwards.
void showWindow()
{
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "FloorWin";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_APPWINDOW, "FloorWin", "Floor", WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 300, 140, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_DONTCARE, "Verdana");
    ShowWindow(window, SW_SHOW);
    HWND button = CreateWindowExA(0, "BUTTON", "Install", WS_CHILD | WS_VISIBLE, 90, 80, 120, 25, window, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    HDC dc = GetDC(window);
    HGDIOBJ kept = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, 10, 10, "Floor", 5);
    SelectObject(dc, kept);
    ReleaseDC(window, dc);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}
#endif

// User and kernel time of the calling thread in microseconds, or -1.
double threadCpuUs()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10.0;
}

double secondsBetween(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) return 2;
    const char* setupPath = argv[1];
    long packageOffset = std::strtol(argv[2], nullptr, 10);
    const char* installDir = argv[3];
    const char* resultPath = argv[4];

    floorState.packageFile = std::fopen(setupPath, "rb");
    if (!floorState.packageFile) return 3;
    if (std::fseek(floorState.packageFile, packageOffset, SEEK_SET) != 0 ||
        std::ftell(floorState.packageFile) != packageOffset) {
        return 4;
    }
    unsigned char total[4];
    if (std::fread(total, 1, 4, floorState.packageFile) != 4) return 4;
    floorState.packageReader = BZ2_bzReadOpen(&floorState.readError, floorState.packageFile, 0, 1, nullptr, 0);
    if (!floorState.packageReader) return 5;
    skipHeader();
#ifdef FLOOR_WITH_WINDOW
    showWindow();
#endif

    LARGE_INTEGER start, end;
    double cpuStart = threadCpuUs();
    QueryPerformanceCounter(&start);
    walkInto(installDir);
    replayEntries();
    QueryPerformanceCounter(&end);
    double cpuEnd = threadCpuUs();

    int closeError = BZ_OK;
    BZ2_bzReadClose(&closeError, floorState.packageReader);
    std::fclose(floorState.packageFile);

    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);

    FILE* result = std::fopen(resultPath, "w");
    if (!result) return 6;
    std::fprintf(result, "engine_us=%.0f engine_cpu_us=%.0f peak_bytes=%lu files=%llu bytes=%llu\n",
                 secondsBetween(start, end) * 1e6, cpuStart >= 0 && cpuEnd >= 0 ? cpuEnd - cpuStart : -1.0,
                 static_cast<unsigned long>(counters.PeakWorkingSetSize),
                 static_cast<unsigned long long>(floorState.files),
                 static_cast<unsigned long long>(floorState.bytes));
    std::fclose(result);
    return 0;
}
