#include "tests/support/road_fixtures.h"

#include "tests/support/installer_fixtures.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace road {

namespace {

std::string shellFolder(const char* name)
{
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::string();
    return value;
}

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

}  // namespace

Places places()
{
    Places p;
    p.desktop = shellFolder("Desktop");
    p.programs = shellFolder("Programs");
    return p;
}

void removeLeftovers(const Places& places)
{
    std::error_code ignored;
    std::filesystem::remove_all(places.installDir, ignored);
    std::filesystem::remove(places.desktopLink(), ignored);
    std::filesystem::remove(places.desktopWebLink(), ignored);
    if (!places.programs.empty()) std::filesystem::remove_all(places.publisherMenu(), ignored);
}

std::string exampleAppFolder() { return parentOf(WB_DIST_DIR) + "\\example\\app"; }

std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file()) continue;
        files.push_back(std::filesystem::relative(it->path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool startInstaller(const std::string& exePath, const std::string& workDir, ui::Process& out)
{
    return ui::startProcess("\"" + exePath + "\"", workDir, out);
}

HWND agreeToLicence(const ui::Process& installer, const std::string& screenshot)
{
    HWND licence = ui::waitForWindow(installer.pid, "LicWin", "License");
    if (!licence) return nullptr;
    HWND agree = nullptr;
    // "I Agree" becomes usable four seconds after the window appears.
    if (!ui::waitFor([&] { return (agree = ui::findChild(licence, "Button", "I Agree")) && ui::isEnabled(agree); }))
        return nullptr;
    if (!screenshot.empty()) {
        paintNow(licence);
        ui::saveScreenshot(screenshot);
    }
    ui::pressButton(agree);
    HWND mainWindow = nullptr;
    ui::waitFor([&] {
        mainWindow = ui::waitForWindow(installer.pid, "MainWin", nullptr, 0);
        return !IsWindow(licence) && mainWindow && ui::isEnabled(mainWindow);
    });
    return IsWindow(licence) ? nullptr : mainWindow;
}

double barFill(HWND mainWindow)
{
    inst::Bar bar = inst::readBar(mainWindow);
    return bar.span > 0 ? static_cast<double>(bar.fill[3]) / bar.span : 0;
}

void paintNow(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool installUntilCompleted(HWND mainWindow, bool (*whileRunning)(HWND))
{
    HWND button = ui::findChild(mainWindow, "Button", "Install");
    if (!button) return false;
    ui::pressButton(button);
    bool watching = whileRunning != nullptr;
    // The installation runs inside the button's command handler, so the installer answers
    // no message until it ends: while the button is disabled, look only at the screen.
    return ui::waitFor([&] {
        if (!IsWindow(button)) return true;
        if (!ui::isEnabled(button)) {
            double fill = watching ? barFill(mainWindow) : 0;
            if (fill > 0.15 && fill < 0.85) watching = !whileRunning(mainWindow);
            return false;
        }
        return ui::windowText(button) == "Completed";
    }, 300000) && IsWindow(button) && ui::windowText(button) == "Completed";
}

std::string hostJavaHome(bool withDisplay)
{
    return std::string(WB_BINARY_DIR) + (withDisplay ? "\\tests\\host-jre-display" : "\\tests\\real-jre");
}

}  // namespace road
