// vmkick under Wine when it cannot start Java: the fatal errors of start-up, every reason
// of the runtime search followed by the download question, and what Yes and No do with
// the web browser registered for HTML files. A recorder stands in for the browser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

const char kNotFound[] = "The Java Runtime Environment was not found!";
const char kTooOld[] = "The installed Java Runtime Environment is older than the required version.";
const char kDamaged[] = "The available Java Runtime Environment is damaged!";
const char kNotInstalled[] = "The available Java Runtime Environment is not properly installed!";
const char kLaunchFailed[] =
    "Failed to launch the Java Runtime Environment's virtual machine program (javaw.exe or java.exe)! "
    "This is probably due to a damaged JRE installation.";

std::string question(const std::string& version, const std::string& application)
{
    return "You need to install the Java Runtime Environment version " + version +
           " (or a newer version) prior using " + application +
           ". Do you want to visit the Java site to download the latest version now? "
           "You will need an active internet connection if you answer yes.";
}

const std::vector<int> kOk = {IDOK};
const std::vector<int> kYesNo = {IDYES, IDNO};

class LauncherFailure : public ::testing::Test {
protected:
    vmk::LauncherRegistryGuard registry;
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string dir = vmk::freshTestFolder(name);
    std::string browser = dir + "\\web\\browser.exe";

    void SetUp() override
    {
        ASSERT_TRUE(vmk::installRecorder(browser));
        ASSERT_TRUE(vmk::setBrowserCommand("\"" + browser + "\" \"%1\""));
    }

    void writeConfig(const std::string& text) { ASSERT_TRUE(vmk::writeFile(dir + "\\vmkick.cfg", text)); }

    // Runs vmkick (in dir unless told otherwise) and expects one error box, then exit 1.
    void expectFatal(const std::string& text, const std::string& caption, const std::string& shot,
                     const std::string& workDir = std::string(), const std::string& exe = std::string())
    {
        ui::Process launcher;
        ASSERT_TRUE(vmk::startLauncher(workDir.empty() ? dir : workDir, "", launcher, exe));
        vmk::MessageBoxSeen box = vmk::answerNextBox(launcher, "launcher-" + shot, IDOK);
        EXPECT_TRUE(box.found);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(box.buttons, kOk);
        EXPECT_EQ(ui::waitExit(launcher), 1u);
        ui::closeProcess(launcher);
    }

    struct Offer {
        vmk::MessageBoxSeen reason;
        vmk::MessageBoxSeen question;
        ui::Process launcher;
    };

    // Runs vmkick in dir through the reason box (OK) and the question (answer); a third
    // box, if any, is left for the caller.
    Offer runOffer(const std::string& shot, int answer)
    {
        Offer offer;
        EXPECT_TRUE(vmk::startLauncher(dir, "", offer.launcher));
        offer.reason = vmk::answerNextBox(offer.launcher, "launcher-" + shot + "-reason", IDOK);
        offer.question = vmk::answerNextBox(offer.launcher, "launcher-" + shot + "-question", answer);
        return offer;
    }

    // The reason in an error box, then the download question alone; No ends with exit 0
    // and starts nothing.
    void expectOfferDeclined(const std::string& reason, const std::string& caption, const std::string& version,
                             const std::string& application, const std::string& shot)
    {
        Offer offer = runOffer(shot, IDNO);
        EXPECT_TRUE(offer.reason.found);
        EXPECT_EQ(offer.reason.text, reason);
        EXPECT_EQ(offer.reason.caption, caption);
        EXPECT_EQ(offer.reason.icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(offer.reason.buttons, kOk);
        EXPECT_EQ(offer.reason.boxesShown, 1);
        EXPECT_TRUE(offer.question.found);
        EXPECT_EQ(offer.question.text, question(version, application));
        EXPECT_EQ(offer.question.caption, "Get Java Runtime Environment");
        EXPECT_EQ(offer.question.icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(offer.question.buttons, kYesNo);
        EXPECT_EQ(offer.question.boxesShown, 1);
        EXPECT_EQ(ui::waitExit(offer.launcher), 0u);
        ui::closeProcess(offer.launcher);
        // Anything vmkick started would now be running or would have written its log.
        EXPECT_FALSE(vmk::programRunning(browser));
        EXPECT_FALSE(vmk::fileExists(browser + ".log"));
    }
};

const char kTitledConfig[] =
    "#\n# test\n#\n\ninfo {\n\ttitle = \"Stargazer\"\n\tarchive = \"app.jar\"\n"
    "\tjvm {\n\t\tversion { major = \"1\" minor = \"4\" sub = \"1\" update = \"6\" }\n"
    "\t\twebsite = \"http://example.org/get-java\"\n\t}\n}\n";
const char kUntitledConfig[] = "info { archive = app.jar }\n";

}  // namespace

// Start-up

TEST_F(LauncherFailure, AConfigurationBesideTheExecutableButNotInTheWorkingDirectoryIsNotFound)
{
    std::string app = dir + "\\app";
    ASSERT_TRUE(vmk::makeFolders(app) && vmk::makeFolders(dir + "\\elsewhere"));
    ASSERT_TRUE(CopyFileA(vmk::vmkickPath().c_str(), (app + "\\vmkick.exe").c_str(), FALSE));
    ASSERT_TRUE(vmk::writeFile(app + "\\vmkick.cfg", kTitledConfig));
    expectFatal("Cannot load file `vmkick.cfg'", "Error", "no-config", dir + "\\elsewhere", app + "\\vmkick.exe");
}

TEST_F(LauncherFailure, AnEmptyConfigurationFileCannotBeLoaded)
{
    writeConfig("");
    expectFatal("Cannot load file `vmkick.cfg'", "Error", "empty-config");
}

TEST_F(LauncherFailure, AnArchiveThatIsAbsentValuelessOrEmptyIsNotSet)
{
    writeConfig(" ");
    expectFatal("info.archive was not set", "Error", "archive-absent");
    writeConfig("info { title = \"Stargazer\" archive }");
    expectFatal("info.archive was not set", "Stargazer", "archive-valueless");
    writeConfig("info { title = \"Stargazer\" archive = \"\" }");
    expectFatal("info.archive was not set", "Stargazer", "archive-empty");
}

// The runtime search's reasons, each followed by the question

TEST_F(LauncherFailure, WithoutARuntimeListOrWithAnEmptyOneNoRuntimeIsFound)
{
    writeConfig(kUntitledConfig);
    expectOfferDeclined(kNotFound, "Error", "1.3.0", "this program", "no-runtime-list");
    ASSERT_TRUE(vmk::createRuntimeList());
    writeConfig(kTitledConfig);
    expectOfferDeclined(kNotFound, "Stargazer", "1.4.1_06", "Stargazer", "empty-runtime-list");
}

TEST_F(LauncherFailure, VersionKeysThatAreNotNumbersCountAsTheirLeadingDigits)
{
    writeConfig("info { archive = app.jar jvm { version { major = \"x1\" minor = \"5.9\" sub = \"2b\" } } }");
    ASSERT_TRUE(vmk::addRuntime("0.5.1", dir + "\\jre"));
    expectOfferDeclined(kTooOld, "Error", "0.5.2", "this program", "lenient-version");
}

TEST_F(LauncherFailure, RuntimesThatAreAllOlderThanRequiredAreReportedAsOlder)
{
    writeConfig(kTitledConfig);
    ASSERT_TRUE(vmk::addRuntime("1.3.1", dir + "\\old1") && vmk::addRuntime("1.4", dir + "\\old2"));
    ASSERT_TRUE(vmk::installRecorderRuntime(dir + "\\old2", true, false));
    expectOfferDeclined(kTooOld, "Stargazer", "1.4.1_06", "Stargazer", "runtime-older");
    EXPECT_FALSE(vmk::fileExists(dir + "\\old2\\bin\\javaw.exe.log"));

    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, vmk::kRuntimeListKey), ERROR_SUCCESS);
    ASSERT_TRUE(vmk::addRuntime("jre", dir + "\\old2"));
    writeConfig(kUntitledConfig);
    expectOfferDeclined(kTooOld, "Error", "1.3.0", "this program", "runtime-without-digits");
}

TEST_F(LauncherFailure, AChosenRuntimeWithoutOrWithAnOverlongJavaHomeIsDamaged)
{
    writeConfig(kTitledConfig);
    ASSERT_TRUE(vmk::addRuntime("1.5.0", "", true));
    expectOfferDeclined(kDamaged, "Stargazer", "1.4.1_06", "Stargazer", "runtime-without-home");

    // 260 bytes with the terminator still fit; one more does not.
    std::string fits = dir + "\\" + std::string(259 - dir.size() - 1, 'h');
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_TRUE(vmk::addRuntime("1.5.0", fits + "h"));
    expectOfferDeclined(kDamaged, "Stargazer", "1.4.1_06", "Stargazer", "runtime-long-home");
    ASSERT_TRUE(vmk::addRuntime("1.5.0", fits));
    expectOfferDeclined(kNotInstalled, "Stargazer", "1.4.1_06", "Stargazer", "runtime-longest-home");
}

TEST_F(LauncherFailure, AJavaHomeWithoutItsProgramsIsNotProperlyInstalled)
{
    writeConfig(kTitledConfig);
    ASSERT_TRUE(vmk::makeFolders(dir + "\\jre\\bin"));
    ASSERT_TRUE(vmk::writeFile(dir + "\\jre\\bin\\javaws.exe", "MZ"));
    ASSERT_TRUE(vmk::addRuntime("1.6.0_45", dir + "\\jre"));
    expectOfferDeclined(kNotInstalled, "Stargazer", "1.4.1_06", "Stargazer", "runtime-not-installed");
}

TEST_F(LauncherFailure, AVirtualMachineProgramThatCannotBeStartedIsReported)
{
    writeConfig(kTitledConfig);
    ASSERT_TRUE(vmk::makeFolders(dir + "\\jre\\bin"));
    ASSERT_TRUE(vmk::writeFile(dir + "\\jre\\bin\\javaw.exe", ""));  // opens, but runs as nothing
    ASSERT_TRUE(vmk::addRuntime("1.6.0_45", dir + "\\jre"));
    expectOfferDeclined(kLaunchFailed, "Stargazer", "1.4.1_06", "Stargazer", "runtime-cannot-start");
}

// Yes: the web browser

TEST_F(LauncherFailure, YesOpensTheBrowserMaximizedWithTheAddressAfterItsPlaceholder)
{
    writeConfig(kTitledConfig);
    Offer offer = runOffer("browser-started", IDYES);
    EXPECT_EQ(offer.reason.text, kNotFound);
    EXPECT_EQ(offer.question.text, question("1.4.1_06", "Stargazer"));
    EXPECT_EQ(ui::waitExit(offer.launcher), 0u);
    ui::closeProcess(offer.launcher);
    std::vector<vmk::RecorderRun> runs = vmk::waitForRecorderRuns(browser);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, "\"" + browser + "\" \"%1\" http://example.org/get-java");
    EXPECT_EQ(runs[0].show, SW_SHOWMAXIMIZED);
    EXPECT_EQ(runs[0].group, 1);
    EXPECT_EQ(runs[0].workingDir, dir);

    writeConfig(kUntitledConfig);
    offer = runOffer("browser-started-default-site", IDYES);
    EXPECT_EQ(ui::waitExit(offer.launcher), 0u);
    ui::closeProcess(offer.launcher);
    runs = vmk::waitForRecorderRuns(browser, 2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].commandLine, "\"" + browser + "\" \"%1\" https://www.java.com/download/");

    // No fixed limit: a registered command beyond 260 bytes and a question beyond 4096
    // arrive whole.
    const std::string options(300, 'o');
    const std::string title(5000, 't');
    ASSERT_TRUE(vmk::setBrowserCommand("\"" + browser + "\" -" + options));
    writeConfig("info { title = \"" + title + "\" archive = app.jar }");
    offer = runOffer("browser-long-command", IDYES);
    EXPECT_EQ(offer.question.text, question("1.3.0", title));
    EXPECT_EQ(ui::waitExit(offer.launcher), 0u);
    ui::closeProcess(offer.launcher);
    runs = vmk::waitForRecorderRuns(browser, 3);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].commandLine, "\"" + browser + "\" -" + options + " https://www.java.com/download/");
}

TEST_F(LauncherFailure, YesWithoutABrowserCommandIsFatal)
{
    writeConfig(kTitledConfig);
    struct Case {
        const char* shot;
        bool (*arrange)();
    } cases[] = {
        {"no-browser-key", [] { return vmk::removeBrowserAssociation(); }},
        {"no-browser-value", [] { return vmk::setBrowserKeyWithoutValue(); }},
        {"empty-browser-value", [] { return vmk::setBrowserCommand(""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shot);
        ASSERT_TRUE(c.arrange());
        Offer offer = runOffer(c.shot, IDYES);
        EXPECT_EQ(offer.question.text, question("1.4.1_06", "Stargazer"));
        vmk::MessageBoxSeen box = vmk::answerNextBox(offer.launcher, std::string("launcher-") + c.shot, IDOK);
        EXPECT_EQ(box.text, "Cannot find a web browser to use!");
        EXPECT_EQ(box.caption, "Stargazer");
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(box.buttons, kOk);
        EXPECT_EQ(ui::waitExit(offer.launcher), 1u);
        ui::closeProcess(offer.launcher);
    }
}

TEST_F(LauncherFailure, YesWithABrowserThatCannotStartShowsTheAddressToVisit)
{
    writeConfig(kUntitledConfig);
    ASSERT_TRUE(vmk::setBrowserCommand("\"" + dir + "\\missing\\browser.exe\" -url"));
    Offer offer = runOffer("browser-fails", IDYES);
    vmk::MessageBoxSeen box = vmk::answerNextBox(offer.launcher, "launcher-browser-fails", IDOK);
    EXPECT_EQ(box.text,
              "Failed to launch the web browser. Please visit the site manually:\n\n"
              "        https://www.java.com/download/\n");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(box.buttons, kOk);
    EXPECT_EQ(ui::waitExit(offer.launcher), 1u);
    ui::closeProcess(offer.launcher);
}
