#include "tests/support/installer_fixtures.h"

#include "tests/unit/pack_test_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#ifndef WB_DIST_DIR
#define WB_DIST_DIR "."
#endif

namespace fs = std::filesystem;

namespace inst {

namespace {

void collectTree(const fs::path& root, const fs::path& dir, std::vector<TreeItem>& items)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        TreeItem item;
        item.path = fs::relative(it->path(), root).string();
        std::replace(item.path.begin(), item.path.end(), '/', '\\');
        item.directory = it->is_directory();
        if (item.directory) {
            collectTree(root, it->path(), items);
        } else {
            FILE* file = std::fopen(it->path().string().c_str(), "rb");
            if (file) {
                char chunk[65536];
                for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
                    item.bytes.append(chunk, got);
                }
                std::fclose(file);
            }
        }
        items.push_back(std::move(item));
    }
}

std::string topName(const std::string& path)
{
    return path.substr(0, path.find('\\'));
}

// The client area's pixels in rows y0..y1 and columns x0..x1 as the screen shows them.
std::vector<DWORD> clientPixels(HWND window, int x0, int x1, int y0, int y1)
{
    POINT origin = {x0, y0};
    ClientToScreen(window, &origin);
    return ui::screenPixels(origin.x, origin.y, x1 - x0 + 1, y1 - y0 + 1);
}

struct ClassSearch {
    DWORD pid;
    const char* className;
    bool found;
};

BOOL CALLBACK findWindowOfClass(HWND window, LPARAM param)
{
    ClassSearch* search = reinterpret_cast<ClassSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && ui::className(window) == search->className) search->found = true;
    return TRUE;
}

}  // namespace

TestFolder::TestFolder(const std::string& name) : path(lnk::freshTestFolder(name)) {}

TestFolder::~TestFolder()
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

Running::~Running()
{
    ui::killProcess(process);
    ui::closeProcess(process);
}

StandInShell::StandInShell()
{
    // Not declared by the SDK's headers, exported by user32 since Windows 2000.
    using SetShell = BOOL(WINAPI*)(HWND);
    auto setShell = reinterpret_cast<SetShell>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetShellWindow"));
    window = CreateWindowExA(0, "STATIC", "Stand-in shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (setShell && window) setShell(window);
}

StandInShell::~StandInShell()
{
    if (window) DestroyWindow(window);
}

std::string noise(std::size_t size, std::uint32_t seed)
{
    return packtest::noise(size, seed);
}

std::vector<wbpack::PackEntry> largePayload(int files)
{
    std::vector<wbpack::PackEntry> entries;
    for (int i = 1; i <= files; ++i) {
        std::string number = std::to_string(i);
        std::string name = "part" + std::string(4 - number.size(), '0') + number + ".bin";
        entries.push_back(wbpack::memoryFileEntry(name, noise(24 * 1024 * 1024 / files, static_cast<std::uint32_t>(i))));
    }
    return entries;
}

std::vector<TreeItem> readTree(const std::string& root)
{
    std::vector<TreeItem> items;
    collectTree(root, root, items);
    std::sort(items.begin(), items.end(), [](const TreeItem& a, const TreeItem& b) { return a.path < b.path; });
    return items;
}

std::vector<std::string> treeDifferences(const std::vector<TreeItem>& expected, const std::vector<TreeItem>& actual,
                                         const std::vector<std::string>& ignoreInActual)
{
    std::vector<std::string> differences;
    std::map<std::string, const TreeItem*> wanted;
    for (const TreeItem& item : expected) wanted[item.path] = &item;
    for (const TreeItem& item : actual) {
        auto it = wanted.find(item.path);
        if (it == wanted.end()) {
            std::string top = topName(item.path);
            if (std::find(ignoreInActual.begin(), ignoreInActual.end(), top) == ignoreInActual.end()) {
                differences.push_back("extra: " + item.path);
            }
            continue;
        }
        const TreeItem& want = *it->second;
        wanted.erase(it);
        if (want.directory != item.directory) {
            differences.push_back("kind differs: " + item.path);
        } else if (want.bytes.size() != item.bytes.size()) {
            differences.push_back("size differs: " + item.path + " (" + std::to_string(item.bytes.size()) + " for " +
                                  std::to_string(want.bytes.size()) + ")");
        } else if (want.bytes != item.bytes) {
            auto at = std::mismatch(want.bytes.begin(), want.bytes.end(), item.bytes.begin());
            differences.push_back("bytes differ: " + item.path + " from byte " +
                                  std::to_string(at.first - want.bytes.begin()));
        }
    }
    for (const auto& missing : wanted) differences.push_back("missing: " + missing.first);
    return differences;
}

std::vector<lnk::UninstallRecord> expectedLog(const std::string& installDir,
                                              const std::vector<wbpack::PackEntry>& entries)
{
    std::vector<lnk::UninstallRecord> pushed = {{3, installDir + "\\"}};
    std::string running = installDir + "\\";
    for (const wbpack::PackEntry& entry : entries) {
        if (entry.kind == wbpack::kEntryFile) {
            if (entry.name != "__uninst.exe") pushed.push_back({0, running + entry.name});
        } else if (entry.kind == wbpack::kEntryEnterDir) {
            pushed.push_back({1, running + entry.name});
            running += entry.name + "\\";
        } else {
            running.pop_back();
            running.erase(running.rfind('\\') + 1);
        }
    }
    std::reverse(pushed.begin(), pushed.end());
    return pushed;
}

bool packageFromFolder(const wbpack::PackageHeader& header, const std::string& sourceDir,
                       wbpack::PackageSpec& package, std::string& error)
{
    package = wbpack::PackageSpec();
    package.header = header;
    return wbpack::collectSourceTree(sourceDir, package.entries, error);
}

std::string stubPath()
{
    return WB_DIST_DIR "\\Wickerbay.exe";
}

bool buildRawInstaller(std::uint32_t total, const std::string& stream, const std::string& setupPath,
                       std::string& error)
{
    std::string stub;
    if (!wbpack::readStubFile(stubPath(), stub, error)) return false;
    return wbpack::writeRawInstaller(stub, total, stream, setupPath, error);
}

bool startInstaller(const std::string& setupPath, const std::string& arguments, const std::string& workDir,
                    Running& out)
{
    std::string line = "\"" + setupPath + "\"";
    if (!arguments.empty()) line += " " + arguments;
    return ui::startProcess(line, workDir, out.process);
}

HWND waitForReadyMainWindow(const ui::Process& process)
{
    HWND window = lnk::waitForMainWindow(process);
    if (!window || !lnk::waitUntilIdle(window)) return nullptr;
    return window;
}

bool hasWindowOfClass(DWORD pid, const char* className)
{
    ClassSearch search{pid, className, false};
    EnumWindows(findWindowOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Box waitForBox(const ui::Process& process, int timeoutMs)
{
    Box box;
    box.window = ui::waitForMessageBox(process.pid, timeoutMs);
    if (!box.window) return box;
    box.caption = ui::windowText(box.window);
    box.text = ui::messageBoxText(box.window);
    box.buttons = ui::messageBoxButtons(box.window);
    box.owner = ui::owner(box.window);
    box.icon = ui::messageBoxIcon(box.window);
    return box;
}

bool answerBox(const Box& box, int id)
{
    if (!box.window) return false;
    ui::answerMessageBox(box.window, id);
    return ui::waitFor([&] { return !IsWindow(box.window); });
}

bool answerNextBox(const ui::Process& process, int id, Box* seen)
{
    Box box = waitForBox(process);
    if (seen) *seen = box;
    return answerBox(box, id);
}

HWND installButton(HWND mainWindow)
{
    return ui::findChild(mainWindow, "Button");
}

bool installUntilCompleted(HWND mainWindow)
{
    HWND button = installButton(mainWindow);
    if (!button || ui::windowText(button) != "Install") return false;
    ui::pressButton(button);
    return ui::waitFor([&] { return ui::windowText(button) == "Completed" && ui::isEnabled(button); }, 120000);
}

Bar readBar(HWND mainWindow)
{
    Bar bar;
    RECT client = ui::clientRect(mainWindow);
    int r = client.right;
    bar.right = r;
    bar.span = r - 63;
    // Rows 50..60 and columns 30..R-30: the frame and everything inside it.
    int x0 = 30, y0 = 50, width = r - 30 - x0 + 1;
    std::vector<DWORD> px = clientPixels(mainWindow, x0, r - 30, y0, 60);
    auto black = [&](int x, int y) { return px[static_cast<std::size_t>(y - y0) * width + (x - x0)] == 0; };

    bar.frame = true;
    for (int x = 30; x <= r - 30; ++x) bar.frame = bar.frame && black(x, 50) && black(x, 60);
    for (int y = 50; y <= 60; ++y) bar.frame = bar.frame && black(30, y) && black(r - 30, y);

    bar.gapClear = true;
    for (int x = 31; x <= r - 31; ++x) bar.gapClear = bar.gapClear && !black(x, 51) && !black(x, 59);
    for (int y = 51; y <= 59; ++y) bar.gapClear = bar.gapClear && !black(31, y) && !black(r - 31, y);

    bar.beyondClear = true;
    for (int row = 0; row < 7; ++row) {
        int y = 52 + row;
        int x = 32;
        while (x <= r - 31 && black(x, y)) ++x;
        bar.fill[row] = x - 32;
        for (; x <= r - 31; ++x) bar.beyondClear = bar.beyondClear && !black(x, y);
    }
    return bar;
}

bool waitUntilDrawn(HWND window)
{
    RECT r = ui::windowRect(window);
    std::vector<DWORD> last;
    DWORD steadySince = GetTickCount();
    return ui::waitFor([&] {
        std::vector<DWORD> now = ui::screenPixels(r.left, r.top, r.right - r.left, r.bottom - r.top);
        if (now != last) {
            last = now;
            steadySince = GetTickCount();
            return false;
        }
        return GetTickCount() - steadySince >= 300;
    });
}

bool anyBlack(HWND mainWindow, int x0, int x1, int y0, int y1)
{
    for (DWORD p : clientPixels(mainWindow, x0, x1, y0, y1)) {
        if (p == 0) return true;
    }
    return false;
}

}  // namespace inst
