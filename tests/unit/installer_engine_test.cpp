// Unit tests of the installer's package reader and installation engine, under Wine against
// real folders of the test prefix (below C:\wbtest\engine, one fresh folder per test). The
// packages are written with the package builder's raw writer, so damaged and hostile ones
// can be made too. The windows and the shortcut phase are stood in for by the recorders
// below: every progress redraw, message box, shortcut phase and registration is noted.
#include <gtest/gtest.h>

#include <windows.h>

#include <direct.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "installer/block_reader.h"
#include "installer/install_engine.h"
#include "installer/install_records.h"
#include "installer/installer_state.h"
#include "installer/main_window.h"
#include "installer/package_reader.h"
#include "installer/shell_shortcuts.h"
#include "installer/uninstall_registration.h"
#include "tests/unit/pack_test_files.h"
#include "tools/pack/pack.h"

namespace fs = std::filesystem;

// ---- Stand-ins for the parts the engine calls ----------------------------------------

namespace {

using packtest::bytes;
using packtest::noise;
using packtest::readFile;

struct Recorded {
    std::vector<std::uint32_t> redraws;                       // bytesWritten at each redraw
    std::vector<std::pair<std::string, UINT>> messages;       // "Setup" boxes: text, icon
    int shortcutPhases = 0;
    std::vector<std::vector<std::string>> registrations;
};

Recorded recorded;
std::function<void()> shortcutPhaseWork;
std::function<void()> redrawWork;

}  // namespace

void drawProgress()
{
    recorded.redraws.push_back(installerState.bytesWritten);
    if (redrawWork) redrawWork();
}

void showSetupMessage(const char* text, UINT icon)
{
    recorded.messages.emplace_back(text, icon);
}

void createShortcuts()
{
    recorded.shortcutPhases += 1;
    if (shortcutPhaseWork) shortcutPhaseWork();
}

std::vector<std::string> shortcutFolders()
{
    return {};
}

void registerUninstaller(bool perUser, const char* productName, const char* uninstallCommand,
                         const char* webAddress, const char* publisher)
{
    recorded.registrations.push_back(
        {perUser ? "per user" : "all users", productName, uninstallCommand, webAddress, publisher});
}

namespace {

// ---- Helpers -------------------------------------------------------------------------

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string currentDir()
{
    char buffer[4096] = {0};
    return _getcwd(buffer, sizeof buffer) ? buffer : "";
}

// The names in a folder, sorted.
std::vector<std::string> listing(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string pattern(std::size_t size)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + i % 23);
    return out;
}

using Records = std::vector<std::pair<int, std::string>>;

// The uninstall log as the engine holds it, newest first.
Records logRecords()
{
    Records records;
    for (const LogRecord* r = installerState.uninstallLog; r; r = r->next) records.emplace_back(r->type, r->path);
    return records;
}

// The bytes __uninst.dat must hold for these records (newest first).
std::string logFileBytes(const Records& records)
{
    std::string out;
    for (const auto& r : records) {
        out += static_cast<char>(r.first);
        out += static_cast<char>(r.second.size() & 0xFF);
        out += static_cast<char>(r.second.size() >> 8);
        out += r.second;
    }
    return out;
}

wbpack::PackageHeader header(const std::string& installDir)
{
    wbpack::PackageHeader h;
    h.productName = "Example Product";
    h.installDir = installDir;
    h.webAddress = "http://example.test/";
    h.publisher = "Example Publisher";
    return h;
}

std::string headerBytes(const std::string& installDir)
{
    return wbpack::encodeHeader(header(installDir), {});
}

using wbpack::encodeEnterDir;
using wbpack::encodeFileEntry;
using wbpack::encodeLeaveDir;

const std::string kStub =
    "MZ test stub " + std::string("WBPKGOFS") + bytes({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(44, '\0') + " tail";

void resetInstaller()
{
    InstallerState& s = installerState;
    closePackage();
    // The whole program runs again with the decoding threads forced (see installer.cmake).
    const char* threads = std::getenv("WB_TEST_DECODE_THREADS");
    setDecodeThreads(threads ? std::atoi(threads) : 0);
    s = InstallerState{};
    s.packageTotal = 1;
    recorded = Recorded();
    shortcutPhaseWork = nullptr;
    redrawWork = nullptr;
}

// ---- Fixture -------------------------------------------------------------------------

class Engine : public ::testing::Test {
protected:
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string root = "C:\\wbtest\\engine\\" + name;   // the test's own folder, fresh
    std::string packages = "C:\\wbtest\\engine-packages";
    int packageCount = 0;

    void SetUp() override
    {
        resetInstaller();
        std::error_code ec;
        fs::remove_all(root, ec);
        fs::create_directories(root);
        fs::create_directories(packages);
        ASSERT_EQ(_chdir(root.c_str()), 0);
    }

    void TearDown() override
    {
        resetInstaller();
        _chdir("C:\\");
    }

    // Writes an installer file holding exactly `stream` and returns its path.
    std::string writePackage(const std::string& stream, std::uint32_t total = 1000)
    {
        std::string path = packages + "\\" + name + "-" + std::to_string(packageCount++) + ".exe";
        std::string error;
        EXPECT_TRUE(wbpack::writeRawInstaller(kStub, total, stream, path, error)) << error;
        return path;
    }

    // Opens a package the way the installer opens its own; "" when that succeeded, else the
    // text of the "Setup" box.
    std::string openAt(const std::string& path, std::uint32_t offset)
    {
        const char* problem = loadPackage(path.c_str(), offset);
        return problem ? problem : "";
    }

    std::string open(const std::string& path)
    {
        return openAt(path, static_cast<std::uint32_t>(kStub.size()));
    }

    // Opens a package holding `stream` and runs the whole installation on it.
    void install(const std::string& stream, std::uint32_t total = 1000)
    {
        ASSERT_EQ(open(writePackage(stream, total)), "");
        runInstallation();
    }

    // A second installation in the same test: a state as fresh as at start-up.
    void restart()
    {
        resetInstaller();
        ASSERT_EQ(_chdir(root.c_str()), 0);
    }
};

// ---- The package header ----------------------------------------------------------------

TEST_F(Engine, HeaderFillsTheStateAndLeavesTheReaderAtTheEntries)
{
    wbpack::PackageHeader h;
    h.productName = "Product";
    h.installDir = "C:\\Apps\\Tool";
    h.runCommand = "C:\\Apps\\Tool\\run.exe -x";
    h.webAddress = "http://example.test/";
    h.publisher = "";   // a counted string of length 0 is an empty text
    h.licenceText = "Licence\r\ntext";
    std::vector<wbpack::ShortcutSpec> shortcuts = {{"$D\\A.lnk", "C:\\t.exe", "C:\\", "-a", "desc"},
                                                   {"$P\\B.lnk", "http://x.test/", "", "", ""}};
    std::string path = writePackage(wbpack::encodeHeader(h, shortcuts) + bytes({9}), 1104221);
    ASSERT_EQ(open(path), "");

    const InstallerState& s = installerState;
    EXPECT_STREQ(s.productName, "Product");
    EXPECT_STREQ(s.installDir, "C:\\Apps\\Tool");
    EXPECT_STREQ(s.runCommand, "C:\\Apps\\Tool\\run.exe -x");
    EXPECT_STREQ(s.webAddress, "http://example.test/");
    EXPECT_STREQ(s.publisher, "");
    EXPECT_STREQ(s.licenceText, "Licence\r\ntext");
    EXPECT_EQ(s.packageTotal, 1104221u);   // from the four bytes before the stream
    ASSERT_EQ(s.shortcutCount, 2);
    EXPECT_STREQ(s.shortcuts[0].linkPath, "$D\\A.lnk");
    EXPECT_STREQ(s.shortcuts[0].target, "C:\\t.exe");
    EXPECT_STREQ(s.shortcuts[0].workingDir, "C:\\");
    EXPECT_STREQ(s.shortcuts[0].arguments, "-a");
    EXPECT_STREQ(s.shortcuts[0].description, "desc");
    EXPECT_STREQ(s.shortcuts[1].target, "http://x.test/");
    EXPECT_STREQ(s.shortcuts[1].description, "");
    EXPECT_EQ(s.shortcuts[2].linkPath, nullptr);

    unsigned char next = 0;
    EXPECT_EQ(readPackageBytes(&next, 1), 1u);
    EXPECT_EQ(next, 9);
}

TEST_F(Engine, ShortcutTableHoldsAtMost256Records)
{
    std::vector<wbpack::ShortcutSpec> shortcuts(256, {"$D\\L.lnk", "t", "w", "a", "d"});
    shortcuts.back().linkPath = "$D\\Last.lnk";
    ASSERT_EQ(open(writePackage(wbpack::encodeHeader(header("C:\\X"), shortcuts))), "");
    EXPECT_EQ(installerState.shortcutCount, 256);
    EXPECT_STREQ(installerState.shortcuts[255].linkPath, "$D\\Last.lnk");

    restart();
    shortcuts.push_back(shortcuts.back());
    EXPECT_EQ(open(writePackage(wbpack::encodeHeader(header("C:\\X"), shortcuts))), "Data error");
}

TEST_F(Engine, NegativeShortcutCountReadsNoRecords)
{
    std::string stream = headerBytes("C:\\X");
    stream.replace(stream.size() - 4, 4, bytes({0xFF, 0xFF, 0xFF, 0xFF}));   // count -1
    ASSERT_EQ(open(writePackage(stream + bytes({7}))), "");
    EXPECT_EQ(installerState.shortcutCount, -1);
    unsigned char next = 0;
    EXPECT_EQ(readPackageBytes(&next, 1), 1u);
    EXPECT_EQ(next, 7);
}

TEST_F(Engine, OpeningFailuresNameTheirCause)
{
    EXPECT_EQ(openAt(packages + "\\does-not-exist.exe", 0), "Package error");

    std::string path = writePackage(headerBytes("C:\\X"));
    restart();
    // A bare stub carries the placeholder, which is no offset at all.
    EXPECT_EQ(openAt(path, 0xFFFFFFFFu), "Missing data");
    restart();
    EXPECT_EQ(openAt(path, 0x80000000u), "Missing data");   // beyond what a seek can reach
    restart();
    // Seeking past the end succeeds, but no package total follows.
    EXPECT_EQ(openAt(path, static_cast<std::uint32_t>(fs::file_size(path) + 100)), "Data error");
    restart();
    EXPECT_EQ(openAt(path, static_cast<std::uint32_t>(fs::file_size(path) - 2)), "Data error");
}

TEST_F(Engine, HeaderMustArriveWhole)
{
    std::string full = headerBytes("C:\\X");
    // Cut inside the first length, inside the product name, inside the install directory's
    // length, and inside the shortcut count.
    for (std::size_t cut : {std::size_t(1), std::size_t(10), std::size_t(18), full.size() - 1}) {
        restart();
        EXPECT_EQ(open(writePackage(full.substr(0, cut))), "Data error") << "cut at " << cut;
    }
    std::vector<wbpack::ShortcutSpec> shortcuts = {{"$D\\A.lnk", "t", "w", "a", "description"}};
    std::string withTable = wbpack::encodeHeader(header("C:\\X"), shortcuts);
    restart();
    EXPECT_EQ(open(writePackage(withTable.substr(0, withTable.size() - 3))), "Data error");

    // A bzip2 stream that breaks off inside the header reports an error, not a short read.
    std::string path = writePackage(full + noise(2000, 3));
    std::string file = readFile(path);
    writeFile(path, file.substr(0, kStub.size() + 4 + 30));
    restart();
    EXPECT_EQ(open(path), "Data error");
}

TEST_F(Engine, PackageOffsetWordIsThePlaceholderInAnUnpatchedProgram)
{
    EXPECT_EQ(packageOffset(), 0xFFFFFFFFu);
}

// ---- The worked example and the uninstall log ------------------------------------------

TEST_F(Engine, WorkedExampleWritesThirtySevenByteLog)
{
    std::error_code ec;
    fs::remove_all("C:\\A", ec);
    install(headerBytes("C:\\A") + encodeFileEntry("x", "abc") + encodeEnterDir("d") + encodeFileEntry("y", "yy") +
            encodeLeaveDir());

    EXPECT_EQ(readFile("C:\\A\\x"), "abc");
    EXPECT_EQ(readFile("C:\\A\\d\\y"), "yy");
    EXPECT_EQ(readFile("C:\\A\\__uninst.dat"),
              bytes({0x00, 0x08, 0x00}) + "C:\\A\\d\\y" + bytes({0x01, 0x06, 0x00}) + "C:\\A\\d" +
                  bytes({0x00, 0x06, 0x00}) + "C:\\A\\x" + bytes({0x03, 0x05, 0x00}) + "C:\\A\\");
    EXPECT_EQ(fs::file_size("C:\\A\\__uninst.dat"), 37u);
    EXPECT_STREQ(installerState.installDir, "C:\\A");
    EXPECT_EQ(currentDir(), "C:\\A");
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);
    EXPECT_EQ(installerState.failedCount, 0u);
    EXPECT_EQ(recorded.shortcutPhases, 1);
    EXPECT_TRUE(recorded.messages.empty());
    EXPECT_TRUE(recorded.registrations.empty());   // no __uninst.exe in this package
    EXPECT_EQ(recorded.redraws, (std::vector<std::uint32_t>{3, 5}));
    fs::remove_all("C:\\A", ec);
}

TEST_F(Engine, ShortcutRecordsComeFirstInTheLog)
{
    std::string dir = root + "\\inst";
    shortcutPhaseWork = [] {
        logUninstallRecord(4, "", "C:\\Links");
        logUninstallRecord(0, "", "C:\\Links\\One.lnk");
        logUninstallRecord(4, "", "C:\\Links\\Sub");
        logUninstallRecord(0, "", "C:\\Links\\Sub\\Two.lnk");
    };
    install(headerBytes(dir) + encodeFileEntry("f", "1") + encodeEnterDir("d") + encodeLeaveDir());

    Records expected = {{0, "C:\\Links\\Sub\\Two.lnk"}, {4, "C:\\Links\\Sub"}, {0, "C:\\Links\\One.lnk"},
                        {4, "C:\\Links"}, {1, dir + "\\d"}, {0, dir + "\\f"}, {3, dir + "\\"}};
    EXPECT_EQ(logRecords(), expected);
    EXPECT_EQ(readFile(dir + "\\__uninst.dat"), logFileBytes(expected));
}

// ---- File data -------------------------------------------------------------------------

TEST_F(Engine, FileDataMovesInChunksOfAtMost32768Bytes)
{
    std::string dir = root + "\\inst";
    std::string a = pattern(32768), b = noise(32769, 1), c = pattern(70000);
    install(headerBytes(dir) + encodeFileEntry("a", a) + encodeFileEntry("b", b) + encodeFileEntry("c", c) +
            encodeFileEntry("empty", ""));

    // One redraw per chunk, after it: 32768 | 32768 + 1 | 32768 + 32768 + 4464 | none.
    std::vector<std::uint32_t> expected = {32768, 65536, 65537, 98305, 131073, 135537};
    EXPECT_EQ(recorded.redraws, expected);
    EXPECT_EQ(installerState.bytesWritten, 135537u);
    EXPECT_EQ(readFile(dir + "\\a"), a);
    EXPECT_EQ(readFile(dir + "\\b"), b);
    EXPECT_EQ(readFile(dir + "\\c"), c);
    ASSERT_TRUE(exists(dir + "\\empty"));
    EXPECT_EQ(fs::file_size(dir + "\\empty"), 0u);
}

TEST_F(Engine, ExistingFileIsReplaced)
{
    std::string dir = root + "\\inst";
    fs::create_directories(dir);
    writeFile(dir + "\\f", "a much longer old content");
    install(headerBytes(dir) + encodeFileEntry("f", "new"));
    EXPECT_EQ(readFile(dir + "\\f"), "new");
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\f"}, {3, dir + "\\"}}));
}

// ---- Names, tags and directories --------------------------------------------------------

TEST_F(Engine, UninstallerIsExtractedButNeverLoggedAndThenRegistered)
{
    std::string dir = root + "\\inst";
    install(headerBytes(dir) + encodeFileEntry("__uninst.exe", "MZ uninstaller") + encodeEnterDir("d") +
            encodeFileEntry("__uninst.exe", "nested") + encodeLeaveDir() + encodeEnterDir("e") +
            encodeFileEntry("__UNINST.EXE", "upper") + encodeLeaveDir());

    EXPECT_EQ(readFile(dir + "\\__uninst.exe"), "MZ uninstaller");
    EXPECT_EQ(readFile(dir + "\\d\\__uninst.exe"), "nested");
    EXPECT_EQ(readFile(dir + "\\e\\__UNINST.EXE"), "upper");
    // Left out in every directory; the comparison is case-sensitive.
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\e\\__UNINST.EXE"}, {1, dir + "\\e"}, {1, dir + "\\d"},
                                     {3, dir + "\\"}}));
    ASSERT_EQ(recorded.registrations.size(), 1u);
    EXPECT_EQ(recorded.registrations[0],
              (std::vector<std::string>{"all users", "Example Product", "\"" + dir + "\\__uninst.exe\"",
                                        "http://example.test/", "Example Publisher"}));

    // Only a top-level uninstaller is registered.
    restart();
    std::string other = root + "\\other";
    install(headerBytes(other) + encodeEnterDir("d") + encodeFileEntry("__uninst.exe", "x") + encodeLeaveDir());
    EXPECT_TRUE(exists(other + "\\d\\__uninst.exe"));
    EXPECT_TRUE(recorded.registrations.empty());

    // Only with its log: a folder in the log's place keeps the log from being written, and
    // an entry would point at an uninstaller that can remove nothing.
    restart();
    std::string noLog = root + "\\nolog";
    fs::create_directories(noLog + "\\__uninst.dat");
    install(headerBytes(noLog) + encodeFileEntry("__uninst.exe", "MZ"));
    EXPECT_TRUE(recorded.registrations.empty());
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"Some files could not be installed (1 in all). The first was:\n\n" + noLog + "\\__uninst.dat",
                   MB_ICONWARNING}}));
    EXPECT_EQ(listing(noLog), (std::vector<std::string>{"__uninst.dat", "__uninst.exe"}));
    EXPECT_TRUE(isDirectory(noLog + "\\__uninst.dat"));
}

TEST_F(Engine, UnknownTagsAreSkippedAlone)
{
    std::string dir = root + "\\inst";
    install(headerBytes(dir) + bytes({7}) + encodeFileEntry("a", "A") + bytes({3, 255}) + encodeEnterDir("d") +
            bytes({7}) + encodeFileEntry("b", "B") + encodeLeaveDir() + bytes({128}));

    EXPECT_EQ(readFile(dir + "\\a"), "A");
    EXPECT_EQ(readFile(dir + "\\d\\b"), "B");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"__uninst.dat", "a", "d"}));
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);
}

TEST_F(Engine, LeavingTrimsTheRunningPathOneLevel)
{
    std::string dir = root + "\\inst";
    install(headerBytes(dir) + encodeEnterDir("d") + encodeEnterDir("e") + encodeFileEntry("z", "1") +
            encodeLeaveDir() + encodeFileEntry("w", "2") + encodeLeaveDir() + encodeFileEntry("v", "3"));

    EXPECT_EQ(readFile(dir + "\\d\\e\\z"), "1");
    EXPECT_EQ(readFile(dir + "\\d\\w"), "2");
    EXPECT_EQ(readFile(dir + "\\v"), "3");
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\v"}, {0, dir + "\\d\\w"}, {0, dir + "\\d\\e\\z"},
                                     {1, dir + "\\d\\e"}, {1, dir + "\\d"}, {3, dir + "\\"}}));
}

TEST_F(Engine, ExistingDirectoryIsEnteredAndLogged)
{
    std::string dir = root + "\\inst";
    fs::create_directories(dir + "\\d");
    writeFile(dir + "\\d\\keep", "kept");
    install(headerBytes(dir) + encodeEnterDir("d") + encodeFileEntry("y", "Y") + encodeLeaveDir());

    EXPECT_EQ(readFile(dir + "\\d\\keep"), "kept");
    EXPECT_EQ(readFile(dir + "\\d\\y"), "Y");
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\d\\y"}, {1, dir + "\\d"}, {3, dir + "\\"}}));
    EXPECT_EQ(installerState.failedCount, 0u);
}

TEST_F(Engine, StreamEndingRightAfterFileDataOrALeaveIsComplete)
{
    std::string dir = root + "\\inst";
    install(headerBytes(dir) + encodeFileEntry("last", "data"));
    EXPECT_EQ(readFile(dir + "\\last"), "data");
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);

    // The final leave arrives together with the end of the stream and is not acted upon;
    // the engine returns to the install directory all the same.
    restart();
    install(headerBytes(dir) + encodeEnterDir("d") + encodeFileEntry("empty", "") + encodeLeaveDir());
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);
    EXPECT_EQ(currentDir(), dir);
    EXPECT_TRUE(exists(dir + "\\__uninst.dat"));

    // No entries at all: the header's last read already met the end of the stream.
    restart();
    install(headerBytes(root + "\\empty"));
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);
    EXPECT_EQ(readFile(root + "\\empty\\__uninst.dat"), logFileBytes({{3, root + "\\empty\\"}}));
}

// ---- The install directory ---------------------------------------------------------------

TEST_F(Engine, TrailingBackslashIsAddedOrKeptAndDroppedAtTheEnd)
{
    for (const auto& given : {std::make_pair("\\without", "\\without"), std::make_pair("\\with\\", "\\with")}) {
        restart();
        install(headerBytes(root + given.first) + encodeFileEntry("f", "F"));
        std::string plain = root + given.second;
        EXPECT_EQ(logRecords().back(), (std::pair<int, std::string>{3, plain + "\\"})) << given.first;
        EXPECT_STREQ(installerState.installDir, plain.c_str());
        EXPECT_EQ(readFile(plain + "\\f"), "F");
        EXPECT_EQ(currentDir(), plain);
    }
}

TEST_F(Engine, InstallDirBecomesTheFullPathOfTheFolderUsed)
{
    // Relative, drive-relative, with "." and ".." parts, relative to the drive's root: each
    // is resolved against the current directory (the test's folder on C:), and the log, the
    // final directory and installDir all name the folder that was used.
    std::string below = root.substr(2);   // the test's folder without its drive
    const std::pair<std::string, std::string> forms[] = {
        {"rel\\dir", root + "\\rel\\dir"},
        {"C:drel\\", root + "\\drel"},
        {".\\x\\..\\dots\\.", root + "\\dots"},
        {root + "\\y\\..\\up", root + "\\up"},
        {below + "\\rooted", root + "\\rooted"},
    };
    for (const auto& form : forms) {
        restart();
        SCOPED_TRACE(form.first);
        install(headerBytes(form.first) + encodeFileEntry("f", "F"));
        const std::string& dir = form.second;
        EXPECT_STREQ(installerState.installDir, dir.c_str());
        EXPECT_EQ(logRecords(), (Records{{0, dir + "\\f"}, {3, dir + "\\"}}));
        EXPECT_EQ(readFile(dir + "\\__uninst.dat"), logFileBytes(logRecords()));
        EXPECT_EQ(currentDir(), dir);
        EXPECT_EQ(installerState.installDone, 1);
    }
    // The walk never passes through the folders that ".." leaves.
    EXPECT_EQ(listing(root), (std::vector<std::string>{"dots", "drel", "rel", "rooted", "up"}));
}

TEST_F(Engine, MissingParentsAreCreatedLevelByLevelAndNotLogged)
{
    std::string dir = root + "\\p1\\p2\\p3";
    install(headerBytes(dir) + encodeFileEntry("f", "F"));
    EXPECT_TRUE(isDirectory(root + "\\p1\\p2"));
    EXPECT_EQ(readFile(dir + "\\f"), "F");
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\f"}, {3, dir + "\\"}}));
}

// Starts a program of the host system (Wine starts those too). Its process handle tells
// nothing about when the host program ends, so callers wait for its effect.
void startHostCommand(const std::string& command)
{
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

// Wine finds its drives as links in the prefix's dosdevices folder.
std::string driveLink(char letter)
{
    const char* prefix = std::getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "/nonexistent") + "/dosdevices/" +
           static_cast<char>(std::tolower(letter)) + ":";
}

bool driveExists(char letter)
{
    std::string root = std::string(1, letter) + ":\\";
    return GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls quickly until the condition holds, for at most 30 seconds.
bool waitUntil(const std::function<bool()>& condition)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(5)) {
        if (condition()) return true;
    }
    return condition();
}

// Maps a drive letter of the test prefix to a folder of drive C: (given with slashes).
bool mapDrive(char letter, const std::string& cFolder)
{
    startHostCommand("/bin/ln -sfn ../drive_c/" + cFolder + " " + driveLink(letter));
    return waitUntil([letter] { return driveExists(letter); });
}

void unmapDrive(char letter)
{
    startHostCommand("/bin/rm -f " + driveLink(letter));
    waitUntil([letter] { return !driveExists(letter); });
}

TEST_F(Engine, DriveComponentSwitchesToThatDrivesRoot)
{
    std::string qFolder = "wbtest\\engine\\" + name + "\\q-drive";
    fs::create_directories("C:\\" + qFolder + "\\deep");
    ASSERT_FALSE(driveExists('Q'));
    ASSERT_TRUE(mapDrive('Q', "wbtest/engine/" + name + "/q-drive")) << "could not map drive Q:";
    // Stand deep on drive Q: the drive component must lead to its root, not here.
    ASSERT_EQ(_chdir("Q:\\deep"), 0);

    install(headerBytes("Q:\\inst\\app") + encodeFileEntry("f", "F"));
    std::string onC = "C:\\" + qFolder;
    EXPECT_EQ(readFile(onC + "\\inst\\app\\f"), "F");
    EXPECT_FALSE(exists(onC + "\\deep\\inst"));
    EXPECT_EQ(logRecords(), (Records{{0, "Q:\\inst\\app\\f"}, {3, "Q:\\inst\\app\\"}}));
    EXPECT_EQ(readFile(onC + "\\inst\\app\\__uninst.dat"), logFileBytes(logRecords()));

    // A drive inside the path starts the walk again; from there on the folder reached is
    // the install directory, which the log names and the engine returns to.
    restart();
    install(headerBytes(root + "\\pre\\Q:\\later\\app") + encodeEnterDir("d") + encodeFileEntry("g", "G") +
            encodeLeaveDir());
    EXPECT_TRUE(isDirectory(root + "\\pre"));
    EXPECT_EQ(readFile(onC + "\\later\\app\\d\\g"), "G");
    EXPECT_STREQ(installerState.installDir, "Q:\\later\\app");
    EXPECT_EQ(logRecords(), (Records{{0, "Q:\\later\\app\\d\\g"}, {1, "Q:\\later\\app\\d"},
                                     {3, "Q:\\later\\app\\"}}));
    EXPECT_EQ(readFile(onC + "\\later\\app\\__uninst.dat"), logFileBytes(logRecords()));
    EXPECT_EQ(currentDir(), "Q:\\later\\app");
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.failedCount, 0u);
    _chdir("C:\\");
    unmapDrive('Q');
}

// ---- Damaged packages ------------------------------------------------------------------

class DamagedPackage : public Engine {
protected:
    // What every damaged package must leave: the "Data error" box, no completion, no
    // shortcut phase, no registration, and the log of what was written.
    void expectReportedAsDamaged(const std::string& dir, const Records& records)
    {
        EXPECT_EQ(installerState.packageDamaged, 1);
        EXPECT_EQ(installerState.installDone, 0);
        EXPECT_EQ(recorded.messages, (std::vector<std::pair<std::string, UINT>>{{"Data error", MB_ICONERROR}}));
        EXPECT_EQ(recorded.shortcutPhases, 0);
        EXPECT_TRUE(recorded.registrations.empty());
        EXPECT_EQ(logRecords(), records);
        EXPECT_EQ(readFile(dir + "\\__uninst.dat"), logFileBytes(records));
        EXPECT_STREQ(installerState.installDir, dir.c_str());
        EXPECT_EQ(currentDir(), dir);
    }
};

TEST_F(DamagedPackage, StreamCutInsideFileDataWritesOnlyDeliveredBytes)
{
    // The bzip2 stream itself ends early and cleanly: the entry promises 100 bytes, 40 come.
    std::string dir = root + "\\inst";
    std::string entry = encodeFileEntry("part", pattern(100));
    install(headerBytes(dir) + encodeFileEntry("whole", "W") + entry.substr(0, entry.size() - 60));
    EXPECT_EQ(readFile(dir + "\\part"), pattern(40));
    expectReportedAsDamaged(dir, {{0, dir + "\\part"}, {0, dir + "\\whole"}, {3, dir + "\\"}});
}

TEST_F(DamagedPackage, EntriesCutShortAfterTheirTag)
{
    std::string dir = root + "\\inst";
    // A file tag alone, a file tag with its size but no name, an enter tag alone, and an
    // enter whose name is cut.
    for (const std::string& tail : {bytes({0}), bytes({0, 5, 0, 0, 0}), bytes({1}), bytes({1, 4, 0, 'a', 'b'})}) {
        restart();
        install(headerBytes(dir) + encodeFileEntry("ok", "1") + tail);
        expectReportedAsDamaged(dir, {{0, dir + "\\ok"}, {3, dir + "\\"}});
        EXPECT_EQ(listing(dir), (std::vector<std::string>{"__uninst.dat", "ok"}));
    }
}

// Windows drops a name's trailing dots and blanks, so "...", ". " or ".. " name the
// directory they stand in, like "." and "..": entered as a directory, such a name would
// leave the current directory where it was while the running path went down a level, and
// the next leave would climb out of the install directory. Names that merely contain
// dots are plain names.
TEST_F(DamagedPackage, UnsafeNamesStopTheInstallation)
{
    std::string dir = root + "\\inst";
    for (const std::string& bad : {std::string(""), std::string("."), std::string(".."), std::string("a\\b"),
                                   std::string("a/b"), std::string("C:x"), std::string("..\\..\\escape"),
                                   std::string("..."), std::string(". "), std::string(".. "), std::string(" "),
                                   std::string(". . ."), std::string("a."), std::string("b "), std::string("CON"),
                                   std::string("nul.txt"), std::string("Com1"), std::string("LPT9.log"),
                                   std::string("a\0b", 3), std::string("x\0", 2)}) {
        for (bool asDirectory : {false, true}) {
            restart();
            std::error_code ec;
            fs::remove_all(dir, ec);
            std::string entry = asDirectory ? encodeEnterDir(bad) + encodeFileEntry("in", "x") + encodeLeaveDir()
                                            : encodeFileEntry(bad, "payload");
            install(headerBytes(dir) + encodeFileEntry("ok", "1") + entry + encodeFileEntry("after", "2"));
            SCOPED_TRACE("name '" + bad + "'" + (asDirectory ? " as directory" : " as file"));
            expectReportedAsDamaged(dir, {{0, dir + "\\ok"}, {3, dir + "\\"}});
            EXPECT_EQ(listing(dir), (std::vector<std::string>{"__uninst.dat", "ok"}));
            EXPECT_EQ(listing(root), (std::vector<std::string>{"inst"}));
        }
    }

    restart();
    std::error_code ec;
    fs::remove_all(dir, ec);
    install(headerBytes(dir) + encodeFileEntry(".hidden", "h") + encodeEnterDir("..d") + encodeFileEntry("a..b", "ab") +
            encodeLeaveDir());
    EXPECT_EQ(installerState.packageDamaged, 0);
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(readFile(dir + "\\.hidden"), "h");
    EXPECT_EQ(readFile(dir + "\\..d\\a..b"), "ab");
}

TEST_F(DamagedPackage, LeaveAtTheInstallDirectoryStopsTheInstallation)
{
    std::string dir = root + "\\inst";
    install(headerBytes(dir) + encodeEnterDir("d") + encodeLeaveDir() + encodeFileEntry("a", "1") +
            encodeLeaveDir() + encodeFileEntry("outside", "2"));
    expectReportedAsDamaged(dir, {{0, dir + "\\a"}, {1, dir + "\\d"}, {3, dir + "\\"}});
    EXPECT_EQ(listing(root), (std::vector<std::string>{"inst"}));

    // Also as the stream's very last byte, which arrives with the end of the stream. The
    // first run's log goes, or its records would be carried into this one's.
    restart();
    ASSERT_TRUE(DeleteFileA((dir + "\\__uninst.dat").c_str()));
    install(headerBytes(dir) + encodeFileEntry("b", "2") + encodeLeaveDir());
    expectReportedAsDamaged(dir, {{0, dir + "\\b"}, {3, dir + "\\"}});
}

TEST_F(DamagedPackage, BrokenCompressedDataEndsWithWhatWasDelivered)
{
    // The file spans three bzip2 blocks; the compressed data is cut in the last block (then,
    // separately, altered in the second), so the header and the first block decompress
    // cleanly.
    std::string dir = root + "\\inst";
    std::string big = noise(2500000, 7);
    std::string path = writePackage(headerBytes(dir) + encodeFileEntry("first", "1") + encodeFileEntry("big", big) +
                                    encodeFileEntry("never", "2"));
    std::string file = readFile(path);

    std::string cutPath = packages + "\\" + name + "-cut.exe";
    writeFile(cutPath, file.substr(0, file.size() * 3 / 4));
    ASSERT_EQ(open(cutPath), "");
    runInstallation();
    std::string written = readFile(dir + "\\big");
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), big.size());
    EXPECT_EQ(written, big.substr(0, written.size()));   // nothing invented
    expectReportedAsDamaged(dir, {{0, dir + "\\big"}, {0, dir + "\\first"}, {3, dir + "\\"}});
    EXPECT_FALSE(exists(dir + "\\never"));

    restart();
    fs::remove_all(dir);
    std::string flipped = file;
    flipped[file.size() / 2] ^= 0x10;   // inside the second block, all of it file data
    std::string flippedPath = packages + "\\" + name + "-flipped.exe";
    writeFile(flippedPath, flipped);
    ASSERT_EQ(open(flippedPath), "");
    runInstallation();
    expectReportedAsDamaged(dir, {{0, dir + "\\big"}, {0, dir + "\\first"}, {3, dir + "\\"}});
    EXPECT_FALSE(exists(dir + "\\never"));
}

// ---- Decoding on several threads ------------------------------------------------------

// A bzip2 block whose bytes are exactly these (and never four alike in a row, which the
// compressor would shorten into a count) announces them in a bitmap that spells the block
// marker 121 bits after the block's own marker: a marker by chance, inside compressed data.
std::string plantedMarkerData(std::size_t size)
{
    const unsigned char used[] = {2, 3, 7, 9, 15, 17, 19, 20, 23, 26, 29, 30, 33, 35, 38, 39, 41, 43, 44, 47};
    std::string out(size, '\0');
    std::uint32_t seed = 5;
    unsigned last = 0;
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        unsigned pick = (seed >> 16) % (sizeof used - 1);
        if (pick >= last) pick += 1;   // never the byte before again
        last = pick;
        c = static_cast<char>(used[pick]);
    }
    return out;
}

class ParallelDecode : public Engine {
protected:
    struct Outcome {
        std::vector<std::pair<std::string, std::string>> tree;   // relative path, bytes ("/" for a folder)
        std::vector<std::pair<std::string, UINT>> messages;
        Records log;
        std::vector<std::uint32_t> redraws;
        int damaged;
        int done;
        std::string openError;   // damage in the header's block is found at start-up
    };

    Outcome installWith(const std::string& path, int threads)
    {
        restart();
        std::error_code ec;
        fs::remove_all(dir, ec);
        setDecodeThreads(threads);
        Outcome o;
        o.openError = open(path);
        if (o.openError.empty()) runInstallation();
        for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
            std::string relative = entry.path().string().substr(dir.size());
            o.tree.emplace_back(relative, entry.is_directory() ? "/" : readFile(entry.path().string()));
        }
        std::sort(o.tree.begin(), o.tree.end());
        o.messages = recorded.messages;
        o.log = logRecords();
        o.redraws = recorded.redraws;
        o.damaged = installerState.packageDamaged;
        o.done = installerState.installDone;
        return o;
    }

    // Installs with one, two and four threads: all three must leave exactly the same.
    Outcome expectSameOnEveryThreadCount(const std::string& path)
    {
        Outcome one = installWith(path, 1);
        for (int threads : {2, 4}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + path);
            Outcome many = installWith(path, threads);
            EXPECT_TRUE(many.tree == one.tree);
            EXPECT_EQ(many.messages, one.messages);
            EXPECT_EQ(many.log, one.log);
            EXPECT_EQ(many.redraws, one.redraws);
            EXPECT_EQ(many.damaged, one.damaged);
            EXPECT_EQ(many.done, one.done);
            EXPECT_EQ(many.openError, one.openError);
        }
        return one;
    }

    std::string dir = root + "\\inst";
};

// The workers look for the block starts themselves, as they go. This runs before anything
// else in the program has looked for a marker: a package of several blocks has blocks
// decoded ahead and taken over from the workers with two and four threads, none with one,
// and installs whole every time.
TEST_F(ParallelDecode, WorkersFindTheBlocksAndDecodeSomeOfThemAhead)
{
    std::string noisy = noise(2700000, 5);
    std::string path = writePackage(headerBytes(dir) + encodeFileEntry("n", noisy) +
                                    encodeFileEntry("p", pattern(3000000)));
    for (int threads : {2, 4, 1}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        std::uint32_t before = blocksTakenFromWorkers();
        Outcome o = installWith(path, threads);
        if (threads > 1) {
            EXPECT_GT(blocksTakenFromWorkers(), before);
        } else {
            EXPECT_EQ(blocksTakenFromWorkers(), before);
        }
        EXPECT_EQ(o.done, 1);
        EXPECT_EQ(o.damaged, 0);
        EXPECT_TRUE(o.messages.empty());
        EXPECT_TRUE(readFile(dir + "\\n") == noisy);
        EXPECT_TRUE(readFile(dir + "\\p") == pattern(3000000));
    }
}

// Closing the package right after opening it stops the workers while they are still
// looking for blocks and decoding ahead; the same package then installs whole.
TEST_F(ParallelDecode, ClosingWhileTheWorkersRunStopsThemAndTheNextInstallationIsWhole)
{
    std::string noisy = noise(3600000, 9);
    std::string path = writePackage(headerBytes(dir) + encodeFileEntry("n", noisy) + encodeFileEntry("z", "end"));
    for (int threads : {2, 4}) {
        setDecodeThreads(threads);
        ASSERT_EQ(open(path), "");
        closePackage();
    }
    Outcome o = installWith(path, 4);
    EXPECT_EQ(o.done, 1);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_TRUE(readFile(dir + "\\n") == noisy);
    EXPECT_EQ(readFile(dir + "\\z"), "end");
}

TEST_F(ParallelDecode, SoundAndDamagedStreamsInstallAlikeOnOneTwoAndFourThreads)
{
    std::string noisy = noise(1300000, 11);
    std::string planted = plantedMarkerData(2000000);
    std::string path = writePackage(headerBytes(dir) + encodeFileEntry("a", "1") + encodeEnterDir("d") +
                                    encodeFileEntry("noisy", noisy) + encodeLeaveDir() +
                                    encodeFileEntry("planted", planted) + encodeFileEntry("z", pattern(70000)));
    std::string file = readFile(path);
    std::size_t streamAt = kStub.size() + 4;
    std::vector<std::uint64_t> markers = findStreamMarkers(
        reinterpret_cast<const unsigned char*>(file.data()) + streamAt, file.size() - streamAt);
    std::vector<std::uint64_t> blocks;
    for (std::uint64_t m : markers) {
        if ((m & 1) == 0) blocks.push_back(m >> 1);
    }
    ASSERT_GE(blocks.size(), 5u);   // the sound package spans several blocks...
    bool plantedFound = false;      // ...and the planted marker is among the markers found
    for (std::size_t i = 1; i < blocks.size(); ++i) plantedFound |= blocks[i] - blocks[i - 1] == 121;
    ASSERT_TRUE(plantedFound);

    Outcome sound = expectSameOnEveryThreadCount(path);
    EXPECT_EQ(sound.done, 1);
    EXPECT_EQ(sound.damaged, 0);
    // Compared as a whole: a printed difference of megabytes would bury the report.
    EXPECT_TRUE(readFile(dir + "\\d\\noisy") == noisy);
    EXPECT_TRUE(readFile(dir + "\\planted") == planted);
    EXPECT_TRUE(readFile(dir + "\\z") == pattern(70000));

    // A flipped byte in the first block, in blocks in the middle, in the last block and in
    // the end marker, and the stream cut at several places: never a completed installation,
    // and the same on every thread count. A block's output is wrong from its first byte but
    // its CRC is checked with its last, so a flip in the header's block may also show as a
    // header naming another folder: only damage after that block has a fixed outcome.
    std::size_t streamSize = file.size() - streamAt;
    // The second marker is the second block's: the planted one lies in a block of planted
    // bytes alone, after the noise.
    std::size_t secondBlockAt = static_cast<std::size_t>(blocks[1] / 8);
    const std::vector<std::pair<std::string, UINT>> dataError = {{"Data error", MB_ICONERROR}};
    // secondBlockAt + 2 breaks the second block's own marker: the workers never find that
    // block, and the reading thread, which never needs them, stops there.
    std::vector<std::size_t> flips = {200, secondBlockAt + 2, secondBlockAt + 40, streamSize / 2, streamSize - 200,
                                      streamSize - 6};
    for (int k = 1; k < 8; ++k) flips.push_back(streamSize * k / 8 + 13);
    int variant = 0;
    for (std::size_t at : flips) {
        SCOPED_TRACE("flip at " + std::to_string(at));
        std::string damaged = file;
        damaged[streamAt + at] ^= 0x20;
        std::string damagedPath = packages + "\\" + name + "-flip" + std::to_string(variant++) + ".exe";
        writeFile(damagedPath, damaged);
        Outcome o = expectSameOnEveryThreadCount(damagedPath);
        EXPECT_EQ(o.done, 0);
        if (at < secondBlockAt) continue;
        EXPECT_EQ(o.openError, "");
        EXPECT_EQ(o.damaged, 1);
        EXPECT_EQ(o.messages, dataError);
    }
    // A first block cut short cannot be decoded at all, so the header is never read.
    for (std::size_t keep : {secondBlockAt - 1000, streamSize * 2 / 3, streamSize - 3, streamSize - 12}) {
        SCOPED_TRACE("cut after " + std::to_string(keep));
        std::string cutPath = packages + "\\" + name + "-cut" + std::to_string(variant++) + ".exe";
        writeFile(cutPath, file.substr(0, streamAt + keep));
        Outcome o = expectSameOnEveryThreadCount(cutPath);
        EXPECT_EQ(o.openError, keep < secondBlockAt ? "Data error" : "");
        EXPECT_EQ(o.damaged, keep < secondBlockAt ? 0 : 1);
        EXPECT_EQ(o.messages, keep < secondBlockAt ? decltype(o.messages){} : dataError);
        EXPECT_EQ(o.done, 0);
    }
}

// ---- Items that cannot be installed ------------------------------------------------------

TEST_F(Engine, FileThatCannotBeCreatedIsConsumedNotLoggedAndReported)
{
    std::string dir = root + "\\inst";
    fs::create_directories(dir + "\\blocked");   // a directory where the file should go
    install(headerBytes(dir) + encodeFileEntry("blocked", pattern(70000)) + encodeFileEntry("after", "A"));

    EXPECT_TRUE(isDirectory(dir + "\\blocked"));
    EXPECT_EQ(readFile(dir + "\\after"), "A");   // the stream stayed in step
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\after"}, {3, dir + "\\"}}));
    EXPECT_EQ(installerState.bytesWritten, 70001u);
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"Some files could not be installed (1 in all). The first was:\n\n" + dir + "\\blocked",
                   MB_ICONWARNING}}));
    EXPECT_EQ(installerState.installDone, 1);
    EXPECT_EQ(installerState.packageDamaged, 0);
    EXPECT_EQ(recorded.shortcutPhases, 1);
}

TEST_F(Engine, DirectoryThatCannotBeCreatedHasItsSubtreeConsumed)
{
    std::string dir = root + "\\inst";
    fs::create_directories(dir);
    writeFile(dir + "\\d", "a file in the way");
    install(headerBytes(dir) + encodeEnterDir("d") + encodeFileEntry("x", "X") + encodeEnterDir("e") +
            encodeFileEntry("y", pattern(40000)) + encodeLeaveDir() + encodeLeaveDir() + encodeFileEntry("after", "A") +
            encodeEnterDir("g") + encodeFileEntry("z", "Z") + encodeLeaveDir());

    EXPECT_EQ(readFile(dir + "\\d"), "a file in the way");
    EXPECT_EQ(readFile(dir + "\\after"), "A");
    EXPECT_EQ(readFile(dir + "\\g\\z"), "Z");
    // Nothing of the subtree landed anywhere else.
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"__uninst.dat", "after", "d", "g"}));
    EXPECT_EQ(listing(root), (std::vector<std::string>{"inst"}));
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\g\\z"}, {1, dir + "\\g"}, {0, dir + "\\after"}, {3, dir + "\\"}}));
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"Some files could not be installed (4 in all). The first was:\n\n" + dir + "\\d", MB_ICONWARNING}}));
    EXPECT_EQ(installerState.bytesWritten, 40003u);
    EXPECT_EQ(installerState.installDone, 1);
}

TEST_F(Engine, FailedWriteIsLoggedAndReported)
{
    // full.bin leads to a device that takes no data, as a full disk would.
    std::string dir = FULL_DEVICE_DIR;
    std::error_code ec;
    fs::remove(dir + "\\__uninst.dat", ec);
    fs::remove(dir + "\\after", ec);
    install(headerBytes(dir) + encodeFileEntry("full.bin", pattern(50000)) + encodeFileEntry("after", "A"));

    EXPECT_EQ(readFile(dir + "\\after"), "A");
    EXPECT_EQ(logRecords(), (Records{{0, dir + "\\after"}, {0, dir + "\\full.bin"}, {3, dir + "\\"}}));
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"Some files could not be installed (1 in all). The first was:\n\n" + dir + "\\full.bin",
                   MB_ICONWARNING}}));
    EXPECT_EQ(installerState.installDone, 1);
    fs::remove(dir + "\\__uninst.dat", ec);
    fs::remove(dir + "\\after", ec);
}

TEST_F(Engine, InstallDirThatCannotBeEnteredInstallsNothingAtAll)
{
    writeFile(root + "\\blocker", "a file where a folder should be");
    std::string dir = root + "\\blocker\\inst";
    install(headerBytes(dir) + encodeFileEntry("__uninst.exe", "MZ") + encodeEnterDir("d") +
            encodeFileEntry("g", "G") + encodeLeaveDir());

    EXPECT_EQ(listing(root), (std::vector<std::string>{"blocker"}));
    EXPECT_EQ(installerState.bytesWritten, 0u);
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"The install folder `" + dir + "' cannot be created.\n\nNothing has been installed.",
                   MB_ICONERROR}}));
    // No links to a folder that is not there, no entry in the list of installed programs.
    EXPECT_EQ(recorded.shortcutPhases, 0);
    EXPECT_TRUE(recorded.registrations.empty());
    EXPECT_EQ(installerState.installStopped, 1);
    EXPECT_EQ(installerState.installDone, 0);
    EXPECT_STREQ(installerState.installDir, dir.c_str());
}

// While the installation runs, the log on disk is rewritten once a second has passed since
// the last write: the records so far, in the final log's layout, moved into place whole.
// Here each redraw turns the clock of the last write back a second.
TEST_F(Engine, LogOnDiskIsKeptCurrentWhileInstalling)
{
    std::string dir = root + "\\inst";
    std::string log = dir + "\\__uninst.dat";
    std::vector<std::string> seen;
    redrawWork = [&] {
        seen.push_back(exists(log) ? readFile(log) : "none");
        installerState.logWrittenAt -= 1000;
    };
    std::string a = pattern(40000), b = pattern(40000);
    install(headerBytes(dir) + encodeFileEntry("a", a) + encodeEnterDir("d") + encodeFileEntry("b", b) +
            encodeLeaveDir());

    Records afterA = {{0, dir + "\\a"}, {3, dir + "\\"}};
    Records inB = {{0, dir + "\\d\\b"}, {1, dir + "\\d"}, {0, dir + "\\a"}, {3, dir + "\\"}};
    // Nothing before the first chunk's check; a file is logged as soon as it exists.
    EXPECT_EQ(seen, (std::vector<std::string>{"none", logFileBytes(afterA), logFileBytes(afterA), logFileBytes(inB)}));
    EXPECT_EQ(readFile(log), logFileBytes(inB));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"__uninst.dat", "a", "d"}));
}

TEST_F(Engine, ShortcutFailuresJoinTheReport)
{
    std::string dir = root + "\\inst";
    fs::create_directories(dir + "\\blocked");
    shortcutPhaseWork = [] { noteInstallFailure("C:\\Links\\Bad.lnk"); };
    install(headerBytes(dir) + encodeFileEntry("blocked", "x"));
    EXPECT_EQ(recorded.messages,
              (std::vector<std::pair<std::string, UINT>>{
                  {"Some files could not be installed (2 in all). The first was:\n\n" + dir + "\\blocked",
                   MB_ICONWARNING}}));
}

}  // namespace
