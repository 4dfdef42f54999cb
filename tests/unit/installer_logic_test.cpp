// Unit tests of the installer's text logic: the progress bar's arithmetic, the bytes of the
// uninstall log's records, the walk into the install directory and the running path. Runs
// on the host (with the sanitizers) and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/path_rule.h"
#include "common/uninstall_log.h"
#include "installer/install_paths.h"
#include "installer/progress.h"

namespace {

TEST(ProgressFill, ProductIsExactBeyondThirtyTwoBits)
{
    // 231 × 3,000,000,000 overflows 32 bits; the fill must still be 173 pixels.
    EXPECT_EQ(progressFill(231, 3000000000u, 4000000000u), 173u);
    EXPECT_EQ(progressFill(231, 0xFFFFFFFFu, 0xFFFFFFFFu), 231u);
    EXPECT_EQ(progressFill(231, 1, 2), 115u);   // truncated, not rounded
    EXPECT_EQ(progressFill(231, 0, 4000000000u), 0u);
}

TEST(ProgressFill, NeverDividesByZeroNorLeavesTheFrame)
{
    EXPECT_EQ(progressFill(231, 0, 0), 0u);
    EXPECT_EQ(progressFill(231, 5000, 0), 0u);
    // More bytes than the package claimed: a full bar, never more.
    EXPECT_EQ(progressFill(231, 5001, 5000), 231u);
    EXPECT_EQ(progressFill(231, 0xFFFFFFFFu, 1), 231u);
}

TEST(ProgressSpan, IsTheRoomInsideTheFrame)
{
    // The main window's client area is 294 pixels wide: frame from 30 to 264, fill from 32
    // up to 262 at most.
    EXPECT_EQ(progressSpan(294), 231u);
    EXPECT_EQ(progressSpan(64), 1u);
    EXPECT_EQ(progressSpan(63), 0u);
    EXPECT_EQ(progressSpan(10), 0u);   // no wrap-around to four billion pixels
    EXPECT_EQ(progressSpan(-5), 0u);
}

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(UninstallLogBytes, WorkedExampleIsThirtySevenBytes)
{
    std::string out;
    ASSERT_TRUE(appendLogRecordBytes(out, 0, "C:\\A\\d\\y"));
    ASSERT_TRUE(appendLogRecordBytes(out, 1, "C:\\A\\d"));
    ASSERT_TRUE(appendLogRecordBytes(out, 0, "C:\\A\\x"));
    ASSERT_TRUE(appendLogRecordBytes(out, 3, "C:\\A\\"));
    EXPECT_EQ(out, bytes({0x00, 0x08, 0x00}) + "C:\\A\\d\\y" + bytes({0x01, 0x06, 0x00}) + "C:\\A\\d" +
                       bytes({0x00, 0x06, 0x00}) + "C:\\A\\x" + bytes({0x03, 0x05, 0x00}) + "C:\\A\\");
    EXPECT_EQ(out.size(), 37u);
}

TEST(UninstallLogBytes, TypeLowByteAndLengthLittleEndian)
{
    std::string out;
    ASSERT_TRUE(appendLogRecordBytes(out, 0x104, ""));
    EXPECT_EQ(out, bytes({0x04, 0x00, 0x00}));

    out.clear();
    std::string path(0x1234, 'p');
    ASSERT_TRUE(appendLogRecordBytes(out, 4, path.c_str()));
    EXPECT_EQ(out, bytes({0x04, 0x34, 0x12}) + path);

    out = "kept";
    std::string longest(0xFFFF, 'q');
    ASSERT_TRUE(appendLogRecordBytes(out, 0, longest.c_str()));
    EXPECT_EQ(out.size(), 4u + 3u + 0xFFFFu);
}

TEST(UninstallLogBytes, PathTooLongForTheLengthFieldIsRefusedWhole)
{
    std::string out = "kept";
    std::string tooLong(0x10000, 'q');
    EXPECT_FALSE(appendLogRecordBytes(out, 0, tooLong.c_str()));
    EXPECT_EQ(out, "kept");
}

// The walk's steps as text: a root in brackets, a folder by its name and a bar.
std::string stepsText(const InstallWalk& walk)
{
    std::string text;
    for (const WalkStep& step : walk.steps) text += step.root ? "[" + step.text + "]" : step.text + "|";
    return text;
}

TEST(InstallWalk, StepsAndTheFolderReached)
{
    struct Row {
        const char* fullDir;
        const char* steps;
        const char* reached;
    };
    const Row rows[] = {
        {"C:\\Apps\\Tool\\", "[C:\\]Apps|Tool|", "C:\\Apps\\Tool\\"},
        {"C:\\Apps\\Tool", "[C:\\]Apps|Tool|", "C:\\Apps\\Tool\\"},
        {"C:\\", "[C:\\]", "C:\\"},
        {"d:", "[d:\\]", "d:\\"},
        {"C:\\a\\\\b\\", "[C:\\]a|b|", "C:\\a\\b\\"},
        // A share's root is one step: neither the server nor the share is a folder to make.
        {"\\\\server\\share\\App\\", "[\\\\server\\share\\]App|", "\\\\server\\share\\App\\"},
        {"\\\\server\\share", "[\\\\server\\share\\]", "\\\\server\\share\\"},
        {"\\\\server", "[\\\\server\\]", "\\\\server\\"},
        // A drive further on starts the walk again; from there on that is the install folder.
        {"C:\\a\\Q:\\b\\", "[C:\\]a|[Q:\\]b|", "Q:\\b\\"},
        {"\\\\s\\h\\x\\Q:\\", "[\\\\s\\h\\]x|[Q:\\]", "Q:\\"},
        // Only a letter and a colon is a drive; another name with a colon is a folder name,
        // which Windows then refuses to make.
        {"C:\\a\\ab:\\b", "[C:\\]a|ab:|b|", "C:\\a\\ab:\\b\\"},
        // Windows makes a folder without its trailing blanks and dots, and "..." as none:
        // the walk, and so the log and the registration, name the folder it made.
        {"C:\\My Apps \\Tool", "[C:\\]My Apps|Tool|", "C:\\My Apps\\Tool\\"},
        {"C:\\Apps\\Tool .\\", "[C:\\]Apps|Tool|", "C:\\Apps\\Tool\\"},
        {"C:\\Apps\\...\\Tool", "[C:\\]Apps|Tool|", "C:\\Apps\\Tool\\"},
        {"C:\\. a.\\b", "[C:\\]. a|b|", "C:\\. a\\b\\"},
    };
    for (const Row& row : rows) {
        InstallWalk walk = planInstallWalk(row.fullDir);
        EXPECT_EQ(stepsText(walk), row.steps) << row.fullDir;
        EXPECT_EQ(walk.reached, row.reached) << row.fullDir;
    }

    // In code page 932 the second byte of a character may be a backslash (ソ is 83 5C):
    // C:\ソフト\表 is two folders, not four.
    setPathCodePage(932);
    InstallWalk walk = planInstallWalk("C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C");
    EXPECT_EQ(stepsText(walk), "[C:\\]\x83\x5C\x83\x74\x83\x67|\x95\x5C|");
    EXPECT_EQ(walk.reached, "C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\\");
    walk = planInstallWalk("\\\\s\x83\x5C\\h\\x");
    EXPECT_EQ(stepsText(walk), "[\\\\s\x83\x5C\\h\\]x|");
    setPathCodePage(0);
}

TEST(PerUserPrefix, OnlyALeadingMacroBeforeABackslashOrTheEndIsTheUsersFolder)
{
    const std::string folder = "C:\\Users\\J$D\\AppData\\Local";
    const std::pair<const char*, std::string> rows[] = {
        {"$L\\Programs\\Hello", folder + "\\Programs\\Hello"},
        {"$L", folder},
        {"$Lx\\a", "$Lx\\a"},
        {"$l\\a", "$l\\a"},
        {"C:\\$L\\a", "C:\\$L\\a"},
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(expandPerUserPrefix(row.first, folder), row.second) << row.first;
}

// What "run it now" starts: a program of the installation by its full path, quoted, so
// that Windows never takes a file of that name from the installer's folder or PATH.
TEST(RunCommand, AProgramWithoutAFullPathIsTheInstallFoldersQuoted)
{
    const std::tuple<const char*, const char*, std::string> rows[] = {
        {"vmkick.exe", "C:\\Apps\\Hello", "\"C:\\Apps\\Hello\\vmkick.exe\""},
        {"vmkick.exe -x \"a b\"", "C:\\Apps\\Hello\\", "\"C:\\Apps\\Hello\\vmkick.exe\" -x \"a b\""},
        {"\"bin\\run me.exe\"\t-y", "D:\\", "\"D:\\bin\\run me.exe\"\t-y"},
        {"\"C:\\Tools\\t.exe\" -z", "D:\\A", "\"C:\\Tools\\t.exe\" -z"},
        {"C:\\Tools\\t.exe -z", "D:\\A", "C:\\Tools\\t.exe -z"},
        {"\\\\srv\\share\\t.exe", "D:\\A", "\\\\srv\\share\\t.exe"},
        {"\\\\\\srv\\t.exe", "D:\\A", "\\\\\\srv\\t.exe"},
        // Drive-relative and rooted forms name no folder of their own: not full paths.
        {"C:t.exe", "D:\\A", "\"D:\\A\\C:t.exe\""},
        {"\\t.exe", "D:\\A", "\"D:\\A\\\\t.exe\""},
        {"\"unclosed.exe -q", "D:\\A", "\"D:\\A\\unclosed.exe -q\""},
        {"", "D:\\A", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(runCommandInFolder(std::get<0>(row), std::get<1>(row)), std::get<2>(row)) << std::get<0>(row);
    }
    // A folder ending in 表 (95 5C) has no separator yet.
    setPathCodePage(932);
    EXPECT_EQ(runCommandInFolder("a.exe", "C:\\\x95\x5C"), "\"C:\\\x95\x5C\\a.exe\"");
    setPathCodePage(0);
}

TEST(RunningPath, LeavingDropsTheLastComponent)
{
    std::string path = "C:\\A\\d\\e\\";
    leaveRunningPath(path);
    EXPECT_EQ(path, "C:\\A\\d\\");
    leaveRunningPath(path);
    EXPECT_EQ(path, "C:\\A\\");
    path = "rel\\";
    leaveRunningPath(path);
    EXPECT_EQ(path, "");
    leaveRunningPath(path);
    EXPECT_EQ(path, "");
    // 表 (95 5C) ends in a backslash byte that is no separator.
    setPathCodePage(932);
    path = "C:\\A\\\x95\x5C\\d\x95\x5C\\";
    leaveRunningPath(path);
    EXPECT_EQ(path, "C:\\A\\\x95\x5C\\");
    leaveRunningPath(path);
    EXPECT_EQ(path, "C:\\A\\");
    setPathCodePage(0);
}

}  // namespace
