// Unit tests of the uninstaller's file system steps under Wine: a file goes (read-only
// too), a file already gone is no failure, a file held open is one; a folder goes only when
// empty, and a folder kept for the user's files is no failure; nothing goes through a link;
// the log is read whole; the shell folders include what the registry names; the clean-up
// copy cannot be replaced while it is started. Folders below C:\wbtest\uninstall_removal.
#include "common/shell_roots.h"
#include "uninstaller/removal.h"
#include "uninstaller/self_removal.h"
#include "uninstaller/uninstall_plan.h"

#include <gtest/gtest.h>

#include "tests/support/ui_driver.h"
#include "tests/support/uninstall_fixtures.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cctype>
#include <string>
#include <vector>

// What became of an item; the fixture below has the same name.
using Outcome = ::Removal;

namespace {

const std::string kBase = "C:\\wbtest\\uninstall_removal";

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFile(const std::string& path, const std::string& data)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(data.data(), 1, data.size(), file);
    std::fclose(file);
}

// The host link a test makes below kBase, removed as a link on the host: a tree walk here
// could follow it.
const std::string kLink = kBase + "\\link";

void removeHostLink()
{
    // Named from the drive's root, which is there even when kBase is not.
    std::string drive = ui::hostPath("C:\\");
    ASSERT_FALSE(drive.empty());
    if (drive.back() != '/') drive += '/';
    ASSERT_TRUE(ui::runOnHost({"/bin/rm", "-f", drive + "wbtest/uninstall_removal/link"}));
}

class Removal : public ::testing::Test {
protected:
    void SetUp() override
    {
        removeHostLink();
        ui::removeTree(kBase);
        CreateDirectoryA("C:\\wbtest", nullptr);
        ASSERT_TRUE(CreateDirectoryA(kBase.c_str(), nullptr));
    }
    void TearDown() override
    {
        removeHostLink();
        ui::removeTree(kBase);
    }
};

TEST_F(Removal, FilesGoAndAFileAlreadyGoneIsNoFailure)
{
    const std::string file = kBase + "\\a.txt";
    const std::string readOnly = kBase + "\\b.txt";
    writeFile(file, "a");
    writeFile(readOnly, "b");
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(removeLoggedFile(file, kBase), Outcome::done);
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(removeLoggedFile(readOnly, kBase), Outcome::done);
    EXPECT_FALSE(exists(readOnly));
    EXPECT_EQ(removeLoggedFile(file, kBase), Outcome::done);
    EXPECT_EQ(removeLoggedFile(kBase + "\\missing\\deeper\\c.txt", kBase), Outcome::done);
    // Windows' name for the open file differs in case from the log's; still the same file.
    writeFile(kBase + "\\Mixed.TXT", "m");
    EXPECT_EQ(removeLoggedFile(kBase + "\\mixed.txt", kBase), Outcome::done);
    EXPECT_FALSE(exists(kBase + "\\Mixed.TXT"));
}

TEST_F(Removal, AFileHeldOpenOrAFolderInItsPlaceIsAFailure)
{
    const std::string file = kBase + "\\held.txt";
    writeFile(file, "held");
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeLoggedFile(file, kBase), Outcome::failed);
    EXPECT_TRUE(exists(file));
    CloseHandle(held);
    EXPECT_EQ(removeLoggedFile(file, kBase), Outcome::done);
    EXPECT_FALSE(exists(file));

    // A file record never removes a folder, not even an empty one.
    const std::string folder = kBase + "\\was-a-file";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(removeLoggedFile(folder, kBase), Outcome::failed);
    EXPECT_TRUE(exists(folder));
}

TEST_F(Removal, AFolderGoesOnlyWhenEmpty)
{
    const std::string empty = kBase + "\\empty";
    const std::string users = kBase + "\\users";
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(users.c_str(), nullptr));
    writeFile(users + "\\mine.txt", "the user's");

    EXPECT_EQ(removeEmptyFolder(empty, kBase), Outcome::done);
    EXPECT_FALSE(exists(empty));
    EXPECT_EQ(removeEmptyFolder(users, kBase), Outcome::done) << "kept for the user's file: not a failure";
    EXPECT_TRUE(exists(users + "\\mine.txt"));
    EXPECT_EQ(removeEmptyFolder(empty, kBase), Outcome::done) << "already gone";

    // A file where a folder was is the user's: kept, and not a failure either.
    writeFile(empty, "now a file");
    EXPECT_EQ(removeEmptyFolder(empty, kBase), Outcome::done);
    EXPECT_TRUE(exists(empty));
}

// A host symbolic link, which Wine shows as a reparse point. Wine opens what it points to
// even when asked for the link itself, so here only Windows' own name for the open item
// tells: the same check that catches a link replacing any folder on the way.
TEST_F(Removal, NothingIsRemovedThroughALinkBelowItsBase)
{
    const std::string elsewhere = kBase + "\\elsewhere", link = kLink;
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((elsewhere + "\\empty").c_str(), nullptr));
    writeFile(elsewhere + "\\theirs.txt", "theirs");
    ASSERT_TRUE(ui::runOnHost({"/bin/ln", "-s", ui::hostPath(elsewhere), ui::hostPath(kBase) + "/link"}));
    ASSERT_TRUE(ui::waitFor([&] {
        DWORD attributes = GetFileAttributesA(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }));

    EXPECT_EQ(removeLoggedFile(link + "\\theirs.txt", kBase), Outcome::throughLink);
    EXPECT_EQ(removeEmptyFolder(link + "\\empty", kBase), Outcome::throughLink);
    EXPECT_EQ(removeLoggedFile(link, kBase), Outcome::throughLink);
    ASSERT_TRUE(RemoveDirectoryA((elsewhere + "\\empty").c_str()));
    ASSERT_TRUE(DeleteFileA((elsewhere + "\\theirs.txt").c_str()));
    EXPECT_EQ(removeEmptyFolder(link, kBase), Outcome::throughLink) << "the link's target is empty now";
    EXPECT_TRUE(exists(elsewhere));
    writeFile(elsewhere + "\\theirs.txt", "theirs");
    writeFile(kBase + "\\ours.txt", "ours");
    // Not below its base: never touched.
    EXPECT_EQ(removeLoggedFile(kBase + "\\ours.txt", elsewhere), Outcome::throughLink);
    EXPECT_TRUE(exists(kBase + "\\ours.txt"));
    // The base itself, however the record spells it, is the log's to judge: a file record
    // never removes a folder, and a folder that holds anything stays.
    EXPECT_EQ(removeLoggedFile(kBase, kBase), Outcome::failed);
    std::string upperBase = kBase;
    for (char& c : upperBase) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(removeEmptyFolder(upperBase + "\\", kBase), Outcome::done);
    EXPECT_TRUE(exists(kBase + "\\ours.txt"));
    // A folder that was there already, named in another case of a letter beyond ASCII
    // (code page 1252: \xDC is "Ü", \xFC "ü"), is the same folder, not a link.
    ASSERT_TRUE(CreateDirectoryA((kBase + "\\\xDC" "berblick").c_str(), nullptr));
    writeFile(kBase + "\\\xDC" "berblick\\x.txt", "x");
    EXPECT_EQ(removeLoggedFile(kBase + "\\\xFC" "berblick\\x.txt", kBase), Outcome::done);
    EXPECT_FALSE(exists(kBase + "\\\xDC" "berblick\\x.txt"));
    EXPECT_EQ(removeEmptyFolder(kBase + "\\\xFC" "berblick", kBase), Outcome::done);
    EXPECT_FALSE(exists(kBase + "\\\xDC" "berblick"));

    // A base behind a link (a user's desktop may be one) is the base: below it, items go.
    EXPECT_EQ(removeLoggedFile(link + "\\theirs.txt", link), Outcome::done);
    EXPECT_FALSE(exists(elsewhere + "\\theirs.txt"));
    ASSERT_TRUE(CreateDirectoryA((elsewhere + "\\empty").c_str(), nullptr));
    EXPECT_EQ(removeEmptyFolder(link + "\\empty\\", link + "\\"), Outcome::done);
    EXPECT_FALSE(exists(elsewhere + "\\empty"));
}

TEST_F(Removal, TheLogIsReadWholeOrNotAtAll)
{
    const std::string log = kBase + "\\__uninst.dat";
    std::string bytes(100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    writeFile(log, bytes);
    std::string read = "stale";
    EXPECT_TRUE(readUninstallLogFile(log, read));
    EXPECT_EQ(read, bytes);
    writeFile(log, "");
    EXPECT_TRUE(readUninstallLogFile(log, read));
    EXPECT_EQ(read, "");
    EXPECT_FALSE(readUninstallLogFile(kBase + "\\missing.dat", read));
    EXPECT_FALSE(readUninstallLogFile(kBase, read)) << "a folder is not a log";
}

TEST(ShellFolders, TheRegistrysShellFoldersAreProtected)
{
    const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    char desktop[MAX_PATH] = {0};
    DWORD size = sizeof desktop;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, key, "Desktop", RRF_RT_REG_SZ, nullptr, desktop, &size),
              ERROR_SUCCESS);
    std::vector<std::string> folders = readShellFolders();
    EXPECT_TRUE(std::any_of(folders.begin(), folders.end(),
                            [&](const std::string& f) { return samePath(f, desktop); }))
        << desktop;
    for (const std::string& folder : folders) EXPECT_FALSE(folder.empty());
}

}  // namespace

namespace {

TEST(ShellFolders, ShortcutsMayLieOnlyInTheFourFoldersOfTheUserAndOfAllUsers)
{
    const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    std::vector<std::string> roots = readShortcutRoots();
    auto holds = [&](const std::string& folder) {
        return std::any_of(roots.begin(), roots.end(), [&](const std::string& r) { return samePath(r, folder); });
    };
    const std::pair<HKEY, const char*> named[] = {
        {HKEY_CURRENT_USER, "Desktop"},         {HKEY_CURRENT_USER, "Programs"},
        {HKEY_CURRENT_USER, "Start Menu"},      {HKEY_CURRENT_USER, "Startup"},
        {HKEY_LOCAL_MACHINE, "Common Desktop"}, {HKEY_LOCAL_MACHINE, "Common Programs"},
        {HKEY_LOCAL_MACHINE, "Common Start Menu"}, {HKEY_LOCAL_MACHINE, "Common Startup"},
        {HKEY_CURRENT_USER, "Personal"}};
    int found = 0;
    for (const auto& value : named) {
        char folder[MAX_PATH] = {0};
        DWORD size = sizeof folder;
        if (RegGetValueA(value.first, key, value.second, RRF_RT_REG_SZ, nullptr, folder, &size) != ERROR_SUCCESS) continue;
        ++found;
        // Documents is no place for shortcuts: a log may not name what lies there.
        bool documents = std::string(value.second) == "Personal";
        EXPECT_EQ(holds(folder), !documents) << value.second << ": " << folder;
    }
    EXPECT_GE(found, 5);
}

}  // namespace

// The clean-up copy's folder: below %SystemRoot%\Temp when elevated (every program is, under
// Wine), named with 16 digits from the system's random source, never twice the same, and
// made with an access list for SYSTEM and the Administrators alone. Wine keeps no access
// lists on files: it reads a folder's back from its Unix permissions, where the
// Administrators' entry became the owner's and nobody else's (a folder made without a list
// also lets Everyone read).
TEST(SelfRemoval, CopyFolderIsNewAndRandomBelowTheSystemsTemp)
{
    char windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GT(length, 0u);
    const std::string base = copyFolderBase();
    EXPECT_EQ(base, std::string(windows, length) + "\\Temp\\");
    const std::string first = createCopyFolder(base), second = createCopyFolder(base);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    for (const std::string& folder : {first, second}) {
        std::string name = folder.substr(base.size());
        ASSERT_EQ(name.size(), 19u) << name;
        EXPECT_EQ(name.substr(0, 3), "wbu");
        EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 3), std::string::npos) << name;
        EXPECT_EQ(uns::describeAccess(folder), "inherits; allow S-1-5-18 1f01ff 3; allow " + uns::userSid() + " 1f01ff 3");
    }
    EXPECT_TRUE(RemoveDirectoryA(first.c_str()));
    EXPECT_TRUE(RemoveDirectoryA(second.c_str()));
}

// While the uninstaller holds its copy to start it, nobody can move it away, delete it,
// write it or put another file in its place; Windows can still start it from its path.
TEST(SelfRemoval, TheCopyHeldForStartingCannotBeReplacedAndStillStarts)
{
    const std::string folder = createCopyFolder(copyFolderBase());
    ASSERT_FALSE(folder.empty());
    const std::string copy = folder + "\\wbucopy.exe", away = folder + "\\away.exe", other = folder + "\\other.exe";
    // This test program itself stands in for the uninstaller: a program Windows can start.
    char self[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    ASSERT_GT(length, 0u);
    std::string program;
    FILE* file = std::fopen(std::string(self, length).c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) program.append(buffer, got);
    std::fclose(file);
    ASSERT_GT(program.size(), 4096u);
    writeFile(copy, program);
    writeFile(other, "another program");

    EXPECT_EQ(openCopyToStart(copy, program + "x"), INVALID_HANDLE_VALUE) << "not the bytes written";
    EXPECT_FALSE(exists(copy));
    writeFile(copy, program);
    HANDLE held = openCopyToStart(copy, program);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileExA(copy.c_str(), away.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(copy.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE writer = CreateFileA(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileExA(other.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(exists(other));

    std::string line = "\"" + copy + "\" --gtest_filter=None";
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << GetLastError();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    // The last handle gone, so is the copy.
    CloseHandle(held);
    EXPECT_FALSE(exists(copy));
    EXPECT_TRUE(DeleteFileA(other.c_str()));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
}
