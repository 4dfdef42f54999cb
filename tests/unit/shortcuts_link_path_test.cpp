// The link path's macro expansion and limits as plain text work: on the host with the
// sanitizers, and under Wine. The registry side is tested in shortcuts_test.cpp.
#include "installer/link_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kFolders[kShellFolderCount] = {"C:\\D", "C:\\P", "C:\\S", "C:\\s"};

std::string expand(const std::string& linkPath, const std::string (&folders)[kShellFolderCount] = kFolders)
{
    std::string expanded = "left over";
    EXPECT_TRUE(expandLinkPathText(linkPath.c_str(), folders, expanded)) << linkPath;
    return expanded;
}

}  // namespace

TEST(LinkPathText, MacrosAndTheCharactersAroundThem)
{
    EXPECT_EQ(expand("$D\\A.lnk"), "C:\\D\\A.lnk");
    EXPECT_EQ(expand("$P\\G\\$S\\$s"), "C:\\P\\G\\C:\\S\\C:\\s");
    EXPECT_EQ(expand("$D$P"), "C:\\D$P");
    EXPECT_EQ(expand("$$D"), "D");
    EXPECT_EQ(expand("$d\\A.lnk"), "\\A.lnk");
    EXPECT_EQ(expand("x$"), "x");
    EXPECT_EQ(expand("x$D"), "xC:\\D");
    EXPECT_EQ(expand(""), "");
}

TEST(LinkPathText, NamesOnlyTheFoldersItsMacrosUse)
{
    EXPECT_EQ(linkPathFolders("$D$P"), 1u << kDesktopFolder);
    EXPECT_EQ(linkPathFolders("$S\\$s$"), (1u << kStartMenuFolder) | (1u << kStartupFolder));
    EXPECT_EQ(linkPathFolders("C:\\$X\\$"), 0u);
    EXPECT_STREQ(shellFolderValueName(shellFolderOfMacro('S')), "Start Menu");
    EXPECT_STREQ(shellFolderValueName(shellFolderOfMacro('s')), "Startup");
}

TEST(LinkPathText, ExpansionBeyondItsLimitIsRefusedNotCut)
{
    std::string folders[kShellFolderCount];
    folders[kDesktopFolder] = "C:\\" + std::string(kMaxExpandedLinkPath - 5, 'a');
    EXPECT_EQ(expand("$D\\x", folders).size(), kMaxExpandedLinkPath);

    std::string expanded;
    EXPECT_FALSE(expandLinkPathText("$D\\xy", folders, expanded));
    EXPECT_EQ(expanded, "");
    // Thousands of copies of a long folder end at the limit, not after building them all.
    folders[kDesktopFolder] = std::string(16383, 'b');
    EXPECT_FALSE(expandLinkPathText("$D", folders, expanded));
    std::string manyMacros;
    for (int i = 0; i < 20000; ++i) manyMacros += "$D\\";
    EXPECT_FALSE(expandLinkPathText(manyMacros.c_str(), folders, expanded));
}

TEST(LinkPathText, SavablePathsBeginWithADriveAndFitTheLinkObject)
{
    EXPECT_TRUE(isSavableLinkPath("C:\\A.lnk"));
    EXPECT_TRUE(isSavableLinkPath("z:/A.lnk"));
    EXPECT_TRUE(isSavableLinkPath("C:\\" + std::string(kMaxSavedLinkPath - 3, 'n')));
    EXPECT_FALSE(isSavableLinkPath("C:\\" + std::string(kMaxSavedLinkPath - 2, 'n')));
    EXPECT_FALSE(isSavableLinkPath("\\A.lnk"));
    EXPECT_FALSE(isSavableLinkPath("C:A.lnk"));
    EXPECT_FALSE(isSavableLinkPath("1:\\A.lnk"));
    EXPECT_FALSE(isSavableLinkPath("A.lnk"));
    EXPECT_FALSE(isSavableLinkPath("C:"));
}
