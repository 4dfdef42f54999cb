// Unit tests of the launcher's logic: reading and packing versions, the choice among
// registered runtimes, the settings read from vmkick.cfg, the virtual machine's command
// line, the quoting of the launcher's own arguments, and the download offer's texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "common/config.h"
#include "launcher/launch_text.h"
#include "launcher/launcher_state.h"
#include "launcher/runtime_candidates.h"
#include "launcher/text_buffer.h"
#include "launcher/version.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "launcher/code_page.h"
#endif

namespace {

// A TextBuffer filled by build and handed back as a std::string, freed either way.
template <typename Build>
std::string built(Build build)
{
    TextBuffer text = {};
    build(text);
    std::string out = textOf(text);
    EXPECT_EQ(out.size(), text.length);
    freeText(text);
    return out;
}

std::string quoted(const char* argument)
{
    return built([&](TextBuffer& t) { appendProgramArgument(t, argument); });
}

std::string joined(const std::vector<const char*>& argv)
{
    return built([&](TextBuffer& t) { joinProgramArgs(t, static_cast<int>(argv.size()), argv.data()); });
}

std::string commandLine(const char* program, const char* classPath, const char* vmArgs, const char* archive,
                        const char* programArgs)
{
    return built([&](TextBuffer& t) { buildJavaCommandLine(t, program, classPath, vmArgs, archive, programArgs); });
}

std::string question(std::int32_t update, const char* application = "this program")
{
    return built([&](TextBuffer& t) { buildDownloadQuestion(t, 1, 4, 1, update, application); });
}

// "seen/suitable/name" of the choice over names in the order given.
std::string choose(const std::vector<const char*>& names, std::int64_t required)
{
    RuntimeChoice choice = {};
    for (const char* name : names) considerRuntime(choice, name, required);
    return std::string(choice.anySeen ? "seen" : "none") + "/" + (choice.anySuitable ? "suitable" : "older") +
           "/" + choice.name;
}

std::vector<std::int32_t> versionParts(const char* text, std::vector<int>* positions = nullptr)
{
    std::vector<std::int32_t> parts;
    int position = 0;
    for (int i = 0; i < 4; ++i) {
        parts.push_back(readVersionPart(text, position));
        if (positions != nullptr) positions->push_back(position);
    }
    return parts;
}

using Parts = std::vector<std::int32_t>;

}  // namespace

// Versions

TEST(LauncherVersion, ReadVersionPartSkipsSeparatorsAndStopsAfterTheDigits)
{
    std::vector<int> positions;
    EXPECT_EQ(versionParts("1.4.2_03", &positions), (Parts{1, 4, 2, 3}));
    EXPECT_EQ(positions, (std::vector<int>{1, 3, 5, 8}));
    positions.clear();
    EXPECT_EQ(versionParts("1.5", &positions), (Parts{1, 5, 0, 0}));
    EXPECT_EQ(positions, (std::vector<int>{1, 3, 3, 3}));  // at the terminator it stays
    EXPECT_EQ(versionParts("jre"), (Parts{0, 0, 0, 0}));
    EXPECT_EQ(versionParts(""), (Parts{0, 0, 0, 0}));
    EXPECT_EQ(versionParts("v1-6beta0x12"), (Parts{1, 6, 0, 12}));
}

TEST(LauncherVersion, AComponentWithTooManyDigitsSaturatesAndTheNextStillReadsAfterIt)
{
    EXPECT_EQ(versionParts("2147483647.1"), (Parts{2147483647, 1, 0, 0}));
    EXPECT_EQ(versionParts("2147483648.2"), (Parts{2147483647, 2, 0, 0}));
    EXPECT_EQ(versionParts("99999999999999999999999.3_4"), (Parts{2147483647, 3, 4, 0}));
}

TEST(LauncherVersion, PackingGivesThePartsValuesAndMixesComponentsOfHundredOrMore)
{
    EXPECT_EQ(packVersion(1, 4, 1, 0), 1040100);
    EXPECT_EQ(packVersionText("1.3.1"), 1030100);
    EXPECT_EQ(packVersionText("1.4"), 1040000);
    EXPECT_EQ(packVersionText("1.4.2_03"), 1040203);
    EXPECT_EQ(packVersionText("1.6.0_101"), packVersionText("1.6.1_01"));
    EXPECT_EQ(packVersionText("no digits"), 0);
}

TEST(LauncherVersion, PackingNeverWrapsRound)
{
    // Beyond 2147 the 32-bit packed value would turn negative and compare as oldest.
    EXPECT_EQ(packVersion(2148, 0, 0, 0), INT64_C(2148000000));
    EXPECT_GT(packVersionText("2148"), packVersionText("1.4.1"));
    EXPECT_EQ(packVersion(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), INT64_C(2147483647) * 1010101);
    EXPECT_EQ(packVersion(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN), INT64_C(-2147483648) * 1010101);
    EXPECT_EQ(packVersion(-1, 0, 0, 0), -1000000);
}

TEST(LauncherVersion, ConfigNumbersReadLikeTheCLibraryButSaturate)
{
    const std::vector<std::pair<const char*, std::int32_t>> cases = {
        {"4", 4}, {" \t\n\v\f\r12abc", 12}, {"+7", 7}, {"-3", -3}, {"1.5", 1}, {"x1", 0}, {"", 0},
        {"-", 0}, {"- 5", 0}, {"\xA0" "5", 0}, {"2147483647", 2147483647}, {"2147483648", 2147483647},
        {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN}, {"00000000000000000009", 9}};
    for (const auto& c : cases) EXPECT_EQ(readConfigNumber(c.first), c.second) << '"' << c.first << '"';
}

// The choice among the registered runtimes, in the order the registry gives them

TEST(LauncherRuntimeChoice, TheLastSuitableNameInEnumerationOrderWins)
{
    const std::int64_t required = packVersion(1, 4, 1, 0);
    EXPECT_EQ(choose({"1.4.2", "1.5", "1.5.0_06"}, required), "seen/suitable/1.5.0_06");
    EXPECT_EQ(choose({"1.5.0_06", "1.4.2"}, required), "seen/suitable/1.4.2");
    EXPECT_EQ(choose({"1.10", "1.6", "1.3"}, required), "seen/suitable/1.6");  // not the newest
    EXPECT_EQ(choose({"1.4.1"}, required), "seen/suitable/1.4.1");  // equal is enough
}

TEST(LauncherRuntimeChoice, OlderAndMissingRuntimesAreToldApart)
{
    const std::int64_t required = packVersion(1, 4, 1, 0);
    EXPECT_EQ(choose({"1.3.1", "1.4"}, required), "seen/older/");
    EXPECT_EQ(choose({"jre"}, required), "seen/older/");
    EXPECT_EQ(choose({}, required), "none/older/");
    EXPECT_EQ(choose({"1.4.1"}, packVersion(3000, 0, 0, 0)), "seen/older/");
}

// The choice among the runtimes of the wider search: the newest suitable, the earlier
// source on a tie

TEST(LauncherRuntimeChoice, TheNewestRuntimeWithAProgramWinsAndTheEarlierSourceBreaksATie)
{
    struct Found {
        const char* version;
        bool hasProgram;
    };
    const std::int64_t required = packVersion(1, 4, 1, 0);
    const struct {
        std::vector<Found> found;
        std::int64_t required;
        long chosen;
    } cases[] = {
        {{}, required, -1},
        {{{"1.8.0_351", true}, {"17.0.2", true}, {"11.0.16", true}}, required, 1},
        {{{"1.8.0_351", true}, {"17.0.2", false}, {"11.0.16", true}}, required, 2},  // no program
        {{{"17.0.2", true}, {"17.0.2", true}}, required, 0},
        {{{"1.8.0_351", true}, {"17.0.2", true}, {"17.0.2", true}}, required, 1},
        {{{"1.6.0_45", true}, {"1.8", true}}, packVersion(1, 7, 0, 0), 1},
        {{{"1.4.0", true}, {"1.4.1", true}}, required, 1},  // equal to the minimum is enough
        {{{"1.4.0", true}, {"jre", true}}, required, -1},
        {{{"17", false}, {"1.3", true}}, required, -1},
    };
    for (const auto& c : cases) {
        CandidateList list = {};
        for (const Found& f : c.found) addCandidate(list, "C:\\jdk", packVersionText(f.version), f.hasProgram);
        EXPECT_EQ(chooseCandidate(list.items, list.count, c.required), c.chosen) << list.count << " candidates";
        freeCandidates(list);
    }
}

TEST(LauncherRuntimeChoice, VersionsComeFromTheReleaseFileAndHomesFromBinFoldersOnPath)
{
    const std::vector<std::pair<const char*, std::int64_t>> releases = {
        {"IMPLEMENTOR=\"X\"\nJAVA_RUNTIME_VERSION=\"9\"\nJAVA_VERSION=\"17.0.2\"\nOS_ARCH=\"x86_64\"\n", 17000200},
        {"JAVA_VERSION=\"1.8.0_351\"\r\nOS_NAME=\"Windows\"\r\n", 1080351},
        {"JAVA_VERSION=21", 21000000},
        {"JAVA_VERSION=\"\"\nOTHER=\"1.2\"\n", -1},
        {"JAVA_VERSIONS=\"17\"\n", -1},
        {"", -1}};
    for (const auto& r : releases) {
        std::int64_t version = -1;
        EXPECT_EQ(readReleaseVersion(r.first, version), r.second >= 0) << r.first;
        EXPECT_EQ(version, r.second) << r.first;
    }
    const std::string longest = "C:\\" + std::string(kMaxFolderLength - 7, 'x');  // with \bin it just fits
    const std::vector<std::pair<std::string, const char*>> entries = {
        {"C:\\jdk-17\\bin", "C:\\jdk-17"}, {"C:\\Java\\jre 8\\BIN\\\\", "C:\\Java\\jre 8"}, {"C:\\bin", "C:"},
        {"C:\\jdk\\bin\\x", nullptr}, {"C:\\jdk\\sbin", nullptr}, {"bin", nullptr}, {"\\bin", nullptr}, {"", nullptr},
        {"\"C:\\jdk\\bin\"", nullptr}, {longest + "\\bin", longest.c_str()},
        {longest + "x\\bin", nullptr}};
    for (const auto& e : entries) {
        std::string home = built([&](TextBuffer& t) {
            EXPECT_EQ(javaHomeOfPathEntry(e.first.data(), e.first.size(), t), e.second != nullptr) << e.first;
        });
        EXPECT_EQ(home, e.second ? e.second : "") << e.first;
    }
}

// Settings read from vmkick.cfg

TEST(LauncherSettings, AbsentKeysGiveTheDefaults)
{
    LauncherState state = {};
    state.configTree = parseConfig("info { archive = app.jar }");
    readLaunchSettings(state);
    EXPECT_STREQ(state.archive, "app.jar");
    EXPECT_STREQ(state.vmArgs, "");
    EXPECT_STREQ(state.classPath, "");
    EXPECT_STREQ(state.runtimeFolder, "");
    EXPECT_STREQ(state.website, "https://www.java.com/download/");
    EXPECT_EQ((Parts{state.requiredMajor, state.requiredMinor, state.requiredSub, state.requiredUpdate}),
              (Parts{1, 3, 0, 0}));
    EXPECT_EQ(state.requiredVersion, 1030000);
    EXPECT_STREQ(errorCaption(state.configTree), "Error");
    EXPECT_STREQ(applicationName(state.configTree), "this program");
    freeConfig(state.configTree);

    state.configTree = parseConfig("");
    readLaunchSettings(state);
    EXPECT_STREQ(state.archive, "");
    freeConfig(state.configTree);
}

TEST(LauncherSettings, EveryKeyIsReadAndNumbersAreConvertedLeniently)
{
    LauncherState state = {};
    state.configTree = parseConfig(
        "#\n# vmkick\n#\n\ninfo {\n\ttitle = \"My App\"\n\tarchive = \"lib/my app.jar\"\n"
        "\tvmargs = \"-Xmx64m -Dx=1\"\n\tjvm {\n\t\tversion { major = \"1.5\" minor = \"abc\" sub = \" 7x\" "
        "update = \"3000000000\" }\n\t\tclasspath = \"a.jar;b.jar\"\n\t\tpath = \"runtime\"\n\t\twebsite = \"http://example.org/\"\n\t}\n}\n");
    readLaunchSettings(state);
    EXPECT_STREQ(state.archive, "lib/my app.jar");
    EXPECT_STREQ(state.vmArgs, "-Xmx64m -Dx=1");
    EXPECT_STREQ(state.classPath, "a.jar;b.jar");
    EXPECT_STREQ(state.runtimeFolder, "runtime");
    EXPECT_STREQ(state.website, "http://example.org/");
    EXPECT_EQ((Parts{state.requiredMajor, state.requiredMinor, state.requiredSub, state.requiredUpdate}),
              (Parts{1, 0, 7, INT32_MAX}));
    EXPECT_EQ(state.requiredVersion, 1000700 + INT64_C(2147483647));
    EXPECT_STREQ(errorCaption(state.configTree), "My App");
    EXPECT_STREQ(applicationName(state.configTree), "My App");
    freeConfig(state.configTree);
}

TEST(LauncherSettings, ErrorCaptionIsErrorWithoutATreeAndAnEmptyTitleStaysEmpty)
{
    EXPECT_STREQ(errorCaption(nullptr), "Error");
    EXPECT_STREQ(applicationName(nullptr), "this program");
    ConfigNode* tree = parseConfig("info { title = \"\" archive = \"\" }");
    EXPECT_STREQ(errorCaption(tree), "");
    EXPECT_STREQ(applicationName(tree), "");
    freeConfig(tree);
}

TEST(LauncherSettings, ReleaseFreesTheTreeAndTheArgumentsOnceEvenWhenCalledTwice)
{
    const std::vector<const char*> argv = {"vmkick.exe", "a", "b c"};
    launcherState.configTree = parseConfig("info { archive = x.jar }");
    readLaunchSettings(launcherState);
    readProgramArgs(launcherState, 3, argv.data());
    readProgramArgs(launcherState, 3, argv.data());  // a second read replaces, not leaks
    EXPECT_STREQ(launcherState.programArgs, "a \"b c\"");
    releaseLauncherState();
    EXPECT_EQ(launcherState.configTree, nullptr);
    EXPECT_EQ(launcherState.programArgs, nullptr);
    EXPECT_EQ(launcherState.archive, nullptr);
    releaseLauncherState();  // the sanitizers catch a second free
    readProgramArgs(launcherState, 1, argv.data());
    EXPECT_STREQ(launcherState.programArgs, "");
    releaseLauncherState();
}

// The virtual machine's command line

TEST(LauncherCommandLine, EmptySettingsGiveProgramJarAndArchive)
{
    EXPECT_EQ(commandLine("C:\\jre\\bin\\javaw.exe", "", "", "app.jar", ""), "C:\\jre\\bin\\javaw.exe -jar app.jar");
}

TEST(LauncherCommandLine, FullSettingsComeInOrderWithSingleBlanks)
{
    EXPECT_EQ(commandLine("C:\\jre\\bin\\javaw.exe", "lib\\a.jar;lib\\b.jar", "-Xmx64m -Dx=1", "app.jar",
                          "one \"two words\" three"),
              "C:\\jre\\bin\\javaw.exe -classpath lib\\a.jar;lib\\b.jar -Xmx64m -Dx=1 -jar app.jar "
              "one \"two words\" three");
    EXPECT_EQ(commandLine("C:\\jre\\bin\\java.exe", "", "-Xmx64m", "app.jar", "x"),
              "C:\\jre\\bin\\java.exe -Xmx64m -jar app.jar x");
    EXPECT_EQ(commandLine("C:\\jre\\bin\\java.exe", "cp", "", "app.jar", ""),
              "C:\\jre\\bin\\java.exe -classpath cp -jar app.jar");
}

TEST(LauncherCommandLine, OnlyAProgramPathWithABlankIsQuoted)
{
    EXPECT_EQ(commandLine("C:\\Program Files\\Java\\jre\\bin\\javaw.exe", "C:\\My Libs\\a.jar", "", "my app.jar", ""),
              "\"C:\\Program Files\\Java\\jre\\bin\\javaw.exe\" -classpath C:\\My Libs\\a.jar -jar my app.jar");
}

#ifdef _WIN32
// The test prefix's ANSI code page is single-byte, so the launcher's start cannot show this
// under Wine: a line of double-byte characters is measured by its characters.
TEST(LauncherCommandLine, TheLimitCountsTheCharactersPassedOnNotTheBytes)
{
    std::string line;
    for (int i = 0; i < 20000; ++i) line += "\x82\xa0";  // one character in code page 932
    EXPECT_EQ(wideLength(932, line.data(), line.size()), 20000u);
    EXPECT_LE(wideLength(932, line.data(), line.size()), kMaxCommandLineLength);
    EXPECT_EQ(wideLength(1252, line.data(), line.size()), 40000u);
    EXPECT_EQ(wideLength(932, "", 0), 0u);
}
#endif

// The launcher's own arguments

TEST(LauncherArguments, OnlyArgumentsThatNeedItAreQuoted)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"plain", "plain"},
        {"C:\\dir\\file.txt", "C:\\dir\\file.txt"},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"a\\\\b c", "\"a\\\\b c\""},
        {"-Dname=x y", "\"-Dname=x y\""}};
    for (const auto& c : cases) EXPECT_EQ(quoted(c.first), c.second) << c.first;
}

TEST(LauncherArguments, ArgumentsAreJoinedWithSingleBlanks)
{
    EXPECT_EQ(joined({"vmkick.exe"}), "");
    EXPECT_EQ(joined({"vmkick.exe", "one", "two words", "three"}), "one \"two words\" three");
    EXPECT_EQ(joined({"vmkick.exe", ""}), "\"\"");
    EXPECT_EQ(joined({"vmkick.exe", "a", "", "b"}), "a \"\" b");
}

#ifdef _WIN32
// The system's own splitter reads every quoted argument back unchanged.
TEST(LauncherArguments, WindowsReadsTheQuotedArgumentsBackUnchanged)
{
    const std::vector<const char*> argv = {"vmkick.exe", "plain", "two words", "", "say \"hi\"", "a\\\"b",
                                           "C:\\my dir\\", "back\\\\slash", "tab\tx", "\\\\server\\share x\\"};
    std::string line = "vmkick.exe " + joined(argv);
    std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(split, nullptr);
    ASSERT_EQ(count, static_cast<int>(argv.size()));
    for (int i = 1; i < count; ++i) {
        std::wstring back(split[i]);
        EXPECT_EQ(std::string(back.begin(), back.end()), argv[i]) << i;
    }
    LocalFree(split);
}
#endif

// The download offer's texts

TEST(LauncherDownloadText, TheQuestionNamesTheVersionWithItsUpdateAndTheApplication)
{
    const std::string head = "You need to install the Java Runtime Environment version ";
    const std::string tail =
        ". Do you want to visit the Java site to download the latest version now? "
        "You will need an active internet connection if you answer yes.";
    EXPECT_EQ(question(0), head + "1.4.1 (or a newer version) prior using this program" + tail);
    EXPECT_EQ(question(6), head + "1.4.1_06 (or a newer version) prior using this program" + tail);
    EXPECT_EQ(question(12, "Hello"), head + "1.4.1_12 (or a newer version) prior using Hello" + tail);
    EXPECT_EQ(question(123), head + "1.4.1_123 (or a newer version) prior using this program" + tail);
    EXPECT_EQ(built([](TextBuffer& t) { buildDownloadQuestion(t, -1, 0, INT32_MIN, -5, "x"); }),
              head + "-1.0.-2147483648_-5 (or a newer version) prior using x" + tail);
}

TEST(LauncherDownloadText, TheBrowserGetsTheAddressAfterItsPlaceholder)
{
    EXPECT_EQ(built([](TextBuffer& t) {
                  buildBrowserCommand(t, "\"C:\\Web\\browser.exe\" -nohome \"%1\"", "https://www.java.com/download/");
              }),
              "\"C:\\Web\\browser.exe\" -nohome \"%1\" https://www.java.com/download/");
    EXPECT_EQ(built([](TextBuffer& t) { buildBrowserFailureText(t, "http://example.org/get java"); }),
              "Failed to launch the web browser. Please visit the site manually:\n\n"
              "        http://example.org/get java\n");
}

// The growing text every one of these is built in

TEST(LauncherTextBuffer, DecimalsArePaddedLikePrintf)
{
    const std::vector<std::pair<std::pair<std::int32_t, int>, const char*>> cases = {
        {{0, 0}, "0"}, {{0, 2}, "00"}, {{6, 2}, "06"}, {{123, 2}, "123"}, {{-5, 2}, "-5"},
        {{-5, 3}, "-05"}, {{INT32_MIN, 0}, "-2147483648"}, {{INT32_MAX, 12}, "002147483647"}};
    for (const auto& c : cases) {
        EXPECT_EQ(built([&](TextBuffer& t) { appendDecimal(t, c.first.first, c.first.second); }), c.second);
    }
}

TEST(LauncherTextBuffer, LongTextsGrowWithoutLimitAndAreHandedOverWhole)
{
    TextBuffer text = {};
    EXPECT_STREQ(textOf(text), "");
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        appendText(text, "ab");
        appendRepeated(text, 'c', static_cast<std::size_t>(i % 5));
        expected += "ab" + std::string(static_cast<std::size_t>(i % 5), 'c');
    }
    EXPECT_EQ(text.length, expected.size());
    char* taken = takeText(text);
    EXPECT_EQ(std::string(taken), expected);
    EXPECT_EQ(text.bytes, nullptr);
    std::free(taken);
    char* empty = takeText(text);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}
