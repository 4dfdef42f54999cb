// Unit tests of the uninstaller's text-only logic: reading the uninstall log (sound,
// truncated at every byte, empty, damaged), the removal plan (what goes, in which order,
// what is protected), the message texts, the registration's key name and command match,
// and the clean-up copy's command line. Runs on the host and, built for Windows, under Wine.
#include "common/registration_key.h"
#include "common/uninstall_log.h"
#include "uninstaller/uninstall_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// One record as the installer writes it: type byte, 16-bit little-endian length, path.
std::string record(int type, const std::string& path)
{
    return bytes({type, static_cast<int>(path.size() & 0xFF), static_cast<int>(path.size() >> 8)}) + path;
}

// The installation of C:\A with a file x, a directory d and a file d\y, newest first.
const std::string kWorkedExample =
    bytes({0x00, 0x08, 0x00}) + "C:\\A\\d\\y" +
    bytes({0x01, 0x06, 0x00}) + "C:\\A\\d" +
    bytes({0x00, 0x06, 0x00}) + "C:\\A\\x" +
    bytes({0x03, 0x05, 0x00}) + "C:\\A\\";

std::string problemOf(const std::string& log)
{
    std::vector<LogEntry> entries{{0, "left over"}};
    std::string problem;
    bool ok = parseUninstallLog(log, entries, problem);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(entries.empty()) << "a refused log must yield no records at all";
    return problem;
}

std::vector<std::pair<int, std::string>> parsed(const std::string& log)
{
    std::vector<LogEntry> entries;
    std::string problem = "stale";
    EXPECT_TRUE(parseUninstallLog(log, entries, problem)) << problem;
    EXPECT_EQ(problem, "");
    std::vector<std::pair<int, std::string>> out;
    for (const LogEntry& e : entries) out.push_back({e.type, e.path});
    return out;
}

using Records = std::vector<std::pair<int, std::string>>;

TEST(UninstallLogRead, WorkedExampleGivesItsFourRecordsInFileOrder)
{
    ASSERT_EQ(kWorkedExample.size(), 37u);
    EXPECT_EQ(parsed(kWorkedExample),
              (Records{{0, "C:\\A\\d\\y"}, {1, "C:\\A\\d"}, {0, "C:\\A\\x"}, {3, "C:\\A\\"}}));
}

TEST(UninstallLogRead, ShortcutRecordsAndLongPathsAreRead)
{
    std::string longPath = "C:\\A\\" + std::string(295, 'n');  // 300 bytes: length 2C 01
    std::string log = record(0, "C:\\Users\\u\\Desktop\\App.lnk") + record(4, "C:\\Users\\u\\Desktop") +
                      record(0, "X:\\App.lnk") + record(4, "") + record(0, longPath) +
                      record(0, "\\\\server\\share\\A\\f") + record(3, "C:\\A\\");
    EXPECT_EQ(log.substr(log.find(longPath) - 3, 3), bytes({0x00, 0x2C, 0x01}));
    EXPECT_EQ(parsed(log), (Records{{0, "C:\\Users\\u\\Desktop\\App.lnk"},
                                    {4, "C:\\Users\\u\\Desktop"},
                                    {0, "X:\\App.lnk"},
                                    {4, ""},
                                    {0, longPath},
                                    {0, "\\\\server\\share\\A\\f"},
                                    {3, "C:\\A\\"}}));
}

TEST(UninstallLogRead, EveryCutOfTheLogIsRefused)
{
    EXPECT_EQ(problemOf(""), "is empty");
    for (std::size_t size = 1; size < kWorkedExample.size(); ++size) {
        std::string problem = problemOf(kWorkedExample.substr(0, size));
        // Cut between two records, the log is complete record by record but has lost its
        // oldest records, the install root's among them.
        bool atBoundary = size == 11 || size == 20 || size == 29;
        EXPECT_EQ(problem, atBoundary ? "does not end with the install folder's record, so it was cut short"
                                      : "ends in the middle of a record")
            << "cut after " << size << " bytes";
    }
}

TEST(UninstallLogRead, DamagedRecordsAreRefusedWithTheReason)
{
    const std::string root = record(3, "C:\\A\\");
    EXPECT_EQ(problemOf(record(2, "C:\\A\\x") + root), "holds a record of unknown type 2");
    EXPECT_EQ(problemOf(record(255, "C:\\A\\x") + root), "holds a record of unknown type 255");
    EXPECT_EQ(problemOf(root + record(0, "C:\\A\\x")), "has the install folder's record before its end");
    EXPECT_EQ(problemOf(root + root), "has the install folder's record before its end");
    EXPECT_EQ(problemOf(record(0, std::string("C:\\A\\x\0y", 8)) + root), "holds a path with a zero byte");
    EXPECT_EQ(problemOf(record(0, "A\\x") + root), "holds a path that is not a full path: `A\\x'");
    EXPECT_EQ(problemOf(record(0, "\\A\\x") + root), "holds a path that is not a full path: `\\A\\x'");
    EXPECT_EQ(problemOf(record(0, "C:A\\x") + root), "holds a path that is not a full path: `C:A\\x'");
    EXPECT_EQ(problemOf(record(1, "C:\\A\\..\\Windows") + root),
              "holds a path with a `.' or `..' part: `C:\\A\\..\\Windows'");
    EXPECT_EQ(problemOf(record(0, "C:/A/./x") + root), "holds a path with a `.' or `..' part: `C:/A/./x'");
    EXPECT_EQ(problemOf(record(0, "") + root), "holds a record with an empty path");
    EXPECT_EQ(problemOf(record(1, "") + root), "holds a record with an empty path");
    EXPECT_EQ(problemOf(record(3, "")), "holds a record with an empty path");
    EXPECT_EQ(problemOf(record(0, "C:\\A\\x")), "does not end with the install folder's record, so it was cut short");

    // Paths that reach past Windows' path rules: unparsed forms, data streams, devices.
    const std::pair<std::string, std::string> hostile[] = {
        {"\\\\?\\C:\\A\\x", "holds a path that begins with `\\\\?\\' or `\\\\.\\': `\\\\?\\C:\\A\\x'"},
        {"//?/C:/A/x", "holds a path that begins with `\\\\?\\' or `\\\\.\\': `//?/C:/A/x'"},
        {"\\\\.\\C:\\A\\x", "holds a path that begins with `\\\\?\\' or `\\\\.\\': `\\\\.\\C:\\A\\x'"},
        {"C:\\A\\x:evil", "holds a path with a colon after the drive: `C:\\A\\x:evil'"},
        {"C:\\A\\x::$DATA", "holds a path with a colon after the drive: `C:\\A\\x::$DATA'"},
        {"\\\\srv\\share\\A:b", "holds a path with a colon after the drive: `\\\\srv\\share\\A:b'"},
        {"C:\\A\\CON", "holds a path with a device name in it: `C:\\A\\CON'"},
        {"C:\\A\\nul.txt", "holds a path with a device name in it: `C:\\A\\nul.txt'"},
        {"C:\\A\\Com1\\x", "holds a path with a device name in it: `C:\\A\\Com1\\x'"},
        {"C:\\A\\conout$", "holds a path with a device name in it: `C:\\A\\conout$'"},
    };
    for (const auto& row : hostile) EXPECT_EQ(problemOf(record(0, row.first) + root), row.second) << row.first;
}

TEST(UninstallLogRead, ALogBeyondTheSizeLimitIsRefusedUnread)
{
    std::string huge(kMaxUninstallLogSize + 1, '\0');
    EXPECT_EQ(problemOf(huge), "is too large to be an uninstall log");
}

// ---- What a log may name ------------------------------------------------------------------

const std::vector<std::string> kShortcutRoots = {"C:\\Home\\Desktop", "C:\\Home\\Programs",
                                                 "C:\\All\\Desktop", "c:/home/start menu"};

std::string scopeProblem(const Records& records)
{
    std::vector<LogEntry> entries;
    for (const auto& r : records) entries.push_back({r.first, r.second});
    std::string problem = "stale";
    bool accepted = checkLogScope(entries, kShortcutRoots, problem);
    EXPECT_EQ(accepted, problem.empty());
    return problem;
}

TEST(UninstallLogScope, OnlyTheInstallFolderAndShortcutsInTheShellFoldersMayBeNamed)
{
    const std::string outside = "', which is outside the install folder `C:\\P\\Hello\\'";
    const std::string noShell =
        " and outside the desktop, the programs menu, the start menu and the start-up folder";
    const std::pair<Records, std::string> table[] = {
        {{{0, "C:\\P\\Hello\\a"}, {1, "c:/p/HELLO/d"}, {4, "C:\\P\\Hello"}, {3, "C:\\P\\Hello\\"}}, ""},
        {{{0, "C:\\Home\\Desktop\\H.lnk"}, {4, "C:\\Home\\Desktop"}, {0, "C:\\All\\Desktop\\Sub\\H.lnk"},
          {4, "C:\\All\\Desktop\\Sub"}, {0, "C:\\Home\\Start Menu\\H.lnk"}, {3, "C:\\P\\Hello\\"}},
         ""},
        {{{0, "C:\\Windows\\system32\\x.dll"}, {3, "C:\\P\\Hello\\"}},
         "names `C:\\Windows\\system32\\x.dll" + outside + noShell},
        {{{0, "C:\\P\\Hello2\\x"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\P\\Hello2\\x" + outside + noShell},
        {{{0, "C:\\P\\Hello"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\P\\Hello" + outside + noShell},
        {{{1, "C:\\Home\\Desktop\\d"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\Home\\Desktop\\d" + outside},
        {{{1, "C:\\P"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\P" + outside},
        {{{0, "C:\\Home\\Desktop"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\Home\\Desktop" + outside + noShell},
        {{{4, "C:\\Home"}, {3, "C:\\P\\Hello\\"}}, "names `C:\\Home" + outside + noShell},
        // A link may lie anywhere, and so may the folder logged right after it, its own;
        // any other file or folder there may not.
        {{{0, "X:\\App.lnk"}, {4, ""}, {3, "C:\\P\\Hello\\"}}, ""},
        {{{4, ""}, {3, "C:\\P\\Hello\\"}}, ""},
        {{{0, "D:\\Links\\App.LNK"}, {4, "d:/links/"}, {3, "C:\\P\\Hello\\"}}, ""},
        {{{0, "D:\\Links\\App.txt"}, {4, "D:\\Links"}, {3, "C:\\P\\Hello\\"}},
         "names `D:\\Links\\App.txt" + outside + noShell},
        {{{0, "D:\\Links\\App.lnk"}, {4, "D:\\Other"}, {3, "C:\\P\\Hello\\"}}, "names `D:\\Other" + outside + noShell},
        {{{4, "D:\\Links"}, {0, "D:\\Links\\App.lnk"}, {3, "C:\\P\\Hello\\"}}, "names `D:\\Links" + outside + noShell},
        {{{0, "D:\\Links\\.lnk"}, {3, "C:\\P\\Hello\\"}}, "names `D:\\Links\\.lnk" + outside + noShell},
    };
    for (const auto& row : table) EXPECT_EQ(scopeProblem(row.first), row.second) << row.second;

    // Without shell folders, shortcuts outside the install folder are refused too.
    std::vector<LogEntry> entries;
    std::string problem;
    EXPECT_FALSE(parseUninstallLog(record(0, "C:\\Home\\Desktop\\H.url") + record(3, "C:\\P\\"), {}, entries, problem));
    EXPECT_EQ(problem, "names `C:\\Home\\Desktop\\H.url', which is outside the install folder `C:\\P\\'");
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(parseUninstallLog(kWorkedExample, {}, entries, problem)) << problem;
    EXPECT_EQ(entries.size(), 4u);

    // What the removal checks for links from: the install folder, or the deepest shell folder.
    std::vector<std::string> roots = {"C:\\S", "C:\\S\\Programs"};
    EXPECT_EQ(logScopeOf({0, "C:\\S\\Programs\\A\\x.lnk"}, "C:\\I\\", roots), "C:\\S\\Programs");
    EXPECT_EQ(logScopeOf({4, "C:\\S\\Programs"}, "C:\\I\\", roots), "C:\\S\\Programs");
    EXPECT_EQ(logScopeOf({1, "C:\\I\\d"}, "C:\\I\\", roots), "C:\\I\\");
    EXPECT_EQ(logScopeOf({1, "C:\\S\\d"}, "C:\\I\\", roots), "");
    // A link elsewhere, from its drive's or share's root.
    EXPECT_EQ(logScopeOf({0, "D:\\L\\x.lnk"}, "C:\\I\\", roots), "D:\\");
    EXPECT_EQ(logScopeOf({4, "\\\\srv\\sh\\L"}, "C:\\I\\", roots), "\\\\srv\\sh");
    EXPECT_EQ(logScopeOf({0, "D:\\L\\x.txt"}, "C:\\I\\", roots), "");
}

// ---- The removal plan ------------------------------------------------------------------

std::vector<LogEntry> entriesOf(const Records& records)
{
    std::vector<LogEntry> entries;
    for (const auto& r : records) entries.push_back({r.first, r.second});
    return entries;
}

const Records kInstalled = {
    {0, "C:\\Home\\Programs\\Hello\\Sub\\Hello.lnk"}, {4, "C:\\Home\\Programs\\Hello\\Sub"},
    {0, "C:\\Home\\Desktop\\Hello.lnk"},             {4, "C:\\Home\\Desktop"},
    {0, "C:\\P\\Hello\\lib\\deep\\z.jar"},            {1, "C:\\P\\Hello\\lib\\deep"},
    {0, "C:\\P\\Hello\\lib\\a.jar"},                  {1, "C:\\P\\Hello\\lib"},
    {0, "C:\\P\\Hello\\vmkick.cfg"},                  {0, "C:\\P\\Hello\\vmkick.exe"},
    {3, "C:\\P\\Hello\\"}};

const std::vector<std::string> kShellFolders = {"C:\\Home\\Desktop", "C:\\Home\\Programs",
                                                "C:\\Home\\Start Menu", "C:\\Home\\Programs\\Startup"};

TEST(UninstallPlan, FilesInLogOrderFoldersDeepestFirstAndTheRootLast)
{
    RemovalPlan plan = planRemoval(entriesOf(kInstalled), kShellFolders, "C:\\Elsewhere");
    EXPECT_EQ(plan.installRoot, "C:\\P\\Hello");
    EXPECT_EQ(plan.files, (std::vector<std::string>{
                              "C:\\Home\\Programs\\Hello\\Sub\\Hello.lnk", "C:\\Home\\Desktop\\Hello.lnk",
                              "C:\\P\\Hello\\lib\\deep\\z.jar", "C:\\P\\Hello\\lib\\a.jar",
                              "C:\\P\\Hello\\vmkick.cfg", "C:\\P\\Hello\\vmkick.exe"}));
    // The desktop is a shell folder: named by a record, never removed. The program menu's
    // Hello folder was not logged (only Sub was), so it is not removed either.
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"C:\\Home\\Programs\\Hello\\Sub",
                                                      "C:\\P\\Hello\\lib\\deep", "C:\\P\\Hello\\lib",
                                                      "C:\\P\\Hello"}));
    EXPECT_FALSE(plan.removeOwnFolder);
}

TEST(UninstallPlan, TheUninstallersOwnFilesAndFolderAreLeftToTheCleanupCopy)
{
    Records records = kInstalled;
    // A package may log a file that is the uninstaller under another case of its name.
    records.insert(records.begin(), {0, "C:\\P\\HELLO\\__UNINST.EXE"});
    records.insert(records.begin(), {0, "c:/p/hello/__uninst.dat"});
    RemovalPlan plan = planRemoval(entriesOf(records), kShellFolders, "C:\\P\\Hello");
    EXPECT_EQ(plan.files.size(), 6u);
    EXPECT_EQ(std::count(plan.files.begin(), plan.files.end(), "C:\\P\\HELLO\\__UNINST.EXE"), 0);
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"C:\\Home\\Programs\\Hello\\Sub",
                                                      "C:\\P\\Hello\\lib\\deep", "C:\\P\\Hello\\lib"}));
    EXPECT_TRUE(plan.removeOwnFolder);
}

TEST(UninstallPlan, RecordsInAnyOrderRemoveTheSameFoldersInTheSameOrder)
{
    const Records folders = {{1, "C:\\R\\a"}, {1, "C:\\R\\a\\b"}, {1, "C:\\R\\a\\b\\c"},
                             {4, "C:\\M\\G"}, {1, "C:\\R\\z"}, {3, "C:\\R\\"}};
    const std::vector<std::string> expected = {"C:\\R\\a\\b\\c", "C:\\R\\a\\b", "C:\\M\\G",
                                               "C:\\R\\a", "C:\\R\\z", "C:\\R"};
    std::vector<int> order = {0, 1, 2, 3, 4, 5};
    int permutations = 0;
    do {
        Records shuffled;
        for (int i : order) shuffled.push_back(folders[i]);
        EXPECT_EQ(planRemoval(entriesOf(shuffled), {}, "C:\\Other").folders, expected)
            << "permutation " << permutations;
        ++permutations;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(permutations, 720);
}

TEST(UninstallPlan, ShellFoldersAndDriveRootsAreNeverRemoved)
{
    const Records records = {
        {4, "c:\\home\\DESKTOP\\"},        // a shell folder in another case and with a separator
        {4, "C:/Home/Start Menu"},         // forward slashes name the same folder
        {4, ""},                           // a link placed directly in a drive root
        {4, "D:\\"}, {1, "E:"}, {4, "\\\\server\\share\\"}, {4, "\\\\?\\F:\\"},
        {4, "\\\\server\\share\\Group"},
        {3, "C:\\"}};
    RemovalPlan plan = planRemoval(entriesOf(records), kShellFolders, "C:\\");
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"\\\\server\\share\\Group"}));
    EXPECT_EQ(plan.installRoot, "C:\\");
    EXPECT_FALSE(plan.removeOwnFolder);

    // Installed into a drive's root, the uninstaller lies there too: its folder is that
    // root, and its own program and log are left to its clean-up copy.
    const std::string ownFolder = folderHolding("D:\\__uninst.exe");
    EXPECT_EQ(ownFolder, "D:\\");
    EXPECT_TRUE(samePath(ownFolder, "d:/"));
    plan = planRemoval(entriesOf({{0, "D:\\__uninst.dat"}, {0, "D:\\App.exe"}, {1, "D:\\lib"}, {3, "D:\\"}}),
                       {}, ownFolder);
    EXPECT_EQ(plan.files, (std::vector<std::string>{"D:\\App.exe"}));
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"D:\\lib"}));
    EXPECT_FALSE(plan.removeOwnFolder);
}

TEST(UninstallPlan, AFolderOrFileNamedTwiceIsHandledOnce)
{
    const Records records = {{0, "C:\\A\\x"}, {0, "c:\\a\\X"}, {1, "C:\\A\\d"}, {4, "c:\\a\\D\\"},
                             {1, "C:\\A\\d"}, {3, "C:\\A\\"}};
    RemovalPlan plan = planRemoval(entriesOf(records), {}, "C:\\B");
    EXPECT_EQ(plan.files, (std::vector<std::string>{"C:\\A\\x"}));
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"C:\\A\\d", "C:\\A"}));
}

Records recordsOf(const std::vector<LogEntry>& entries);

TEST(UninstallPaths, ComparisonRootsAndParents)
{
    EXPECT_TRUE(samePath("C:\\Program Files\\Hello", "c:/PROGRAM FILES/hello\\"));
    EXPECT_FALSE(samePath("C:\\Program Files\\Hello", "C:\\Program Files\\Hello2"));
    EXPECT_TRUE(samePath("C:\\", "c:/"));
    EXPECT_FALSE(samePath("C:\\", "C:"));  // "C:" alone is the drive's current folder
    for (const char* root : {"C:", "C:\\", "c:/", "\\\\srv", "\\\\srv\\share", "\\\\srv\\share\\",
                             "\\\\?\\C:\\", "\\\\?\\UNC\\srv\\share"}) {
        EXPECT_TRUE(isDriveRoot(root)) << root;
    }
    for (const char* folder : {"C:\\A", "\\\\srv\\share\\A", "\\\\?\\C:\\A", "", "A"}) {
        EXPECT_FALSE(isDriveRoot(folder)) << folder;
    }
    EXPECT_EQ(withoutTrailingSeparator("C:\\A\\\\"), "C:\\A");
    EXPECT_EQ(withoutTrailingSeparator("C:\\"), "C:\\");
    EXPECT_EQ(withoutTrailingSeparator("C:/"), "C:/");
    EXPECT_EQ(folderOf("C:\\A\\__uninst.exe"), "C:\\A");
    EXPECT_EQ(folderOf("C:/A/b"), "C:/A");
    EXPECT_EQ(folderOf("name"), "");

    using Steps = std::vector<std::string>;
    EXPECT_EQ(pathsBelow("C:\\P\\App\\", "C:\\P\\App\\lib\\deep\\z.jar"),
              (Steps{"C:\\P\\App\\lib", "C:\\P\\App\\lib\\deep", "C:\\P\\App\\lib\\deep\\z.jar"}));
    EXPECT_EQ(pathsBelow("c:/p/app", "C:\\P\\App\\lib\\"), (Steps{"C:\\P\\App\\lib"}));
    EXPECT_EQ(pathsBelow("C:\\", "C:\\x\\y"), (Steps{"C:\\x", "C:\\x\\y"}));
    EXPECT_EQ(pathsBelow("C:\\P\\App", "C:\\P\\App"), Steps{});
    EXPECT_EQ(pathsBelow("C:\\P\\App", "C:\\P\\Apple\\x"), Steps{});

    // In code page 932 a second byte is neither a separator nor a letter to fold: ヂ (83 61)
    // is not ア (83 41), and ソ (83 5C) is one name, not a folder and a separator. In 1252
    // the same bytes are letters.
    setPathCodePage(932);
    EXPECT_FALSE(isPathAtOrBelow("C:\\\x83\x61\\x.txt", "C:\\\x83\x41"));
    EXPECT_FALSE(samePath("C:\\\x83\x61", "C:\\\x83\x41"));
    EXPECT_EQ(withoutTrailingSeparator("C:\\\x83\x5C"), "C:\\\x83\x5C");
    EXPECT_EQ(folderOf("C:\\\x83\x5C\\x"), "C:\\\x83\x5C");
    EXPECT_EQ(pathsBelow("C:\\A", "C:\\A\\\x83\x5C\\x"), (Steps{"C:\\A\\\x83\x5C", "C:\\A\\\x83\x5C\\x"}));
    EXPECT_EQ(recordsOf(mergedUninstallLog(entriesOf({{0, "C:\\A\\\x83\x41.txt"}, {3, "C:\\A\\"}}),
                                           entriesOf({{0, "C:\\A\\\x83\x61.txt"}}))),
              (Records{{0, "C:\\A\\\x83\x41.txt"}, {0, "C:\\A\\\x83\x61.txt"}, {3, "C:\\A\\"}}));
    setPathCodePage(1252);
    EXPECT_TRUE(isPathAtOrBelow("C:\\\x83\x61\\x.txt", "C:\\\x83\x41"));
    EXPECT_EQ(withoutTrailingSeparator("C:\\\x83\x5C"), "C:\\\x83");
    setPathCodePage(0);
}

// ---- An update's log: the earlier installation's records carried over -----------------

bool notVanished(const LogEntry& entry)
{
    return entry.path.find("vanished") == std::string::npos;
}

Records recordsOf(const std::vector<LogEntry>& entries)
{
    Records out;
    for (const LogEntry& e : entries) out.push_back({e.type, e.path});
    return out;
}

TEST(UninstallLogMerge, EarlierRecordsNotLoggedAgainGoBeforeTheRootInTheirOrder)
{
    const Records earlier = {
        {0, "C:\\Home\\Desktop\\Old.lnk"}, {4, "C:\\Home\\Desktop"},
        {0, "C:\\P\\App\\old\\vanished.txt"}, {0, "C:\\P\\App\\old\\x"}, {1, "C:\\P\\App\\old"},
        {0, "C:\\P\\App\\A.TXT"}, {1, "C:\\P\\App\\vanished"}, {0, "C:\\P\\App\\old\\x"},
        {3, "C:\\P\\App\\"}};
    const Records fresh = {{0, "C:\\Home\\Desktop\\New.lnk"}, {4, "c:/home/desktop/"},
                           {0, "C:\\P\\App\\a.txt"}, {0, "C:\\P\\App\\new"}, {3, "C:\\P\\App\\"}};
    // The desktop and a.txt are logged again (in another case, with other separators); what
    // has vanished is dropped; the earlier log's own repetition stays as it was.
    std::vector<LogEntry> kept = earlierRecordsToKeep(entriesOf(earlier), "c:\\p\\APP\\", notVanished);
    EXPECT_EQ(recordsOf(mergedUninstallLog(entriesOf(fresh), kept)),
              (Records{{0, "C:\\Home\\Desktop\\New.lnk"}, {4, "c:/home/desktop/"}, {0, "C:\\P\\App\\a.txt"},
                       {0, "C:\\P\\App\\new"}, {0, "C:\\Home\\Desktop\\Old.lnk"}, {0, "C:\\P\\App\\old\\x"},
                       {1, "C:\\P\\App\\old"}, {0, "C:\\P\\App\\old\\x"}, {3, "C:\\P\\App\\"}}));
    // Another folder's log, even one whose name begins the same, gives nothing.
    EXPECT_TRUE(earlierRecordsToKeep(entriesOf(earlier), "C:\\P\\App2\\", notVanished).empty());
    EXPECT_EQ(recordsOf(mergedUninstallLog(entriesOf(fresh), {})), fresh);
}

// ---- Texts -----------------------------------------------------------------------------

TEST(UninstallTexts, QuestionAndNotices)
{
    EXPECT_EQ(removeQuestion("C:\\Program Files\\Hello"),
              "Do you want to remove the program installed at `C:\\Program Files\\Hello'?");
    EXPECT_EQ(removedNotice("Hello World"), "`Hello World' has been removed.");
    EXPECT_EQ(removedNotice(""), "The program has been removed.");
    EXPECT_EQ(unreadableLogNotice("C:\\A\\__uninst.dat"),
              "The uninstall log `C:\\A\\__uninst.dat' cannot be read.\n\nNothing has been removed.");
    EXPECT_EQ(damagedLogNotice("C:\\A\\__uninst.dat", "ends in the middle of a record"),
              "The uninstall log `C:\\A\\__uninst.dat' is damaged: it ends in the middle of a record."
              "\n\nNothing has been removed.");
    EXPECT_EQ(refusedLogNotice("C:\\A\\__uninst.dat", "names the install folder `C:\\B\\', not the folder it is in"),
              "The uninstall log `C:\\A\\__uninst.dat' is refused: it names the install folder `C:\\B\\', not the "
              "folder it is in.\n\nNothing has been removed.");
    EXPECT_STREQ(kUninstallCaption, "Uninstall");
}

TEST(UninstallTexts, FailuresListTheFirstTenAndCountTheRest)
{
    EXPECT_EQ(failuresNotice({"C:\\A\\x.exe", "C:\\A\\d"}),
              "Not everything could be removed. Still in place:\n\nC:\\A\\x.exe\nC:\\A\\d\n\n"
              "A running program may be using them. Close it and run the uninstaller again.");
    std::vector<std::string> many;
    for (int i = 0; i < 12; ++i) many.push_back("f" + decimalText(static_cast<unsigned long>(i)));
    EXPECT_EQ(failuresNotice(many),
              "Not everything could be removed. Still in place:\n\n"
              "f0\nf1\nf2\nf3\nf4\nf5\nf6\nf7\nf8\nf9\nand 2 more\n\n"
              "A running program may be using them. Close it and run the uninstaller again.");
    many.pop_back();
    many.pop_back();
    EXPECT_EQ(failuresNotice(many).find("more"), std::string::npos);

    const std::string untouched = "Left untouched, because a junction or symbolic link lies on the way to them:\n\n";
    EXPECT_EQ(failuresNotice({}, {"C:\\A\\d\\x", "C:\\A\\d"}),
              "Not everything could be removed. " + untouched + "C:\\A\\d\\x\nC:\\A\\d");
    EXPECT_EQ(failuresNotice({"C:\\A\\x.exe"}, {"C:\\A\\d"}),
              "Not everything could be removed. Still in place:\n\nC:\\A\\x.exe\n\nA running program may be using "
              "them. Close it and run the uninstaller again.\n\n" + untouched + "C:\\A\\d");
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(4294967295ul), "4294967295");
}

// ---- The registration's naming rules ---------------------------------------------------

TEST(UninstallRegistrationKey, EveryReplacedCharacterBecomesAnUnderscore)
{
    EXPECT_EQ(uninstallKeyName("a/b\\c*d?e&f~g!h@i#j$k:l;m%n^o(p)q r`s"),
              "a_b_c_d_e_f_g_h_i_j_k_l_m_n_o_p_q_r_s");
    EXPECT_EQ(uninstallKeyName("/\\*?&~!@#$:;%^() `"), std::string(18, '_'));
    // Everything else stays as it is, other punctuation and non-ASCII bytes included.
    EXPECT_EQ(uninstallKeyName("Hello-World_1.0+[x]{y}'\"<>|=,.\xE9"), "Hello-World_1.0+[x]{y}'\"<>|=,.\xE9");
    EXPECT_EQ(uninstallKeyName(""), "");
    EXPECT_EQ(uninstallKeyPath("Hello_World"),
              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hello_World");
}

TEST(UninstallRegistrationKey, AnEntryNamesTheUninstallerOnlyByItsExactPath)
{
    const std::string exe = "C:\\Program Files\\Hello\\__uninst.exe";
    EXPECT_TRUE(namesUninstaller("\"C:\\Program Files\\Hello\\__uninst.exe\"", exe));
    EXPECT_TRUE(namesUninstaller("C:\\Program Files\\Hello\\__uninst.exe", exe));
    EXPECT_TRUE(namesUninstaller("  \"c:\\program files\\HELLO\\__UNINST.EXE\" ", exe));
    EXPECT_FALSE(namesUninstaller("\"C:\\Program Files\\Hello2\\__uninst.exe\"", exe));
    EXPECT_FALSE(namesUninstaller("\"C:\\Program Files\\Hello\\__uninst.exe\" /S", exe));
    EXPECT_FALSE(namesUninstaller("\"C:\\Program Files\\Hello\\__uninst.exe", exe));
    EXPECT_FALSE(namesUninstaller("", exe));
    EXPECT_FALSE(namesUninstaller("\"\"", ""));
}

// ---- The clean-up copy's command line ---------------------------------------------------

TEST(UninstallCleanupCommand, ARequestSurvivesItsCommandLine)
{
    CleanupRequest request;
    request.waitHandle = 4294967295ul;
    request.removeFolder = true;
    request.uninstallerPath = "C:\\Program Files\\Hello World\\__uninst.exe";
    std::string line = cleanupCommandLine("C:\\Temp\\wbu1A.tmp", request);
    EXPECT_EQ(line, "\"C:\\Temp\\wbu1A.tmp\" /cleanup 4294967295 1 \"C:\\Program Files\\Hello World\\__uninst.exe\"");
    CleanupRequest back;
    ASSERT_TRUE(parseCleanupCommandLine(line, back));
    EXPECT_EQ(back.waitHandle, 4294967295ul);
    EXPECT_TRUE(back.removeFolder);
    EXPECT_EQ(back.uninstallerPath, request.uninstallerPath);

    ASSERT_TRUE(parseCleanupCommandLine("wbu.tmp /cleanup 12 0 \\\\srv\\s\\__UNINST.EXE", back));
    EXPECT_EQ(back.waitHandle, 12ul);
    EXPECT_FALSE(back.removeFolder);
    EXPECT_EQ(back.uninstallerPath, "\\\\srv\\s\\__UNINST.EXE");
}

TEST(UninstallCleanupCommand, AnythingButAnExactRequestIsAnOrdinaryStart)
{
    CleanupRequest request;
    for (const char* line : {
             "\"C:\\A\\__uninst.exe\"",
             "",
             "\"C:\\A\\__uninst.exe\" /cleanup",
             "x /cleanup 12 1",
             "x /Cleanup 12 1 \"C:\\A\\__uninst.exe\"",
             "x /cleanup -1 1 \"C:\\A\\__uninst.exe\"",
             "x /cleanup 12345678901 1 \"C:\\A\\__uninst.exe\"",
             "x /cleanup 12 2 \"C:\\A\\__uninst.exe\"",
             "x /cleanup 12 1 \"C:\\A\\evil.exe\"",        // only an uninstaller is ever deleted
             "x /cleanup 12 1 \"C:\\A\\x__uninst.exe\"",
             "x /cleanup 12 1 \"__uninst.exe\"",
             "x /cleanup 12 1 \"A\\__uninst.exe\"",        // relative: would resolve anywhere
             "x /cleanup 12 1 C:\\Program Files\\__uninst.exe",
             "x /cleanup 12 1 \"C:\\A\\__uninst.exe\" extra",
             "x /cleanup 12 1 \"C:\\A\\__uninst.exe",
         }) {
        EXPECT_FALSE(parseCleanupCommandLine(line, request)) << line;
    }
}

}  // namespace
