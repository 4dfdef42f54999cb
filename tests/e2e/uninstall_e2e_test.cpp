// The uninstaller under Wine, end to end: the real installer installs a package that
// carries the uninstaller as built, with shortcuts on the desktop and in the programs menu;
// the installed __uninst.exe is started in the install directory, as its shortcut starts
// it, and answered. Checked: what is left on disk and in the list of installed programs,
// every box's caption, text, icon and buttons, the exit codes, and the clean-up copy in the
// temporary folder followed until it has ended and its file is gone.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/uninstall_log.h"
#include "tests/support/installer_fixtures.h"
#include "tests/support/shortcut_fixtures.h"
#include "tests/support/uninstall_fixtures.h"

namespace {

const char kWebAddress[] = "https://example.org/uninstall-test/";

// What the package puts into the install directory, and its shortcuts into the menu.
const std::vector<std::string> kInstalledTree = {
    "App.exe", "__uninst.dat", "__uninst.exe", "data\\", "data\\defaults.cfg", "empty\\",
    "lib\\", "lib\\core.dat", "lib\\plugins\\", "lib\\plugins\\a.dat"};
const std::vector<std::string> kMenuTree = {"Wb App\\", "Wb App\\Uninstall Wb App.lnk", "Wb App\\Wb App.lnk"};
const std::vector<std::string> kNothing = {};

std::string question(const std::string& installDir)
{
    return "Do you want to remove the program installed at `" + installDir + "'?";
}

std::string removed(const std::string& product)
{
    return "`" + product + "' has been removed.";
}

class UninstallEndToEnd : public ::testing::Test {
protected:
    lnk::ShellFoldersGuard guard;
    uns::UserShellFoldersGuard userGuard;
    std::vector<std::string> keyNames;  // entries to take away again, whatever happens
    std::string base, app, desktop, programs;

    void TearDown() override
    {
        for (const std::string& keyName : keyNames) uns::forgetEntry(keyName);
    }

    // Fresh folders below C:\wbtest\<name> with a desktop and a programs menu of their own,
    // and an install directory whose name holds a blank, as most do.
    void prepare(const std::string& name, const std::string& keyName)
    {
        base = lnk::freshTestFolder(name);
        app = base + "\\Wb App";
        desktop = base + "\\Desktop";
        programs = base + "\\Programs";
        ASSERT_TRUE(CreateDirectoryA(desktop.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(programs.c_str(), nullptr));
        ASSERT_TRUE(uns::pointShellFolder("Desktop", desktop));
        ASSERT_TRUE(uns::pointShellFolder("Programs", programs));
        keyNames.push_back(keyName);
        uns::forgetEntry(keyName);
    }

    // Installs the product with a link directly on the (otherwise empty) desktop and two
    // links in the folder `Wb App' of the programs menu, and checks that all of it arrived.
    void installProduct(const std::string& product)
    {
        installProduct(product, "", kMenuTree);
    }

    // The same with the menu's folder below menuParent, a path ending in a backslash.
    // installDirText: the install directory as the package gives it, when that is another
    // form of app.
    void installProduct(const std::string& product, const std::string& menuParent,
                        const std::vector<std::string>& menuTree, const std::string& installDirText = "")
    {
        ASSERT_NO_FATAL_FAILURE(installPackage(product, productPackage(product, menuParent, installDirText)));
        ASSERT_EQ(uns::treeOf(app), kInstalledTree);
        ASSERT_EQ(uns::treeOf(programs), menuTree);
        ASSERT_EQ(uns::treeOf(desktop), std::vector<std::string>{"Wb App.lnk"});
        ASSERT_EQ(uns::readFileBytes(app + "\\__uninst.exe"), uns::readFileBytes(uns::builtUninstaller()));
    }

    wbpack::PackageSpec productPackage(const std::string& product, const std::string& menuParent = "",
                                       const std::string& installDirText = "")
    {
        wbpack::PackageSpec package = uns::packageWithUninstaller(product, app);
        if (!installDirText.empty()) package.header.installDir = installDirText;
        package.shortcuts = {
            {"$D\\Wb App.lnk", app + "\\App.exe", app, "", "Starts Wb App"},
            {"$P\\" + menuParent + "Wb App\\Wb App.lnk", app + "\\App.exe", app, "", "Starts Wb App"},
            {"$P\\" + menuParent + "Wb App\\Uninstall Wb App.lnk", app + "\\__uninst.exe", app, "",
             "Removes Wb App"},
        };
        return package;
    }

    // Runs the package's installer through to its notice, which must be the only box.
    void installPackage(const std::string& product, const wbpack::PackageSpec& package)
    {
        lnk::InstallRun installed = uns::install(base, package);
        ASSERT_TRUE(installed.completed);
        ASSERT_EQ(installed.boxTexts,
                  std::vector<std::string>{"`" + product + "' has been installed at `" + app + "'"});
        ASSERT_EQ(installed.exitCode, 0u);
    }

    std::map<std::string, uns::RegValue> entryValues(const std::string& product) const
    {
        return {{"DisplayName", uns::textValue(product)},
                {"UninstallString", uns::textValue("\"" + app + "\\__uninst.exe\"")},
                {"URLUpdateInfo", uns::textValue(kWebAddress)},
                {"URLInfoAbout", uns::textValue(kWebAddress)},
                {"Publisher", uns::textValue("Wickerbay tests")},
                {"NoModify", uns::numberValue(1)},
                {"NoRepair", uns::numberValue(1)}};
    }

    // A run that removed everything: asked, told, ended with 0, and its clean-up copy did
    // its work, ended with 0 and left nothing in the temporary folder. `left`: what stays
    // below the test's folder.
    void expectFullRemoval(const uns::UninstallRun& run, const std::string& notice,
                           const std::vector<std::string>& left = {"Desktop\\", "Programs\\", "Setup.exe"})
    {
        ASSERT_EQ(run.boxes.size(), 2u);
        EXPECT_EQ(run.boxes[0].text, question(app));
        EXPECT_EQ(run.boxes[1].caption, "Uninstall");
        EXPECT_EQ(run.boxes[1].text, notice);
        EXPECT_EQ(run.boxes[1].icon, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_EQ(run.boxes[1].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.copyStarted);
        EXPECT_TRUE(run.copyWaited);
        EXPECT_EQ(run.copyExitCode, 0u);
        EXPECT_TRUE(run.copyFileGone) << run.copyPath;
        // The copy's folder went as soon as the copy ran: the uninstaller moved the copy's
        // file out of it through the handle it started it under.
        EXPECT_TRUE(run.copyFolderGoneWhileWaiting) << run.copyPath;
        EXPECT_TRUE(run.copyFolderGone) << run.copyPath;
        EXPECT_FALSE(lnk::directoryExists(app));
        // The shell folders stay, empty; nothing outside what was installed is touched.
        EXPECT_EQ(uns::treeOf(base), left);
    }
};

}  // namespace

TEST_F(UninstallEndToEnd, YesRemovesWhatWasInstalledAndKeepsTheUsersFileWithItsFolders)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_user", "Wb_User_Test"));
    // The menu's folder two levels down: createLinkFolder makes Wb Group too, but the log
    // names only the link's own folder Wb App.
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb User Test", "Wb Group\\",
                                           {"Wb Group\\", "Wb Group\\Wb App\\",
                                            "Wb Group\\Wb App\\Uninstall Wb App.lnk",
                                            "Wb Group\\Wb App\\Wb App.lnk"}));
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_User_Test")),
              entryValues("Wb User Test"));
    ASSERT_TRUE(uns::writeFileBytes(app + "\\data\\notes.txt", "the user's own"));

    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-yes");
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].caption, "Uninstall");
    EXPECT_EQ(run.boxes[0].text, question(app));
    EXPECT_EQ(run.boxes[0].icon, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_EQ(run.boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(run.boxes[1].caption, "Uninstall");
    EXPECT_EQ(run.boxes[1].text, removed("Wb User Test"));
    EXPECT_EQ(run.boxes[1].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(run.exitCode, 0u);

    // The uninstaller and its log go too; the folder that holds the user's file stays.
    EXPECT_TRUE(run.copyStarted);
    EXPECT_TRUE(run.copyWaited);
    EXPECT_EQ(run.copyExitCode, 0u);
    EXPECT_TRUE(run.copyFileGone) << run.copyPath;
    // Only the folders that the log names go: Wb Group, which it does not name, stays.
    EXPECT_EQ(uns::treeOf(base), (std::vector<std::string>{"Desktop\\", "Programs\\", "Programs\\Wb Group\\",
                                                           "Setup.exe", "Wb App\\", "Wb App\\data\\",
                                                           "Wb App\\data\\notes.txt"}));
    EXPECT_EQ(uns::readFileBytes(app + "\\data\\notes.txt"), "the user's own");
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_User_Test")));
}

TEST_F(UninstallEndToEnd, AFullUninstallLeavesNoInstallDirectoryAndKeepsTheEmptyDesktop)
{
    // Every character that the entry's key name replaces, in the product's name.
    const std::string product = "Wb/\\*?&~!@#$:;%^() `Full";
    const std::string keyName = "Wb" + std::string(18, '_') + "Full";
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_full", keyName));
    ASSERT_NO_FATAL_FAILURE(installProduct(product));
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath(keyName)), entryValues(product));
    // An installer ended between writing its next log and moving it into place left this;
    // it would keep the folder for ever.
    ASSERT_TRUE(uns::writeFileBytes(app + "\\__uninst.dat.new", "half a log"));

    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-full");
    expectFullRemoval(run, removed(product));
    EXPECT_EQ(uns::treeOf(desktop), kNothing);
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath(keyName)));
}

TEST_F(UninstallEndToEnd, NoTouchesNothing)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_no", "Wb_No_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb No Test"));
    std::vector<std::string> before = uns::treeOf(base);
    std::string logBefore = uns::readFileBytes(app + "\\__uninst.dat");

    uns::UninstallRun run = uns::runUninstaller(app, IDNO);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, question(app));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.copyStarted);
    EXPECT_EQ(uns::treeOf(base), before);
    EXPECT_EQ(uns::readFileBytes(app + "\\__uninst.dat"), logBefore);
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_No_Test")), entryValues("Wb No Test"));
}

TEST_F(UninstallEndToEnd, FilesHeldOpenAreListedTheRestGoesAndASecondRunFinishes)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_held", "Wb_Held_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Held Test"));
    const std::string core = app + "\\lib\\core.dat";
    const std::string defaults = app + "\\data\\defaults.cfg";
    // Opened without FILE_SHARE_DELETE, as a running program holds its files.
    HANDLE heldCore = CreateFileA(core.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE heldDefaults = CreateFileA(defaults.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(heldCore, INVALID_HANDLE_VALUE);
    ASSERT_NE(heldDefaults, INVALID_HANDLE_VALUE);

    uns::UninstallRun first = uns::runUninstaller(app, IDYES, "uninstall-held");
    CloseHandle(heldCore);
    CloseHandle(heldDefaults);
    ASSERT_EQ(first.boxes.size(), 2u);
    EXPECT_EQ(first.boxes[1].caption, "Uninstall");
    // In the log's order, newest first.
    EXPECT_EQ(first.boxes[1].text,
              "Not everything could be removed. Still in place:\n\n" + defaults + "\n" + core +
                  "\n\nA running program may be using them. Close it and run the uninstaller again.");
    EXPECT_EQ(first.boxes[1].icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(first.boxes[1].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(first.exitCode, 1u);
    // Everything else is gone; the uninstaller, its log and its entry stay for a second run.
    EXPECT_FALSE(first.copyStarted);
    EXPECT_EQ(uns::treeOf(app), (std::vector<std::string>{"__uninst.dat", "__uninst.exe", "data\\",
                                                          "data\\defaults.cfg", "lib\\", "lib\\core.dat"}));
    EXPECT_EQ(uns::treeOf(programs), kNothing);
    EXPECT_EQ(uns::treeOf(desktop), kNothing);
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Held_Test")),
              entryValues("Wb Held Test"));

    uns::UninstallRun second = uns::runUninstaller(app, IDYES);
    expectFullRemoval(second, removed("Wb Held Test"));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Held_Test")));
}

TEST_F(UninstallEndToEnd, ADamagedOrMissingLogRemovesNothing)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_damaged", "Wb_Damaged_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Damaged Test"));
    const std::string log = app + "\\__uninst.dat";
    std::string bytes = uns::readFileBytes(log);
    ASSERT_GT(bytes.size(), 1u);
    ASSERT_TRUE(uns::writeFileBytes(log, bytes.substr(0, bytes.size() - 1)));
    std::vector<std::string> before = uns::treeOf(base);

    uns::UninstallRun damaged = uns::runUninstaller(app, IDYES, "uninstall-damaged-log");
    ASSERT_EQ(damaged.boxes.size(), 1u);
    EXPECT_EQ(damaged.boxes[0].caption, "Uninstall");
    EXPECT_EQ(damaged.boxes[0].text, "The uninstall log `" + log +
                                         "' is damaged: it ends in the middle of a record.\n\n"
                                         "Nothing has been removed.");
    EXPECT_EQ(damaged.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(damaged.boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(damaged.exitCode, 1u);
    EXPECT_FALSE(damaged.copyStarted);
    EXPECT_EQ(uns::treeOf(base), before);

    ASSERT_TRUE(DeleteFileA(log.c_str()));
    uns::UninstallRun missing = uns::runUninstaller(app, IDYES);
    ASSERT_EQ(missing.boxes.size(), 1u);
    EXPECT_EQ(missing.boxes[0].text,
              "The uninstall log `" + log + "' cannot be read.\n\nNothing has been removed.");
    EXPECT_EQ(missing.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_EQ(uns::treeOf(app), (std::vector<std::string>{"App.exe", "__uninst.exe", "data\\",
                                                          "data\\defaults.cfg", "empty\\", "lib\\",
                                                          "lib\\core.dat", "lib\\plugins\\",
                                                          "lib\\plugins\\a.dat"}));
    EXPECT_EQ(uns::treeOf(programs), kMenuTree);
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Damaged_Test")),
              entryValues("Wb Damaged Test"));
}

TEST_F(UninstallEndToEnd, RecordsInAnyOrderRemoveTheSameFolders)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_order", "Wb_Order_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Order Test"));
    const std::string log = app + "\\__uninst.dat";
    bool complete = false;
    std::vector<lnk::UninstallRecord> records = lnk::readUninstallLog(log, &complete);
    ASSERT_TRUE(complete);
    ASSERT_EQ(records.size(), 15u);
    // Oldest first: every folder's record now comes before the records of what it held.
    std::vector<lnk::UninstallRecord> reordered(records.rbegin() + 1, records.rend());
    reordered.push_back(records.back());
    ASSERT_EQ(reordered.front(), (lnk::UninstallRecord{0, app + "\\App.exe"}));
    ASSERT_TRUE(uns::writeLogRecords(log, reordered));

    uns::UninstallRun run = uns::runUninstaller(app, IDYES);
    expectFullRemoval(run, removed("Wb Order Test"));
}

TEST_F(UninstallEndToEnd, AnEntryInTheUsersListGoesAndWithoutAnEntryTheProgramIsUnnamed)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_entry", "Wb_Entry_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Entry Test"));
    // Where an installer without administrator rights puts the entry.
    const std::string key = uns::entryKeyPath("Wb_Entry_Test");
    ASSERT_TRUE(uns::writeRegistryValues(HKEY_CURRENT_USER, key, entryValues("Wb Entry Test")));
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);

    uns::UninstallRun fromUsersList = uns::runUninstaller(app, IDYES);
    expectFullRemoval(fromUsersList, removed("Wb Entry Test"));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_CURRENT_USER, key));

    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Entry Test"));
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);
    uns::UninstallRun unnamed = uns::runUninstaller(app, IDYES, "uninstall-unnamed");
    expectFullRemoval(unnamed, "The program has been removed.");
}

namespace {

// Runs a host program on the host's names for the paths, and waits for it.
bool runOnHost(std::vector<std::string> argv, const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        argv.push_back(ui::hostPath(path));
        if (argv.back().empty()) return false;
    }
    return ui::runOnHost(argv);
}

// A host symbolic link: Wine shows it to programs as a reparse point, as Windows shows a
// junction or a symbolic link.
bool makeHostLink(const std::string& target, const std::string& link)
{
    return runOnHost({"/bin/ln", "-s"}, {target, link}) && ui::waitFor([&] {
               DWORD attributes = GetFileAttributesA(link.c_str());
               return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
           });
}

}  // namespace

TEST_F(UninstallEndToEnd, ALogNamingAnythingButWhatWasInstalledRemovesNothing)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_hostile", "Wb_Hostile_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Hostile Test"));
    const std::string log = app + "\\__uninst.dat";
    const std::string victim = base + "\\victim.txt";
    ASSERT_TRUE(uns::writeFileBytes(victim, "not installed"));
    std::vector<lnk::UninstallRecord> records = lnk::readUninstallLog(log);
    ASSERT_FALSE(records.empty());
    const std::string root = records.back().path;
    ASSERT_EQ(root, app + "\\");
    const std::string refused = "' is refused: it ";
    const std::string damaged = "' is damaged: it ";
    const struct {
        lnk::UninstallRecord record;
        std::string notice;
    } table[] = {
        {{0, victim}, refused + "names `" + victim + "', which is outside the install folder `" + root +
                          "' and outside the desktop, the programs menu, the start menu and the start-up folder"},
        {{1, desktop + "\\d"}, refused + "names `" + desktop + "\\d', which is outside the install folder `" + root + "'"},
        {{0, "\\\\?\\" + victim}, damaged + "holds a path that begins with `\\\\?\\' or `\\\\.\\': `\\\\?\\" + victim + "'"},
        {{0, app + "\\App.exe:stream"}, damaged + "holds a path with a colon after the drive: `" + app + "\\App.exe:stream'"},
        {{0, app + "\\lib\\nul.dat"}, damaged + "holds a path with a device name in it: `" + app + "\\lib\\nul.dat'"},
        // A log that calls another folder its own: everything below base would be in reach.
        {{3, base + "\\"}, refused + "names the install folder `" + base + "\\', not the folder it is in"},
    };
    std::vector<std::string> before = uns::treeOf(base);
    for (const auto& row : table) {
        std::vector<lnk::UninstallRecord> hostile = records;
        if (row.record.type == 3) {
            hostile.back() = row.record;
        } else {
            hostile.insert(hostile.begin(), row.record);
        }
        ASSERT_TRUE(uns::writeLogRecords(log, hostile));
        uns::UninstallRun run = uns::runUninstaller(app, IDYES);
        ASSERT_EQ(run.boxes.size(), 1u) << row.record.path;
        EXPECT_EQ(run.boxes[0].text, "The uninstall log `" + log + row.notice + ".\n\nNothing has been removed.");
        EXPECT_EQ(run.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_FALSE(run.copyStarted);
        EXPECT_EQ(uns::treeOf(base), before);
    }
    EXPECT_EQ(uns::readFileBytes(victim), "not installed");

    // A user can move their own start-up folder to the drive's root; that puts no file of
    // the drive in the uninstaller's reach.
    ASSERT_TRUE(lnk::setShellFolder("Startup", "C:\\"));
    std::vector<lnk::UninstallRecord> hostile = records;
    hostile.insert(hostile.begin(), {0, victim});
    ASSERT_TRUE(uns::writeLogRecords(log, hostile));
    uns::UninstallRun run = uns::runUninstaller(app, IDYES);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "The uninstall log `" + log + table[0].notice + ".\n\nNothing has been removed.");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(uns::readFileBytes(victim), "not installed");
}

TEST_F(UninstallEndToEnd, AFolderReplacedByALinkIsNotFollowed)
{
    // A link an earlier run left behind is removed as a link, never followed.
    if (lnk::directoryExists("C:\\wbtest\\uninstall_e2e_link")) {
        ASSERT_TRUE(runOnHost({"/bin/rm", "-rf"}, {"C:\\wbtest\\uninstall_e2e_link"}));
    }
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_link", "Wb_Link_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Link Test"));
    // lib swapped for a link to a folder of someone else's that holds the same names.
    const std::string elsewhere = base + "\\Elsewhere";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((elsewhere + "\\plugins").c_str(), nullptr));
    ASSERT_TRUE(uns::writeFileBytes(elsewhere + "\\core.dat", "theirs"));
    ASSERT_TRUE(uns::writeFileBytes(elsewhere + "\\plugins\\a.dat", "theirs too"));
    ASSERT_TRUE(DeleteFileA((app + "\\lib\\plugins\\a.dat").c_str()));
    ASSERT_TRUE(RemoveDirectoryA((app + "\\lib\\plugins").c_str()));
    ASSERT_TRUE(DeleteFileA((app + "\\lib\\core.dat").c_str()));
    ASSERT_TRUE(RemoveDirectoryA((app + "\\lib").c_str()));
    ASSERT_TRUE(makeHostLink(elsewhere, app + "\\lib"));

    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-link");
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[1].text, "Not everything could be removed. Left untouched, because a junction or symbolic "
                                 "link lies on the way to them:\n\n" +
                                     app + "\\lib\\plugins\\a.dat\n" + app + "\\lib\\core.dat\n" + app +
                                     "\\lib\\plugins\n" + app + "\\lib");
    EXPECT_EQ(run.boxes[1].icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(run.copyStarted);
    EXPECT_EQ(uns::treeOf(elsewhere), (std::vector<std::string>{"core.dat", "plugins\\", "plugins\\a.dat"}));
    EXPECT_EQ(uns::readFileBytes(elsewhere + "\\core.dat"), "theirs");
    // The rest is gone; the uninstaller and its log stay with the link.
    EXPECT_EQ(uns::treeOf(programs), kNothing);
    EXPECT_TRUE(lnk::fileExists(app + "\\__uninst.exe"));
    EXPECT_TRUE(lnk::fileExists(app + "\\__uninst.dat"));
    EXPECT_FALSE(lnk::fileExists(app + "\\App.exe"));
}

TEST_F(UninstallEndToEnd, WithoutItsCopyTheUninstallerRemovesTheRestAndSaysItsFolderRemains)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_nocopy", "Wb_NoCopy_Test"));
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb NoCopy Test"));
    // A temporary folder that does not exist: the copy's folder cannot be made.
    char savedTmp[MAX_PATH] = {0}, savedTemp[MAX_PATH] = {0};
    GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof savedTemp);
    SetEnvironmentVariableA("TMP", (base + "\\missing").c_str());
    SetEnvironmentVariableA("TEMP", (base + "\\missing").c_str());
    // Run elevated (as every program is under Wine), the copy goes below the system's own
    // temporary folder, whatever TEMP says: a file in that folder's place, for this run.
    char windows[MAX_PATH] = {0};
    GetSystemWindowsDirectoryA(windows, sizeof windows);
    const std::string systemTemp = std::string(windows) + "\\Temp", setAside = systemTemp + ".wbtest";
    bool blocked = MoveFileA(systemTemp.c_str(), setAside.c_str());
    HANDLE blocker = blocked ? CreateFileA(systemTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
    if (blocker != INVALID_HANDLE_VALUE) CloseHandle(blocker);
    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-nocopy");
    if (blocked) {
        DeleteFileA(systemTemp.c_str());
        MoveFileA(setAside.c_str(), systemTemp.c_str());
    }
    SetEnvironmentVariableA("TMP", savedTmp[0] ? savedTmp : nullptr);
    SetEnvironmentVariableA("TEMP", savedTemp[0] ? savedTemp : nullptr);
    ASSERT_TRUE(blocked && blocker != INVALID_HANDLE_VALUE);

    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[1].text, "`Wb NoCopy Test' has been removed, but the uninstaller could not start the copy of "
                                 "itself that removes it. The folder `" + app + "' remains, with __uninst.exe and "
                                 "__uninst.dat in it; you may delete it.");
    EXPECT_EQ(run.boxes[1].icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(run.copyStarted);
    EXPECT_EQ(uns::treeOf(app), (std::vector<std::string>{"__uninst.dat", "__uninst.exe"}));
    EXPECT_EQ(uns::treeOf(programs), kNothing);
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_NoCopy_Test")));
}

TEST_F(UninstallEndToEnd, EveryFormOfInstallDirectoryInstallsAndUninstallsCleanly)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_forms", "Wb_Forms_Test"));
    // A share \\wbserver\share and a drive Q: that lead to folders of drive C.
    inst::TestFolder server("uninstall_e2e_forms_server");
    inst::TestFolder qDrive("uninstall_e2e_forms_q");
    ASSERT_TRUE(CreateDirectoryA((server.path + "\\share").c_str(), nullptr));
    ASSERT_TRUE(uns::mapDosDevice("unc/wbserver", server.path.substr(3), "\\\\wbserver\\share"));
    ASSERT_TRUE(uns::mapDosDevice("q:", qDrive.path.substr(3), "Q:\\"));

    const std::string fullApp = app;
    // The installer is started in base, on drive C.
    const std::pair<std::string, std::string> forms[] = {
        {"Wb App", fullApp},
        {"C:Wb App\\", fullApp},
        {"gone\\..\\.\\Wb App", fullApp},
        {"\\\\wbserver\\share\\Wb App", "\\\\wbserver\\share\\Wb App"},
        // The walk makes `pre' on C: and goes on at Q:'s root; Q:\Wb App is the folder used.
        {qDrive.path + "\\pre\\Q:\\Wb App", "Q:\\Wb App"},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.first);
        app = form.second;
        ASSERT_NO_FATAL_FAILURE(installProduct("Wb Forms Test", "", kMenuTree, form.first));
        EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Forms_Test")),
                  entryValues("Wb Forms Test"));
        if (app.compare(0, 2, "\\\\") == 0) {
            // Wine names a program started from a share "UNC\server\..." (its module file
            // name), where the uninstaller finds no log; the log is read as it reads it.
            std::vector<LogEntry> entries;
            std::string problem;
            EXPECT_TRUE(parseUninstallLog(uns::readFileBytes(app + "\\__uninst.dat"), entries, problem)) << problem;
            ASSERT_FALSE(entries.empty());
            EXPECT_EQ(entries.back().path, app + "\\");
            ui::removeTree(app);
            ui::removeTree(programs + "\\Wb App");
            ASSERT_TRUE(DeleteFileA((desktop + "\\Wb App.lnk").c_str()));
            uns::forgetEntry("Wb_Forms_Test");
            continue;
        }
        uns::UninstallRun run = uns::runUninstaller(app, IDYES);
        expectFullRemoval(run, removed("Wb Forms Test"));
        EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Forms_Test")));
    }
    EXPECT_EQ(uns::treeOf(server.path), std::vector<std::string>{"share\\"});
    EXPECT_EQ(uns::treeOf(qDrive.path), std::vector<std::string>{"pre\\"});
    uns::unmapDosDevice("q:", "Q:\\");
    uns::unmapDosDevice("unc/wbserver", "\\\\wbserver\\share");
}

// The install folder a drive's root (a drive of the prefix that leads to an empty folder),
// a link in C:\ and one in a folder the installer makes outside the shell folders: the
// uninstaller finds its own folder in the log's root, removes everything, and leaves the
// root itself.
TEST_F(UninstallEndToEnd, ADriveRootAndLinksOutsideTheShellFoldersAreRemovedWhole)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_root", "Wb_Root_Test"));
    inst::TestFolder rDrive("uninstall_e2e_root_r");
    ASSERT_TRUE(uns::mapDosDevice("r:", rDrive.path.substr(3), "R:\\"));
    const std::string rootLink = "C:\\Wb Root Link.lnk";
    const std::string links = base + "\\Links";
    DeleteFileA(rootLink.c_str());
    app = "R:";
    wbpack::PackageSpec package = productPackage("Wb Root Test", "", "R:\\");
    package.shortcuts.push_back({rootLink, "R:\\App.exe", "R:\\", "", "In a drive's root"});
    package.shortcuts.push_back({links + "\\Sub\\Wb App.lnk", "R:\\App.exe", "R:\\", "", "Elsewhere"});
    lnk::InstallRun installed = uns::install(base, package);
    ASSERT_TRUE(installed.completed);
    EXPECT_EQ(installed.boxTexts, std::vector<std::string>{"`Wb Root Test' has been installed at `R:'"});
    ASSERT_EQ(uns::treeOf(rDrive.path), kInstalledTree);
    ASSERT_TRUE(lnk::fileExists(rootLink));
    ASSERT_EQ(uns::treeOf(links), (std::vector<std::string>{"Sub\\", "Sub\\Wb App.lnk"}));
    EXPECT_EQ(uns::registryValues(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Root_Test"))["UninstallString"],
              uns::textValue("\"R:\\__uninst.exe\""));

    uns::UninstallRun run = uns::runUninstaller("R:", IDYES, "uninstall-root");
    ASSERT_EQ(run.boxes.size(), 2u) << (run.boxes.empty() ? "" : run.boxes[0].text);
    EXPECT_EQ(run.boxes[0].text, question("R:\\"));
    EXPECT_EQ(run.boxes[1].text, removed("Wb Root Test"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.copyFileGone) << run.copyPath;
    EXPECT_EQ(uns::treeOf(rDrive.path), kNothing);
    EXPECT_TRUE(lnk::directoryExists(rDrive.path));
    EXPECT_FALSE(lnk::fileExists(rootLink));
    // The folder the link needed goes with it; the one above it, made on the way, stays.
    EXPECT_EQ(uns::treeOf(base), (std::vector<std::string>{"Desktop\\", "Links\\", "Programs\\", "Setup.exe"}));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Root_Test")));
    uns::unmapDosDevice("r:", "R:\\");
}

TEST_F(UninstallEndToEnd, AnInstallationKilledPartWayIsRemovedAsFarAsItsLogGoes)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_killed", "Wb_Killed_Test"));
    wbpack::PackageSpec package = uns::packageWithUninstaller("Wb Killed Test", app);
    for (const wbpack::PackEntry& entry : inst::largePayload(3072)) package.entries.push_back(entry);
    package.shortcuts = {{"$D\\Wb App.lnk", app + "\\App.exe", app, "", "Starts Wb App"}};
    std::string setup = base + "\\Setup.exe";
    std::string error;
    ASSERT_TRUE(lnk::buildTestInstaller(package, setup, error)) << error;

    inst::Running installer;
    ASSERT_TRUE(inst::startInstaller(setup, "", base, installer));
    HWND window = inst::waitForReadyMainWindow(installer.process);
    ASSERT_NE(window, nullptr);
    ui::pressButton(inst::installButton(window));
    // Ended as the user's task manager ends it, once the log on disk names 200 of the files.
    const std::string log = app + "\\__uninst.dat";
    auto loggedLargeFiles = [&] {
        std::vector<std::string> large;
        for (const lnk::UninstallRecord& record : lnk::readUninstallLog(log)) {
            if (record.path.find("\\part") != std::string::npos) large.push_back(record.path);
        }
        return large;
    };
    ASSERT_TRUE(ui::waitFor([&] { return loggedLargeFiles().size() >= 200; }, 120000)) << "no log came";
    ASSERT_TRUE(TerminateProcess(installer.process.handle, 9));
    ASSERT_EQ(ui::waitExit(installer.process), 9u);

    // Whole, whenever the kill came; the shortcut phase was never reached.
    bool complete = false;
    std::vector<lnk::UninstallRecord> records = lnk::readUninstallLog(log, &complete);
    ASSERT_TRUE(complete);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), (lnk::UninstallRecord{3, app + "\\"}));
    EXPECT_EQ(uns::treeOf(desktop), kNothing);
    std::vector<std::string> large = loggedLargeFiles();
    // What was installed but is not in the log yet: the files after the last rewrite.
    std::vector<std::string> unlogged;
    for (const std::string& item : uns::treeOf(app)) {
        if (item.compare(0, 4, "part") == 0 &&
            std::find(large.begin(), large.end(), app + "\\" + item) == large.end()) {
            unlogged.push_back(item);
        }
    }

    // The files it names go, with the uninstaller and its log; the rest stays in the install
    // folder, which therefore stays too, as a folder holding the user's own files would.
    // The product was never registered, so it goes unnamed.
    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-killed");
    if (unlogged.empty()) {
        expectFullRemoval(run, "The program has been removed.");
        return;
    }
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[1].text, "The program has been removed.");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.copyFileGone);
    EXPECT_EQ(uns::treeOf(app), unlogged);
    std::vector<std::string> outside = {"Desktop\\", "Programs\\", "Setup.exe", "Wb App\\"};
    for (const std::string& item : unlogged) outside.push_back("Wb App\\" + item);
    EXPECT_EQ(uns::treeOf(base), outside);
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Killed_Test")));
}

TEST_F(UninstallEndToEnd, AfterAnUpdateNothingOfEitherVersionRemainsButTheUsersFile)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_update", "Wb_Update_Test"));
    // Version 1 has a file, a folder, a desktop link and a menu folder that version 2 lacks.
    wbpack::PackageSpec first = productPackage("Wb Update Test");
    first.entries.push_back(wbpack::memoryFileEntry("old.txt", "version 1"));
    first.entries.push_back(wbpack::enterDirEntry("old"));
    first.entries.push_back(wbpack::memoryFileEntry("v1.dat", "version 1"));
    first.entries.push_back(wbpack::leaveDirEntry());
    first.shortcuts.push_back({"$D\\Wb Old.lnk", app + "\\App.exe", app, "", "Version 1"});
    first.shortcuts.push_back({"$P\\Wb Old\\Old.lnk", app + "\\App.exe", app, "", "Version 1"});
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Update Test", first));
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Update Test", productPackage("Wb Update Test")));

    // Version 2's fifteen records, then version 1's own in their order (its links were
    // logged last, so they come first), then the root.
    std::vector<lnk::UninstallRecord> records = lnk::readUninstallLog(app + "\\__uninst.dat");
    ASSERT_EQ(records.size(), 21u);
    EXPECT_EQ(std::vector<lnk::UninstallRecord>(records.begin() + 14, records.end()),
              (std::vector<lnk::UninstallRecord>{{0, programs + "\\Wb Old\\Old.lnk"}, {4, programs + "\\Wb Old"},
                                                 {0, desktop + "\\Wb Old.lnk"}, {0, app + "\\old\\v1.dat"},
                                                 {1, app + "\\old"}, {0, app + "\\old.txt"}, {3, app + "\\"}}));

    ASSERT_TRUE(uns::writeFileBytes(programs + "\\Wb Old\\mine.txt", "the user's own"));
    uns::UninstallRun run = uns::runUninstaller(app, IDYES, "uninstall-update");
    expectFullRemoval(run, removed("Wb Update Test"),
                      {"Desktop\\", "Programs\\", "Programs\\Wb Old\\", "Programs\\Wb Old\\mine.txt", "Setup.exe"});
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, uns::entryKeyPath("Wb_Update_Test")));
}

// Version 1 has a link on all users' desktop, version 2 none: the update reads version 1's
// log with the uninstaller's own shell folders, so the one uninstall removes that link too.
TEST_F(UninstallEndToEnd, AnAllUsersLinkOfAnEarlierVersionGoesWithTheLastUninstall)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_update_common", "Wb_Common_Test"));
    char common[MAX_PATH] = {0};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, 0, common)));
    const std::string commonLink = std::string(common) + "\\Wb Common Test.lnk";
    DeleteFileA(commonLink.c_str());
    wbpack::PackageSpec first = productPackage("Wb Common Test");
    first.shortcuts.push_back({commonLink, app + "\\App.exe", app, "", "For everyone"});
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Common Test", first));
    ASSERT_TRUE(lnk::fileExists(commonLink));
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Common Test", productPackage("Wb Common Test")));
    std::vector<lnk::UninstallRecord> records = lnk::readUninstallLog(app + "\\__uninst.dat");
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 3], (lnk::UninstallRecord{0, commonLink}));
    EXPECT_EQ(records[records.size() - 2], (lnk::UninstallRecord{4, common}));

    uns::UninstallRun run = uns::runUninstaller(app, IDYES);
    expectFullRemoval(run, removed("Wb Common Test"));
    EXPECT_FALSE(lnk::fileExists(commonLink));
    EXPECT_TRUE(lnk::directoryExists(common));
}

TEST_F(UninstallEndToEnd, AnUpdateLeavesOutAnEarlierLogThatIsDamagedOrAnotherFolders)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_update_left_out", "Wb_Left_Out_Test"));
    const std::string log = app + "\\__uninst.dat";
    ASSERT_NO_FATAL_FAILURE(installProduct("Wb Left Out Test"));
    const std::string fresh = uns::readFileBytes(log);
    ASSERT_TRUE(uns::writeFileBytes(app + "\\old.txt", "version 1"));
    // A sound log but for one byte, a sound log of a folder whose name begins the same, and
    // one that names a file outside: each names old.txt, and each is left out without a word.
    std::vector<lnk::UninstallRecord> earlier = {{0, app + "\\old.txt"}, {3, app + "\\"}};
    ASSERT_TRUE(uns::writeLogRecords(log, earlier));
    ASSERT_TRUE(uns::writeFileBytes(log, uns::readFileBytes(log) + "\x01"));
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Left Out Test", productPackage("Wb Left Out Test")));
    EXPECT_EQ(uns::readFileBytes(log), fresh);

    earlier.back().path = app + "2\\";
    ASSERT_TRUE(uns::writeLogRecords(log, earlier));
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Left Out Test", productPackage("Wb Left Out Test")));
    EXPECT_EQ(uns::readFileBytes(log), fresh);

    // A log of this folder that names a file outside it, which the uninstaller would refuse
    // whole: carried over, it would make the new log refused too.
    earlier = {{0, base + "\\Setup.exe"}, {0, app + "\\old.txt"}, {3, app + "\\"}};
    ASSERT_TRUE(uns::writeLogRecords(log, earlier));
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb Left Out Test", productPackage("Wb Left Out Test")));
    EXPECT_EQ(uns::readFileBytes(log), fresh);
}

TEST_F(UninstallEndToEnd, APerUserInstallationLivesInTheUsersOwnFoldersAndListAndGoesWhole)
{
    ASSERT_NO_FATAL_FAILURE(prepare("uninstall_e2e_per_user", "Wb_PerUser_Test"));
    char local[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local), S_OK);
    app = std::string(local) + "\\Programs\\Wb PerUser Test";
    ui::removeTree(app);
    const std::string dir = "$L\\Programs\\Wb PerUser Test";
    wbpack::PackageSpec package = productPackage("Wb PerUser Test", "", dir);
    package.shortcuts = {{"$D\\Wb App.lnk", dir + "\\App.exe", dir, "", "Starts Wb App"},
                         {dir + "\\Remove.lnk", dir + "\\__uninst.exe", dir, "", "Removes Wb App"}};
    ASSERT_NO_FATAL_FAILURE(installPackage("Wb PerUser Test", package));
    std::vector<std::string> tree = kInstalledTree;
    tree.insert(tree.begin() + 1, "Remove.lnk");
    EXPECT_EQ(uns::treeOf(app), tree);
    CoInitialize(nullptr);
    lnk::LinkContents link = lnk::readShellLink(desktop + "\\Wb App.lnk");
    EXPECT_EQ(link.target, app + "\\App.exe");
    EXPECT_EQ(link.workingDir, app);
    EXPECT_EQ(lnk::readShellLink(app + "\\Remove.lnk").target, app + "\\__uninst.exe");
    CoUninitialize();
    // Registered for this user alone, although Wine would let it write the machine's list.
    const std::string key = uns::entryKeyPath("Wb_PerUser_Test");
    EXPECT_TRUE(uns::registryKeyExists(HKEY_CURRENT_USER, key));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_LOCAL_MACHINE, key));

    expectFullRemoval(uns::runUninstaller(app, IDYES), removed("Wb PerUser Test"));
    EXPECT_FALSE(uns::registryKeyExists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(lnk::directoryExists(std::string(local) + "\\Programs"));
}
