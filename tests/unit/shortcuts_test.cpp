// The shortcut phase inside the installer's own code, under Wine: the Shell Folders
// lookups with values set in the test prefix, the folder walk, the uninstall records of
// each shortcut, and the shortcuts that are left out and reported.
#include "installer/shell_shortcuts.h"

#include <gtest/gtest.h>

#include <direct.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "installer/install_records.h"
#include "installer/installer_state.h"
#include "installer/link_path.h"
#include "tests/support/shortcut_fixtures.h"

namespace {

std::string currentDirectory()
{
    char buffer[1024] = {0};
    return _getcwd(buffer, sizeof buffer) ? buffer : "";
}

// The records pushed since the log was last emptied, oldest first.
std::vector<lnk::UninstallRecord> pushedRecords()
{
    std::vector<lnk::UninstallRecord> records;
    for (const LogRecord* r = installerState.uninstallLog; r; r = r->next) {
        records.insert(records.begin(), {r->type, r->path});
    }
    return records;
}

class ShortcutsTest : public ::testing::Test {
protected:
    lnk::ShellFoldersGuard guard;
    std::string base;

    void SetUp() override
    {
        CoInitialize(nullptr);
        base = lnk::freshTestFolder("shortcuts_unit");
        ASSERT_EQ(_chdir(base.c_str()), 0);
        installerState.uninstallLog = nullptr;
        installerState.failedCount = 0;
        installerState.firstFailedPath = nullptr;
        installerState.shortcutCount = 0;
    }

    void TearDown() override
    {
        _chdir("C:\\");
        CoUninitialize();
    }

    void setFolders(const std::string& root)
    {
        ASSERT_TRUE(lnk::setShellFolder("Desktop", root + "\\Desktop"));
        ASSERT_TRUE(lnk::setShellFolder("Programs", root + "\\Programs"));
        ASSERT_TRUE(lnk::setShellFolder("Start Menu", root + "\\Start Menu"));
        ASSERT_TRUE(lnk::setShellFolder("Startup", root + "\\Startup"));
    }

    void addShortcut(const char* linkPath, const char* target, const char* workingDir = "",
                     const char* arguments = "", const char* description = "")
    {
        ShortcutRecord& s = installerState.shortcuts[installerState.shortcutCount++];
        s = {_strdup(linkPath), _strdup(target), _strdup(workingDir), _strdup(arguments), _strdup(description)};
    }
};

std::string expanded(const char* linkPath)
{
    std::string out = "left over";
    EXPECT_TRUE(expandLinkPath(linkPath, out)) << linkPath;
    return out;
}

}  // namespace

TEST_F(ShortcutsTest, ExpandLinkPathReplacesTheFourCaseSensitiveMacros)
{
    setFolders("C:\\Home");
    EXPECT_EQ(expanded("$D\\App.lnk"), "C:\\Home\\Desktop\\App.lnk");
    EXPECT_EQ(expanded("$P\\Group\\Sub\\App.lnk"), "C:\\Home\\Programs\\Group\\Sub\\App.lnk");
    EXPECT_EQ(expanded("$S\\App.lnk"), "C:\\Home\\Start Menu\\App.lnk");
    EXPECT_EQ(expanded("$s\\App.lnk"), "C:\\Home\\Startup\\App.lnk");
    EXPECT_EQ(expanded("$d\\App.lnk"), "\\App.lnk");
    EXPECT_EQ(expanded("$X\\App.lnk"), "\\App.lnk");
    EXPECT_EQ(expanded("$D$P"), "C:\\Home\\Desktop$P");
    EXPECT_EQ(expanded("C:\\Links\\A$"), "C:\\Links\\A");
    EXPECT_EQ(expanded("C:\\Links\\$D"), "C:\\Links\\C:\\Home\\Desktop");
    EXPECT_EQ(expanded("$D\\$D\\x"), "C:\\Home\\Desktop\\C:\\Home\\Desktop\\x");
    EXPECT_EQ(expanded("C:\\Plain\\App.lnk"), "C:\\Plain\\App.lnk");
}

TEST_F(ShortcutsTest, AnUnreadableFolderIsEmptyNeverTheOneLookedUpBefore)
{
    setFolders("C:\\Home");
    ASSERT_TRUE(lnk::deleteShellFolder("Startup"));
    EXPECT_STREQ(readShellFolder("Desktop"), "C:\\Home\\Desktop");
    EXPECT_STREQ(readShellFolder("Startup"), "");
    EXPECT_STREQ(readShellFolder("Desktop"), "C:\\Home\\Desktop");
    EXPECT_EQ(expanded("$s\\App.lnk"), "\\App.lnk");

    // The buffer holds 16383 characters and the terminator; a longer value is unreadable.
    std::string longest = "C:\\" + std::string(16380, 'a');
    ASSERT_TRUE(lnk::setShellFolder("Desktop", longest));
    EXPECT_TRUE(readShellFolder("Desktop") == longest);
    std::string out;
    EXPECT_FALSE(expandLinkPath("$D", out));
    ASSERT_TRUE(lnk::setShellFolder("Desktop", longest + "a"));
    EXPECT_STREQ(readShellFolder("Desktop"), "");
}

TEST_F(ShortcutsTest, ExpansionKeepsAtMost4095Characters)
{
    std::string folder = "C:\\" + std::string(4095 - 3 - 2, 'f');
    ASSERT_TRUE(lnk::setShellFolder("Desktop", folder));
    EXPECT_TRUE(expanded("$D\\x") == folder + "\\x");
    std::string out = "left over";
    EXPECT_FALSE(expandLinkPath("$D\\xy", out));
    EXPECT_EQ(out, "");
}

TEST_F(ShortcutsTest, FolderWalkCreatesMissingFoldersAndComesBack)
{
    std::string programs = base + "\\Programs";
    ASSERT_EQ(_mkdir(programs.c_str()), 0);
    createLinkFolder((programs + "\\Group\\Sub\\App.lnk").c_str());
    EXPECT_TRUE(lnk::directoryExists(programs + "\\Group\\Sub"));
    EXPECT_FALSE(lnk::fileExists(programs + "\\Group\\Sub\\App.lnk"));
    EXPECT_EQ(currentDirectory(), base);

    // Forward slashes separate as well, and the folder is logged as written.
    createLinkFolder((base + "/Mixed/App.lnk").c_str());
    EXPECT_TRUE(lnk::directoryExists(base + "\\Mixed"));
    EXPECT_EQ(currentDirectory(), base);

    EXPECT_EQ(pushedRecords(), (std::vector<lnk::UninstallRecord>{
                                   {4, programs + "\\Group\\Sub"}, {4, base + "/Mixed"}}));
}

// A folder that cannot be entered ends the walk there: going on would create the rest of
// the path one level too high, or below whatever folder the walk stands in, where nothing
// records it. The save that follows fails without leaving a file. Outside the install
// folder and the shell folders, the link's folder is logged only when the walk made it:
// one that was there before is not the installer's to remove.
TEST_F(ShortcutsTest, FolderWalkStopsAtAFolderItCannotEnter)
{
    std::string links = base + "\\Links";
    ASSERT_EQ(_mkdir(links.c_str()), 0);
    FILE* blocker = std::fopen((links + "\\blocked").c_str(), "wb");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);
    createLinkFolder((links + "\\blocked\\Sub\\Deeper\\App.lnk").c_str());
    EXPECT_EQ(lnk::folderNames(links), std::vector<std::string>{"blocked"});
    EXPECT_EQ(currentDirectory(), base);

    // A drive that does not exist has no root to start from; the walk must not start from
    // the current directory instead. Empty components (doubled separators) are passed over.
    ASSERT_EQ(GetFileAttributesA("R:\\"), INVALID_FILE_ATTRIBUTES) << "drive R: exists in the test prefix";
    createLinkFolder("R:\\Elsewhere\\Sub\\App.lnk");
    createLinkFolder((base + "\\\\Doubled\\App.lnk").c_str());
    EXPECT_EQ(lnk::folderNames(base), (std::vector<std::string>{"Doubled", "Links"}));
    EXPECT_EQ(currentDirectory(), base);

    EXPECT_EQ(pushedRecords(), (std::vector<lnk::UninstallRecord>{{4, ""}, {4, ""}, {4, base + "\\\\Doubled"}}));

    // Made before, it is not logged; in a shell folder it is, made or not.
    createLinkFolder((base + "\\Doubled\\App.lnk").c_str());
    setFolders(base);
    createLinkFolder((base + "\\Desktop\\App.lnk").c_str());
    EXPECT_EQ(pushedRecords().size(), 5u);
    EXPECT_EQ(pushedRecords()[3], (lnk::UninstallRecord{4, ""}));
    EXPECT_EQ(pushedRecords()[4], (lnk::UninstallRecord{4, base + "\\Desktop"}));
}

// A user can point their own shell folders anywhere; a link is not put, and later removed,
// among the system's files because a folder was moved to a drive's root or to Windows'.
TEST_F(ShortcutsTest, AShellFolderAtADriveRootOrHoldingWindowsMakesNoLink)
{
    setFolders(base);
    ASSERT_EQ(_mkdir((base + "\\Start Menu").c_str()), 0);
    ASSERT_TRUE(lnk::setShellFolder("Desktop", "C:\\"));
    ASSERT_TRUE(lnk::setShellFolder("Programs", "c:\\WINDOWS"));
    addShortcut("$D\\WbRootLink.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$P\\WbRootLink.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$S\\Fine.lnk", "C:\\App\\vmkick.exe");

    createShortcuts();

    EXPECT_EQ(installerState.failedCount, 2u);
    EXPECT_STREQ(installerState.firstFailedPath, "$D\\WbRootLink.lnk");
    EXPECT_EQ(pushedRecords(), (std::vector<lnk::UninstallRecord>{{4, base + "\\Start Menu"},
                                                                  {0, base + "\\Start Menu\\Fine.lnk"}}));
    EXPECT_FALSE(lnk::fileExists("C:\\WbRootLink.lnk"));
    EXPECT_FALSE(lnk::fileExists("C:\\windows\\WbRootLink.lnk"));
}

// The log on disk is kept current through this phase as through the files: once a second
// has passed, the next link made is in it.
TEST_F(ShortcutsTest, TheLogOnDiskKeepsUpWithTheLinks)
{
    setFolders(base);
    ASSERT_EQ(_mkdir((base + "\\Desktop").c_str()), 0);
    std::string home = base + "\\";
    installerState.installDir = _strdup(home.c_str());
    logUninstallRecord(3, "", home.c_str());
    installerState.logWrittenAt = GetTickCount() - 5000;
    addShortcut("$D\\One.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$D\\Two.lnk", "C:\\App\\vmkick.exe");

    createShortcuts();

    // Written after the first link; the second came within the second.
    EXPECT_EQ(lnk::readUninstallLog(base + "\\__uninst.dat"),
              (std::vector<lnk::UninstallRecord>{
                  {0, base + "\\Desktop\\One.lnk"}, {4, base + "\\Desktop"}, {3, home}}));
    EXPECT_FALSE(lnk::fileExists(base + "\\__uninst.dat.new"));
    std::free(installerState.installDir);
    installerState.installDir = nullptr;
}

TEST_F(ShortcutsTest, LinkInADriveRootLogsAnEmptyFolder)
{
    createLinkFolder("C:\\App.lnk");
    EXPECT_EQ(pushedRecords(), (std::vector<lnk::UninstallRecord>{{4, ""}}));
    EXPECT_FALSE(lnk::fileExists("C:\\App.lnk"));
    EXPECT_EQ(currentDirectory(), base);
}

TEST_F(ShortcutsTest, SixShortcutsPushTwelveRecordsFolderThenFile)
{
    setFolders(base);
    ASSERT_EQ(_mkdir((base + "\\Desktop").c_str()), 0);
    ASSERT_EQ(_mkdir((base + "\\Programs").c_str()), 0);
    addShortcut("$D\\One.lnk", "C:\\App\\vmkick.exe", "C:\\App", "-x \"two words\"", "First");
    addShortcut("$P\\Group\\Sub\\Two.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$S\\Three.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$s\\Four.lnk", "C:\\App\\vmkick.exe");
    addShortcut("$P\\Group\\Five.lnk", "C:\\App\\__uninst.exe");
    addShortcut((base + "\\Six.lnk").c_str(), "C:\\App\\vmkick.exe");

    createShortcuts();

    std::vector<lnk::UninstallRecord> expected = {
        {4, base + "\\Desktop"}, {0, base + "\\Desktop\\One.lnk"},
        {4, base + "\\Programs\\Group\\Sub"}, {0, base + "\\Programs\\Group\\Sub\\Two.lnk"},
        {4, base + "\\Start Menu"}, {0, base + "\\Start Menu\\Three.lnk"},
        {4, base + "\\Startup"}, {0, base + "\\Startup\\Four.lnk"},
        {4, base + "\\Programs\\Group"}, {0, base + "\\Programs\\Group\\Five.lnk"},
        // A folder elsewhere that was there before is not the installer's to remove.
        {4, ""}, {0, base + "\\Six.lnk"}};
    EXPECT_EQ(pushedRecords(), expected);
    for (size_t i = 1; i < expected.size(); i += 2) EXPECT_TRUE(lnk::fileExists(expected[i].path)) << expected[i].path;
    EXPECT_EQ(installerState.failedCount, 0u);
    EXPECT_EQ(currentDirectory(), base);

    lnk::LinkContents one = lnk::readShellLink(base + "\\Desktop\\One.lnk");
    ASSERT_TRUE(one.loaded);
    EXPECT_EQ(one.target, "C:\\App\\vmkick.exe");
    EXPECT_EQ(one.workingDir, "C:\\App");
    EXPECT_EQ(one.arguments, "-x \"two words\"");
    EXPECT_EQ(one.description, "First");
}

TEST_F(ShortcutsTest, UnusableLinkPathsAreLeftOutAndReported)
{
    setFolders(base);
    ASSERT_TRUE(lnk::deleteShellFolder("Startup"));
    std::string fits = base + "\\" + std::string(kMaxSavedLinkPath - base.size() - 1 - 4, 'n') + ".lnk";
    std::string tooLong = base + "\\" + std::string(kMaxSavedLinkPath - base.size() - 4, 'n') + ".lnk";
    ASSERT_EQ(fits.size(), kMaxSavedLinkPath);
    std::string manyMacros;
    for (int i = 0; i < 300; ++i) manyMacros += "$P\\";

    addShortcut("$s\\Gone.lnk", "C:\\App\\vmkick.exe");
    addShortcut("Relative.lnk", "C:\\App\\vmkick.exe");
    addShortcut(tooLong.c_str(), "C:\\App\\vmkick.exe");
    addShortcut(manyMacros.c_str(), "C:\\App\\vmkick.exe");
    addShortcut(fits.c_str(), "C:\\App\\vmkick.exe");
    createShortcuts();

    EXPECT_EQ(pushedRecords(), (std::vector<lnk::UninstallRecord>{{4, ""}, {0, fits}}));
    EXPECT_TRUE(lnk::fileExists(fits));
    EXPECT_EQ(installerState.failedCount, 4u);
    ASSERT_NE(installerState.firstFailedPath, nullptr);
    EXPECT_STREQ(installerState.firstFailedPath, "$s\\Gone.lnk");
    EXPECT_EQ(lnk::folderNames(base), (std::vector<std::string>{fits.substr(base.size() + 1)}));
    EXPECT_FALSE(lnk::fileExists("C:\\Gone.lnk"));
}

TEST_F(ShortcutsTest, NoShortcutsForACountOfZeroOrLess)
{
    addShortcut("C:\\wbtest\\shortcuts_unit\\Never.lnk", "C:\\App\\vmkick.exe");
    installerState.shortcutCount = 0;
    createShortcuts();
    installerState.shortcutCount = -1;
    createShortcuts();
    EXPECT_EQ(installerState.uninstallLog, nullptr);
    EXPECT_EQ(installerState.failedCount, 0u);
    EXPECT_FALSE(lnk::fileExists(base + "\\Never.lnk"));
}
