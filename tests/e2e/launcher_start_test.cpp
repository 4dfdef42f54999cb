// vmkick under Wine when it starts Java: which runtime it picks, the exact command line it
// gives the virtual machine, the arguments it passes on, and that it ends at once. Recorders
// stand in for javaw.exe and java.exe; once, the host's real Java runs the example.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

class LauncherStart : public ::testing::Test {
protected:
    vmk::LauncherRegistryGuard registry;
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string dir = vmk::freshTestFolder(name);
    std::string jre = dir + "\\jre";
    std::string javaw = jre + "\\bin\\javaw.exe";

    void writeConfig(const std::string& text) { ASSERT_TRUE(vmk::writeFile(dir + "\\vmkick.cfg", text)); }

    // Runs vmkick in dir with arguments and expects it to end with 0 by itself.
    void launch(const std::string& arguments = std::string())
    {
        ui::Process launcher;
        ASSERT_TRUE(vmk::startLauncher(dir, arguments, launcher));
        EXPECT_EQ(ui::waitExit(launcher), 0u);
        ui::closeProcess(launcher);
    }

    // The command line of the one start of the recorder at program.
    std::string startedLine(const std::string& program)
    {
        std::vector<vmk::RecorderRun> runs = vmk::waitForRecorderRuns(program);
        EXPECT_EQ(runs.size(), 1u) << program;
        if (runs.empty()) return "(not started)";
        EXPECT_EQ(runs[0].workingDir, dir);
        EXPECT_EQ(runs[0].group, 1);
        EXPECT_EQ(runs[0].show, -1);
        return runs[0].commandLine;
    }
};

const char kPlainConfig[] = "info { title = \"Stargazer\" archive = \"app.jar\" }\n";

}  // namespace

// The command line

TEST_F(LauncherStart, EmptySettingsGiveTheProgramJarAndTheArchive)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, true));
    ASSERT_TRUE(vmk::addRuntime("1.4.2", jre));
    launch();
    EXPECT_EQ(startedLine(javaw), javaw + " -jar app.jar");
    EXPECT_FALSE(vmk::fileExists(jre + "\\bin\\java.exe.log"));
}

TEST_F(LauncherStart, ClassPathOptionsArchiveAndArgumentsComeInOrder)
{
    writeConfig(
        "info { archive = \"lib\\\\my app.jar\" vmargs = \"-Xmx64m -Dmode=test\"\n"
        "  jvm { classpath = \"lib\\\\a.jar;C:\\\\My Libs\\\\b.jar\" } }\n");
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.5.0_06", jre));
    launch("one \"two words\" three");
    EXPECT_EQ(startedLine(javaw),
              javaw + " -classpath lib\\a.jar;C:\\My Libs\\b.jar -Xmx64m -Dmode=test -jar lib\\my app.jar "
                      "one \"two words\" three");
}

TEST_F(LauncherStart, ArgumentsWithQuotesBackslashesOrNothingArePassedOnQuoted)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.5.0_06", jre));
    // As typed: an empty argument, one with quotes, a folder with a trailing backslash.
    launch("\"\" \"say \\\"hi\\\"\" \"C:\\my dir\\\\\" C:\\plain\\");
    EXPECT_EQ(startedLine(javaw), javaw + " -jar app.jar \"\" \"say \\\"hi\\\"\" \"C:\\my dir\\\\\" C:\\plain\\");
}

TEST_F(LauncherStart, WildcardArgumentsArriveAsTheMatchingFileNames)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.5.0_06", jre));
    for (const char* file : {"a1.txt", "a2.txt", "b.dat"}) ASSERT_TRUE(vmk::writeFile(dir + "\\" + file, "x"));
    launch("*.txt b?dat nomatch*.zip");
    std::string line = startedLine(javaw);
    const std::string head = javaw + " -jar app.jar ";
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    // The runtime lists the matches in directory order, which the file system chooses.
    std::vector<std::string> words;
    for (size_t at = head.size(), end; at <= line.size(); at = end + 1) {
        end = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, end - at));
    }
    ASSERT_EQ(words.size(), 4u) << line;
    std::sort(words.begin(), words.begin() + 2);
    EXPECT_EQ(words, (std::vector<std::string>{"a1.txt", "a2.txt", "b.dat", "nomatch*.zip"}));
}

// Which program of which runtime

TEST_F(LauncherStart, JavaExeIsStartedWhenJavawExeIsMissing)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, false, true));
    ASSERT_TRUE(vmk::addRuntime("1.4.1", jre));
    launch();
    EXPECT_EQ(startedLine(jre + "\\bin\\java.exe"), jre + "\\bin\\java.exe -jar app.jar");
}

TEST_F(LauncherStart, AJavaHomeWithBlanksIsQuotedSoAPlantedProgramDoesNotRun)
{
    // Unquoted, "C:\wbtest\<name>\Program Files\..." would first be tried as
    // "C:\wbtest\<name>\Program.exe".
    std::string planted = dir + "\\Program.exe";
    std::string home = dir + "\\Program Files\\Java\\jre 6";
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorder(planted));
    ASSERT_TRUE(vmk::installRecorderRuntime(home, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.6.0", home));
    launch("x");
    EXPECT_EQ(startedLine(home + "\\bin\\javaw.exe"), "\"" + home + "\\bin\\javaw.exe\" -jar app.jar x");
    EXPECT_FALSE(vmk::fileExists(planted + ".log"));
}

TEST_F(LauncherStart, TheLastSuitableRuntimeInRegistryOrderIsStartedNotTheNewest)
{
    writeConfig("info { archive = app.jar jvm { version { major = 1 minor = 4 sub = 1 } } }");
    for (const char* version : {"1.10", "1.6", "1.3"}) {
        ASSERT_TRUE(vmk::installRecorderRuntime(dir + "\\" + version, true, false));
        ASSERT_TRUE(vmk::addRuntime(version, dir + "\\" + version));
    }
    // The order the launcher meets them in, whatever order they were written in.
    ASSERT_EQ(vmk::enumeratedRuntimes(), (std::vector<std::string>{"1.10", "1.3", "1.6"}));
    launch();
    EXPECT_EQ(startedLine(dir + "\\1.6\\bin\\javaw.exe"), dir + "\\1.6\\bin\\javaw.exe -jar app.jar");
    EXPECT_FALSE(vmk::fileExists(dir + "\\1.10\\bin\\javaw.exe.log"));
}

TEST_F(LauncherStart, OnlyTheFirst9999RegisteredRuntimesAreExamined)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    // 9998 old runtimes sort before "9.9", which is then the 9999th, at index 9998.
    for (int i = 0; i < 9998; ++i) {
        char version[16];
        std::snprintf(version, sizeof version, "0.0.0_%04d", i);
        ASSERT_TRUE(vmk::addRuntime(version, dir + "\\old", true));
    }
    ASSERT_TRUE(vmk::addRuntime("9.9", jre));
    launch();
    EXPECT_EQ(startedLine(javaw), javaw + " -jar app.jar");

    // One more old runtime pushes "9.9" to index 9999, where the search has stopped.
    ASSERT_TRUE(vmk::addRuntime("0.0.0_9998", dir + "\\old", true));
    ASSERT_EQ(vmk::enumeratedRuntimes().size(), 10000u);
    ASSERT_EQ(vmk::enumeratedRuntimes()[9999], "9.9");
    ui::Process launcher;
    ASSERT_TRUE(vmk::startLauncher(dir, "", launcher));
    vmk::MessageBoxSeen reason = vmk::answerNextBox(launcher, "launcher-runtime-beyond-limit", IDOK);
    EXPECT_EQ(reason.text, "The installed Java Runtime Environment is older than the required version.");
    vmk::MessageBoxSeen question = vmk::answerNextBox(launcher, "launcher-runtime-beyond-limit-question", IDNO);
    EXPECT_EQ(question.caption, "Get Java Runtime Environment");
    EXPECT_EQ(ui::waitExit(launcher), 0u);
    ui::closeProcess(launcher);
    EXPECT_EQ(vmk::recorderRuns(javaw).size(), 1u);
}

// The start itself

TEST_F(LauncherStart, TheLauncherEndsAtOnceWhileTheVirtualMachineKeepsRunning)
{
    writeConfig(kPlainConfig);
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.5.0", jre));
    ASSERT_TRUE(vmk::writeFile(javaw + ".hold", ""));
    launch();
    EXPECT_TRUE(vmk::programRunning(javaw));
    EXPECT_EQ(startedLine(javaw), javaw + " -jar app.jar");
    ASSERT_TRUE(DeleteFileA((javaw + ".hold").c_str()));
    EXPECT_TRUE(ui::waitFor([&] { return !vmk::programRunning(javaw); }));
}

TEST_F(LauncherStart, ACommandLineBeyondTheSystemLimitIsReportedInsteadOfCut)
{
    ASSERT_TRUE(vmk::installRecorderRuntime(jre, true, false));
    ASSERT_TRUE(vmk::addRuntime("1.5.0", jre));
    // CreateProcessA takes at most 32766 characters and the terminator. A configuration
    // value stops at the parser's token limit, so the class path, the options and the
    // launcher's own argument share the length.
    const std::string classPath(15000, 'c');
    const std::string options = "-Dpad=" + std::string(15000, 'o');
    writeConfig("info { title = Stargazer archive = app.jar vmargs = \"" + options + "\"\n"
                "  jvm { classpath = \"" + classPath + "\" } }\n");
    const std::string fixed = javaw + " -classpath " + classPath + " " + options + " -jar app.jar ";
    const std::string argument(32766 - fixed.size(), 'a');
    launch(argument);
    std::string line = startedLine(javaw);
    EXPECT_EQ(line.size(), 32766u);
    EXPECT_EQ(line, fixed + argument);

    ui::Process launcher;
    ASSERT_TRUE(vmk::startLauncher(dir, argument + "a", launcher));
    vmk::MessageBoxSeen box = vmk::answerNextBox(launcher, "launcher-command-line-too-long", IDOK);
    EXPECT_EQ(box.text, "The command line for the Java virtual machine is too long.");
    EXPECT_EQ(box.caption, "Stargazer");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDOK}));
    EXPECT_EQ(ui::waitExit(launcher), 1u);
    ui::closeProcess(launcher);
    EXPECT_EQ(vmk::recorderRuns(javaw).size(), 1u);
}

// The whole road with a real Java virtual machine shipped with the application: the
// host's Java behind a script that Wine runs as runtime\bin\javaw.exe, named in the
// example's vmkick.cfg; no runtime is registered.
TEST_F(LauncherStart, TheHostsJavaAsTheShippedRuntimeRunsTheExampleWithTheLaunchersArguments)
{
    std::string app = dir + "\\Hello";
    ASSERT_TRUE(vmk::makeFolders(app + "\\runtime\\bin"));
    ASSERT_TRUE(CopyFileA(vmk::vmkickPath().c_str(), (app + "\\vmkick.exe").c_str(), FALSE));
    std::string config = vmk::readFile(WB_SOURCE_DIR "\\examples\\hello\\vmkick.cfg");
    ASSERT_NE(config.find("jvm {"), std::string::npos);
    config.insert(config.find("jvm {") + 5, " path = \"runtime\"");
    ASSERT_TRUE(vmk::writeFile(app + "\\vmkick.cfg", config));
    ASSERT_TRUE(CopyFileA(WB_DIST_DIR "\\hello.jar", (app + "\\hello.jar").c_str(), FALSE))
        << "hello.jar is built by the host configuration (make host)";
    ASSERT_TRUE(CopyFileA(REAL_JAVA_HOME "\\bin\\javaw.exe", (app + "\\runtime\\bin\\javaw.exe").c_str(), FALSE));

    ui::Process launcher;
    ASSERT_TRUE(vmk::startLauncher(app, "one \"two words\" three", launcher, app + "\\vmkick.exe"));
    EXPECT_EQ(ui::waitExit(launcher), 0u);
    ui::closeProcess(launcher);
    std::string log;
    ui::waitFor([&] { return (log = vmk::readFile(app + "\\hello-run.log")).find('\n') != std::string::npos; },
                120000);
    // Java reports its working directory as the host's resolved path, which may differ in
    // spelling from the prefix's drive link: compare the folder by a file only it holds.
    const std::string prefix = "hello ran in ";
    const std::string suffix = " with 3 arguments: [one] [two words] [three]\n";
    ASSERT_GT(log.size(), prefix.size() + suffix.size()) << log;
    EXPECT_EQ(log.substr(0, prefix.size()), prefix);
    EXPECT_EQ(log.substr(log.size() - suffix.size()), suffix);
    std::string cwd = log.substr(prefix.size(), log.size() - prefix.size() - suffix.size());
    ASSERT_TRUE(vmk::writeFile(app + "\\marker-of-this-run", name));
    std::string seen = "Z:" + cwd + "/marker-of-this-run";
    for (char& c : seen) if (c == '/') c = '\\';
    EXPECT_EQ(vmk::readFile(seen), name) << cwd;
}
