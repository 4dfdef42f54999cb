// The installer's faults under Wine, each with its decided behaviour: a bare stub ("Missing
// data"); a download cut short or damaged anywhere in the package, or another package
// made to pass the CRC-32 (the "damaged or incomplete" box before any window, nothing
// created); with the record's check cleared, a header or shortcut table cut short, or 257 shortcuts ("Data error" before any
// window); an entry stream cut short, altered, or naming ".." ("Data error" owned by the
// main window after Install, with no notice and no run command); files and folders that
// cannot be created (a warning, then the usual completion, a command meanwhile starting
// nothing); an install folder that cannot be made (nothing installed, no link, no entry in
// the list of installed programs); and a package total of 0 or too small for the bar. All
// but the last end with exit status 1, and none writes outside its install directory.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/package_format.h"
#include "tests/e2e/installer_e2e.h"
#include "tests/support/installer_fixtures.h"
#include "tests/support/launcher_fixtures.h"
#include "tests/support/shortcut_fixtures.h"
#include "tests/support/uninstall_fixtures.h"

namespace {

wbpack::PackageHeader header(const std::string& productName, const std::string& installDir,
                             const std::string& runCommand = "")
{
    return {productName, installDir, runCommand, "http://example.org/faults", "Wickerbay tests", ""};
}

// Starts the installer and expects the "Setup" box with text before any window: error
// icon, OK only (style 0x10), no owner; then exit status 1 once it is answered.
void expectStopsBeforeAnyWindow(const std::string& setup, const std::string& workDir, const std::string& text,
                                const std::string& screenshot = "")
{
    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", workDir, run));
    inst::Box box = inst::waitForBox(run.process);
    if (!screenshot.empty()) {
        EXPECT_TRUE(ui::saveScreenshot(screenshot));
    }
    expectBox(box, "Setup", text, MB_ICONERROR, {IDOK}, nullptr);
    EXPECT_FALSE(inst::hasWindowOfClass(run.process.pid, "MainWin"));
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 1u);
}

// A package whose stream is damaged after its header: three files, the middle one several
// bzip2 blocks long, and a run command that would start the recorder beside the installer.
struct StreamPackage {
    std::string base;
    std::string app;
    std::string setup;
    std::string recorder;
    std::string big;
};

StreamPackage writeStreamPackage(const std::string& base)
{
    StreamPackage p;
    p.base = base;
    p.app = base + "\\app";
    p.setup = base + "\\Setup.exe";
    p.recorder = base + "\\runner.exe";
    p.big = inst::noise(3 * 1024 * 1024, 21);
    EXPECT_TRUE(vmk::installRecorder(p.recorder));
    wbpack::PackageSpec package;
    package.header = header("Stream Test", p.app, "\"" + p.recorder + "\"");
    package.entries.push_back(wbpack::memoryFileEntry("first.txt", "first"));
    package.entries.push_back(wbpack::memoryFileEntry("big.bin", p.big));
    package.entries.push_back(wbpack::memoryFileEntry("never.txt", "never"));
    std::string error;
    EXPECT_TRUE(lnk::buildTestInstaller(package, p.setup, error)) << error;
    return p;
}

// Runs Install on a package damaged in its entry stream: the "Data error" box owned by the
// main window with the error icon and OK only, then exit status 1 at once, with no notice
// (which would keep the process waiting) and no run command.
void expectDataErrorAfterInstall(const std::string& setup, const std::string& workDir,
                                 const std::string& recorder, const std::string& screenshot = "")
{
    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", workDir, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ui::pressButton(inst::installButton(window));
    inst::Box box = inst::waitForBox(run.process, 60000);
    if (!screenshot.empty()) {
        EXPECT_TRUE(ui::saveScreenshot(screenshot));
    }
    expectBox(box, "Setup", "Data error", MB_ICONERROR, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 1u);
    // The installer has ended, so a start would have happened; the recorder gets a second.
    EXPECT_FALSE(ui::waitFor([&] { return lnk::fileExists(recorder + ".log"); }, 1000)) << "the run command ran";
}

// Sets the last four bytes of file so that the CRC-32 of everything from `from` on becomes
// `target`: the CRC-32 is affine in those 32 bits, so the bits are found by elimination.
void forceCrc32(std::string& file, std::size_t from, std::uint32_t target)
{
    wbformat::Crc32Table table{};
    const std::size_t last = file.size() - 4;
    const std::uint32_t before = wbformat::updateCrc32(table, 0, file.data() + from, last - from);
    auto crcWith = [&](std::uint32_t word) {
        unsigned char b[4] = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                              static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
        return wbformat::updateCrc32(table, before, b, 4);
    };
    const std::uint32_t base = crcWith(0);
    std::uint32_t columns[32], combos[32];
    for (int i = 0; i < 32; ++i) {
        columns[i] = crcWith(1u << i) ^ base;
        combos[i] = 1u << i;
    }
    for (int bit = 0; bit < 32; ++bit) {
        int pivot = bit;
        while (pivot < 32 && !(columns[pivot] >> bit & 1)) ++pivot;
        ASSERT_LT(pivot, 32);
        std::swap(columns[bit], columns[pivot]);
        std::swap(combos[bit], combos[pivot]);
        for (int r = 0; r < 32; ++r) {
            if (r != bit && (columns[r] >> bit & 1)) {
                columns[r] ^= columns[bit];
                combos[r] ^= combos[bit];
            }
        }
    }
    std::uint32_t word = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if ((target ^ base) >> bit & 1) word ^= combos[bit];
    }
    for (int i = 0; i < 4; ++i) file[last + i] = static_cast<char>(word >> (8 * i));
}

// What someone who can write the installer's folder puts in its place: the same stub and
// record, and another package (one that installs elsewhere) padded to the recorded length
// and made to pass the record's CRC-32.
std::string forgedInstaller(const std::string& whole, std::size_t offset, const std::string& base)
{
    wbpack::PackageSpec other;
    other.header = header("Forged", base + "\\elsewhere");
    other.entries.push_back(wbpack::memoryFileEntry("planted.txt", "planted"));
    std::string error, otherPath = base + "\\other.exe";
    EXPECT_TRUE(lnk::buildTestInstaller(other, otherPath, error)) << error;
    std::string forged = whole.substr(0, offset) + vmk::readFile(otherPath).substr(offset);
    DeleteFileA(otherPath.c_str());
    EXPECT_LT(forged.size() + 4, whole.size());
    forged.resize(whole.size(), '\0');
    std::size_t record = whole.find(wbformat::kOffsetMarker);
    std::uint32_t crc = 0;
    for (int i = 3; i >= 0; --i) crc = crc << 8 | static_cast<unsigned char>(whole[record + wbformat::kRecordCrcAt + i]);
    forceCrc32(forged, offset, crc);
    wbformat::Crc32Table table{};
    EXPECT_EQ(wbformat::updateCrc32(table, 0, forged.data() + offset, forged.size() - offset), crc);
    return forged;
}

// Clears the record's length and checksum, as a tool that writes only the offset leaves
// them: the installer then takes the package unchecked, as it always did.
std::string withoutCheck(std::string file)
{
    std::size_t at = file.find("WBPKGOFS");
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) file.replace(at + wbformat::kRecordLengthAt, 8, std::string(8, '\0'));
    return file;
}

// A package of one file under a given total, for the bar's bounds.
std::string setupWithTotal(const std::string& base, const std::string& app, std::uint32_t total)
{
    std::string stream = wbpack::encodeHeader(header("Total Test", app), {}) +
                         wbpack::encodeFileEntry("data.bin", inst::noise(300000, 31));
    std::string setup = base + "\\Setup.exe";
    std::string error;
    EXPECT_TRUE(inst::buildRawInstaller(total, stream, setup, error)) << error;
    return setup;
}

}  // namespace

TEST(InstallerFaultsEndToEnd, BareStubSaysMissingData)
{
    inst::TestFolder folder("installer_e2e_bare");
    std::string stub = folder.path + "\\Wickerbay.exe";
    ASSERT_TRUE(CopyFileA(inst::stubPath().c_str(), stub.c_str(), FALSE));
    expectStopsBeforeAnyWindow(stub, folder.path, "Missing data", "installer-missing-data");
    EXPECT_EQ(lnk::folderNames(folder.path), std::vector<std::string>{"Wickerbay.exe"});
}

TEST(InstallerFaultsEndToEnd, HeaderFaultsStopWithDataErrorBeforeAnyWindow)
{
    inst::TestFolder folder("installer_e2e_header");
    std::string app = folder.path + "\\app";
    std::string setup = folder.path + "\\Setup.exe";
    std::string error;
    wbpack::ShortcutSpec shortcut = {"$D\\Header Test.lnk", app + "\\runner.exe", app, "", "A shortcut"};
    std::string entries = wbpack::encodeFileEntry("file.txt", "contents");

    {
        SCOPED_TRACE("257 shortcuts");
        std::vector<wbpack::ShortcutSpec> shortcuts(257, shortcut);
        ASSERT_TRUE(inst::buildRawInstaller(8, wbpack::encodeHeader(header("Header Test", app), shortcuts) + entries,
                                            setup, error)) << error;
        expectStopsBeforeAnyWindow(setup, folder.path, "Data error", "installer-header-data-error");
    }
    {
        SCOPED_TRACE("shortcut table cut short");
        // Three records announced, the stream ends inside the second.
        std::string table = wbpack::encodeHeader(header("Header Test", app), {shortcut, shortcut, shortcut});
        std::string one = wbpack::encodeHeader(header("Header Test", app), {shortcut});
        std::string cut = table.substr(0, one.size() + 10);
        ASSERT_TRUE(inst::buildRawInstaller(8, cut, setup, error)) << error;
        expectStopsBeforeAnyWindow(setup, folder.path, "Data error");
    }
    {
        SCOPED_TRACE("installer file cut inside the header's compressed block");
        wbpack::PackageSpec package;
        package.header = header("Header Test", app);
        // A header over many compressed bytes (a counted string holds no zero byte).
        package.header.licenceText = inst::noise(60000, 41);
        for (char& c : package.header.licenceText) c = c == '\0' ? 'z' : c;
        package.entries.push_back(wbpack::memoryFileEntry("file.txt", "contents"));
        ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;
        std::string whole = vmk::readFile(setup);
        std::string stub = vmk::readFile(inst::stubPath());
        ASSERT_GT(whole.size(), stub.size() + 30000);
        ASSERT_TRUE(vmk::writeFile(setup, withoutCheck(whole.substr(0, stub.size() + 4 + 20000))));
        expectStopsBeforeAnyWindow(setup, folder.path, "Data error");
    }
    EXPECT_EQ(lnk::folderNames(folder.path), std::vector<std::string>{"Setup.exe"});
}

TEST(InstallerFaultsEndToEnd, CutShortStreamStopsWithDataErrorKeepingOnlyDeliveredBytes)
{
    inst::TestFolder folder("installer_e2e_cut");
    StreamPackage p = writeStreamPackage(folder.path);
    std::string whole = vmk::readFile(p.setup);
    // Cut in the big file's last compressed block: the header and its first blocks arrive.
    // Without the record's length the installer cannot know before it reads that far.
    ASSERT_TRUE(vmk::writeFile(p.setup, withoutCheck(whole.substr(0, whole.size() * 3 / 4))));
    expectDataErrorAfterInstall(p.setup, p.base, p.recorder, "installer-data-error");

    EXPECT_EQ(vmk::readFile(p.app + "\\first.txt"), "first");
    std::string written = vmk::readFile(p.app + "\\big.bin");
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), p.big.size());
    EXPECT_TRUE(written == p.big.substr(0, written.size())) << "bytes the package never held were written";
    EXPECT_EQ(lnk::folderNames(p.app), (std::vector<std::string>{"__uninst.dat", "big.bin", "first.txt"}));
    // Logged, so that what was written can be removed.
    EXPECT_EQ(lnk::readUninstallLog(p.app + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{{0, p.app + "\\big.bin"}, {0, p.app + "\\first.txt"},
                                                 {3, p.app + "\\"}}));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Setup.exe", "app", "runner.exe"}));
}

TEST(InstallerFaultsEndToEnd, FlippedByteInTheStreamStopsWithDataError)
{
    inst::TestFolder folder("installer_e2e_flipped");
    StreamPackage p = writeStreamPackage(folder.path);
    std::string bytes = vmk::readFile(p.setup);
    // Inside the big file's second compressed block, all of it file data.
    bytes[bytes.size() / 2] ^= 0x10;
    ASSERT_TRUE(vmk::writeFile(p.setup, withoutCheck(bytes)));
    expectDataErrorAfterInstall(p.setup, p.base, p.recorder);

    EXPECT_EQ(vmk::readFile(p.app + "\\first.txt"), "first");
    std::string written = vmk::readFile(p.app + "\\big.bin");
    EXPECT_LT(written.size(), p.big.size());
    EXPECT_EQ(lnk::folderNames(p.app), (std::vector<std::string>{"__uninst.dat", "big.bin", "first.txt"}));
    EXPECT_EQ(lnk::readUninstallLog(p.app + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{{0, p.app + "\\big.bin"}, {0, p.app + "\\first.txt"},
                                                 {3, p.app + "\\"}}));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Setup.exe", "app", "runner.exe"}));
}

TEST(InstallerFaultsEndToEnd, DamagedOrIncompleteDownloadStopsBeforeAnyWindowCreatingNothing)
{
    inst::TestFolder folder("installer_e2e_damaged");
    StreamPackage p = writeStreamPackage(folder.path);
    const std::string whole = vmk::readFile(p.setup);
    const std::size_t offset = vmk::readFile(inst::stubPath()).size();
    std::string flippedStream = whole, flippedTotal = whole;
    flippedStream[whole.size() / 2] ^= 0x10;
    flippedTotal[offset] ^= 0x01;   // the package total, read before the stream
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"truncated", whole.substr(0, whole.size() - 1)},
        {"byte flipped in the stream", flippedStream},
        {"byte flipped in the total", flippedTotal},
        {"another package of the same length and CRC-32", forgedInstaller(whole, offset, p.base)}};
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.first);
        ASSERT_TRUE(vmk::writeFile(p.setup, damage.second));
        expectStopsBeforeAnyWindow(p.setup, p.base, wbformat::kDamagedText,
                                   damage.first == "truncated" ? "installer-damaged" : "");
        EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Setup.exe", "runner.exe"}));
    }
    // Bytes after the recorded length, as a signature appends them, change nothing.
    ASSERT_TRUE(vmk::writeFile(p.setup, whole + std::string(4096, '\x5A')));
    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(p.setup, "", p.base, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ui::closeWindow(window);
    EXPECT_EQ(ui::waitExit(run.process), 0u);
}

TEST(InstallerFaultsEndToEnd, DotDotNameStopsWithDataErrorBeforeLeavingTheInstallDirectory)
{
    inst::TestFolder folder("installer_e2e_dotdot");
    std::string app = folder.path + "\\app";
    std::string setup = folder.path + "\\Setup.exe";
    std::string recorder = folder.path + "\\runner.exe";
    ASSERT_TRUE(vmk::installRecorder(recorder));
    // Entered, ".." would take the file after it into the folder above the install
    // directory; the builder refuses such a name, so the stream is written raw.
    std::string stream = wbpack::encodeHeader(header("Dot Test", app, "\"" + recorder + "\""), {}) +
                         wbpack::encodeFileEntry("ok.txt", "ok") + wbpack::encodeEnterDir("..") +
                         wbpack::encodeFileEntry("escaped.txt", "out") + wbpack::encodeLeaveDir() +
                         wbpack::encodeFileEntry("after.txt", "after");
    std::string error;
    ASSERT_TRUE(inst::buildRawInstaller(15, stream, setup, error)) << error;
    expectDataErrorAfterInstall(setup, folder.path, recorder);

    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "ok.txt"}));
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{{0, app + "\\ok.txt"}, {3, app + "\\"}}));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Setup.exe", "app", "runner.exe"}));
    EXPECT_FALSE(lnk::fileExists("C:\\wbtest\\escaped.txt"));
}

TEST(InstallerFaultsEndToEnd, FilesThatCannotBeCreatedAreReportedAndTheInstallationCompletes)
{
    inst::TestFolder folder("installer_e2e_blocked");
    std::string app = folder.path + "\\app";
    std::string setup = folder.path + "\\Setup.exe";
    // A folder where a file goes, and a file where a folder goes.
    ASSERT_TRUE(vmk::makeFolders(app + "\\blocked.txt"));
    ASSERT_TRUE(vmk::writeFile(app + "\\locked", "in the way"));
    wbpack::PackageSpec package;
    package.header = header("Blocked Test", app);
    package.entries = {wbpack::memoryFileEntry("blocked.txt", inst::noise(70000, 51)),
                       wbpack::enterDirEntry("locked"),
                       wbpack::memoryFileEntry("inner.txt", "inner"),
                       wbpack::leaveDirEntry(),
                       wbpack::memoryFileEntry("after.txt", "after")};
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    HWND button = inst::installButton(window);
    ui::pressButton(button);
    // After the shortcut phase, before "Completed": the file, the folder and its file.
    inst::Box warning = inst::waitForBox(run.process);
    EXPECT_TRUE(ui::saveScreenshot("installer-some-files"));
    expectBox(warning, "Setup",
              "Some files could not be installed (3 in all). The first was:\n\n" + app + "\\blocked.txt",
              MB_ICONWARNING, {IDOK}, window);
    // The box's own loop handles this command before the answer: it must not start the
    // installation a second time.
    PostMessageA(window, WM_COMMAND, 0, 0);
    EXPECT_TRUE(inst::answerBox(warning, IDOK));
    ASSERT_TRUE(ui::waitFor([&] { return ui::windowText(button) == "Completed" && ui::isEnabled(button); }));
    ui::pressButton(button);
    inst::Box box = inst::waitForBox(run.process);
    expectBox(box, "Notice", "`Blocked Test' has been installed at `" + app + "'", MB_ICONINFORMATION, {IDOK},
              window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 1u);

    // The stream stayed in step; what stood in the way is untouched and never logged.
    EXPECT_EQ(vmk::readFile(app + "\\after.txt"), "after");
    EXPECT_TRUE(lnk::directoryExists(app + "\\blocked.txt"));
    EXPECT_EQ(lnk::folderNames(app + "\\blocked.txt"), std::vector<std::string>{});
    EXPECT_EQ(vmk::readFile(app + "\\locked"), "in the way");
    EXPECT_EQ(lnk::folderNames(app), (std::vector<std::string>{"__uninst.dat", "after.txt", "blocked.txt", "locked"}));
    EXPECT_EQ(lnk::readUninstallLog(app + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{{0, app + "\\after.txt"}, {3, app + "\\"}}));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Setup.exe", "app"}));
}

TEST(InstallerFaultsEndToEnd, ZeroOrTooSmallTotalKeepsTheBarInsideItsFrame)
{
    inst::TestFolder folder("installer_e2e_total");
    std::string app = folder.path + "\\app";
    for (std::uint32_t total : {0u, 1u}) {
        SCOPED_TRACE("package total " + std::to_string(total));
        std::string setup = setupWithTotal(folder.path, app, total);
        inst::Running run;
        ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
        HWND window = inst::waitForReadyMainWindow(run.process);
        ASSERT_NE(window, nullptr);
        // A division by zero would end the process here.
        ASSERT_TRUE(inst::installUntilCompleted(window));
        EXPECT_TRUE(inst::waitUntilDrawn(window));
        inst::Bar bar = inst::readBar(window);
        if (total == 0) {
            // No fill at all; the prompt is shown again, as the bar has no denominator.
            EXPECT_FALSE(inst::anyBlack(window, 31, 71, 51, 59));
            EXPECT_TRUE(inst::anyBlack(window, 72, 200, 52, 58));
            EXPECT_TRUE(ui::saveScreenshot("installer-total-zero"));
        } else {
            // 300000 bytes of a stated 1: a full bar, never past the frame.
            for (int row = 0; row < 7; ++row) EXPECT_EQ(bar.fill[row], bar.span) << "row " << 52 + row;
            EXPECT_TRUE(bar.frame);
            EXPECT_TRUE(bar.gapClear);
            EXPECT_TRUE(bar.beyondClear);
            EXPECT_FALSE(inst::anyBlack(window, bar.right - 29, bar.right - 1, 48, 62));
        }
        ui::pressButton(inst::installButton(window));
        EXPECT_TRUE(inst::answerNextBox(run.process, IDOK));
        EXPECT_EQ(ui::waitExit(run.process), 0u);
        EXPECT_EQ(vmk::readFile(app + "\\data.bin"), inst::noise(300000, 31));
    }
}

namespace {

// The DLLs a program's import table names, as written there.
std::vector<std::string> importedDlls(const std::string& program)
{
    std::string image = vmk::readFile(program);
    std::vector<std::string> names;
    auto at = [&](std::size_t offset, std::size_t size) { return offset + size <= image.size(); };
    if (!at(0, sizeof(IMAGE_DOS_HEADER))) return names;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (!at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32))) return names;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    auto sections = IMAGE_FIRST_SECTION(nt);
    auto fileOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        return image.size();
    };
    DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (std::size_t d = fileOffset(importRva); at(d, sizeof(IMAGE_IMPORT_DESCRIPTOR));
         d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + d);
        if (descriptor->Name == 0) break;
        std::size_t name = fileOffset(descriptor->Name);
        if (name < image.size()) names.push_back(image.c_str() + name);
    }
    return names;
}

// Those that are not among the system DLLs Windows always takes from the system folder.
std::vector<std::string> foreignImports(const std::string& program)
{
    std::vector<std::string> foreign;
    for (const std::string& name : importedDlls(program)) {
        bool system = false;
        for (const char* known : {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll",
                                  "shell32.dll", "msvcrt.dll"}) {
            system = system || lstrcmpiA(name.c_str(), known) == 0;
        }
        if (!system) foreign.push_back(name);
    }
    return foreign;
}

}  // namespace

TEST(InstallerDllSearch, TheShippedProgramsImportOnlySystemDlls)
{
    for (const char* program : {"Wickerbay.exe", "__uninst.exe", "vmkick.exe"}) {
        std::string path = std::string(WB_DIST_DIR) + "\\" + program;
        EXPECT_GE(importedDlls(path).size(), 3u) << path;
        EXPECT_EQ(foreignImports(path), std::vector<std::string>{}) << path;
    }
    // The check itself sees a DLL from elsewhere.
    EXPECT_EQ(foreignImports(WB_BINARY_DIR "\\tests\\support\\planted.dll"), std::vector<std::string>{"VERSION.dll"});
}

// Wine, told to prefer a native uxtheme.dll for this installer, takes one from the
// installer's folder unless the search is kept to the system folder; user32 loads it when
// the first window opens. (Wine reads the override for a child process from the registry,
// not from the environment its parent gives it.)
TEST(InstallerDllSearch, ADllPlantedBesideTheInstallerIsNotLoaded)
{
    inst::TestFolder folder("installer_e2e_planted");
    const char* overrideKey = "Software\\Wine\\AppDefaults\\PlantedSetup.exe\\DllOverrides";
    std::string setup = folder.path + "\\PlantedSetup.exe", error;
    ASSERT_TRUE(lnk::buildTestInstaller(lnk::basicPackage(folder.path + "\\app", ""), setup, error)) << error;
    ASSERT_TRUE(CopyFileA(WB_BINARY_DIR "\\tests\\support\\planted.dll", (folder.path + "\\uxtheme.dll").c_str(),
                          FALSE));
    const char nativeFirst[] = "native,builtin";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, overrideKey, "uxtheme", REG_SZ, nativeFirst, sizeof nativeFirst),
              ERROR_SUCCESS);
    inst::Running run;
    bool started = inst::startInstaller(setup, "", folder.path, run);
    HWND mainWindow = started ? inst::waitForReadyMainWindow(run.process) : nullptr;
    RegDeleteKeyA(HKEY_CURRENT_USER, overrideKey);
    ASSERT_TRUE(started);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_FALSE(lnk::fileExists(folder.path + "\\planted-dll-ran.txt"));
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(ui::waitExit(run.process), 0u);
}

TEST(InstallerFaultsEndToEnd, InstallFolderThatCannotBeMadeInstallsNothingAndLinksNothing)
{
    lnk::ShellFoldersGuard guard;
    uns::UserShellFoldersGuard userGuard;
    inst::TestFolder folder("installer_e2e_no_folder");
    std::string desktop = folder.path + "\\Desktop";
    ASSERT_TRUE(vmk::makeFolders(desktop));
    ASSERT_TRUE(uns::pointShellFolder("Desktop", desktop));
    // A file where a folder of the install directory's path should be.
    ASSERT_TRUE(vmk::writeFile(folder.path + "\\blocker", "in the way"));
    std::string app = folder.path + "\\blocker\\app";
    wbpack::PackageSpec package = uns::packageWithUninstaller("No Folder Test", app);
    package.shortcuts = {{"$D\\No Folder.lnk", app + "\\App.exe", app, "", "Starts it"}};
    std::string setup = folder.path + "\\Setup.exe";
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;
    uns::forgetEntry("No_Folder_Test");

    inst::Running run;
    ASSERT_TRUE(inst::startInstaller(setup, "", folder.path, run));
    HWND window = inst::waitForReadyMainWindow(run.process);
    ASSERT_NE(window, nullptr);
    ui::pressButton(inst::installButton(window));
    inst::Box box = inst::waitForBox(run.process);
    EXPECT_TRUE(ui::saveScreenshot("installer-no-folder"));
    expectBox(box, "Setup", "The install folder `" + app + "' cannot be created.\n\nNothing has been installed.",
              MB_ICONERROR, {IDOK}, window);
    EXPECT_TRUE(inst::answerBox(box, IDOK));
    EXPECT_EQ(ui::waitExit(run.process), 1u);

    EXPECT_EQ(lnk::folderNames(desktop), std::vector<std::string>{});
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("No_Folder_Test")));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_CURRENT_USER, uns::entryKeyPath("No_Folder_Test")));
    EXPECT_EQ(lnk::folderNames(folder.path), (std::vector<std::string>{"Desktop", "Setup.exe", "blocker"}));
    uns::forgetEntry("No_Folder_Test");
}
