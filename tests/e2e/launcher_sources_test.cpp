// vmkick under Wine in a 64-bit prefix, where it runs under WOW64 and reads HKLM\Software
// through Wow6432Node as on 64-bit Windows: every place its runtime search looks starts a
// runtime on its own, the order between the places, and the old reasons when there is
// nothing to start anywhere. Recorders stand in for javaw.exe.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

const char kNotFound[] = "The Java Runtime Environment was not found!";
const char kTooOld[] = "The installed Java Runtime Environment is older than the required version.";
const char kNotInstalled[] = "The available Java Runtime Environment is not properly installed!";
const char* const kVariables[] = {"JAVA_HOME", "JDK_HOME", "JRE_HOME"};
constexpr REGSAM k64 = KEY_WOW64_64KEY;
constexpr REGSAM kOwn = 0;

class LauncherSources : public ::testing::Test {
public:
    vmk::LauncherRegistryGuard registry;  // the launcher's own view
    std::string dir;
    std::string path = variable("PATH");

    ~LauncherSources() override { reset(); }

    static std::string variable(const char* name)
    {
        char value[32768] = {0};
        GetEnvironmentVariableA(name, value, sizeof value);
        return value;
    }

    // No runtime in either registry view or in the variables, the prefix's own PATH.
    void reset()
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
        HKEY software;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | k64, &software) == ERROR_SUCCESS) {
            RegDeleteTreeA(software, "JavaSoft");
            RegCloseKey(software);
        }
        for (const char* name : kVariables) SetEnvironmentVariableA(name, nullptr);
        SetEnvironmentVariableA("PATH", path.c_str());
    }

    std::string home(const std::string& folder) { return dir + "\\" + folder; }

    void configure(const std::string& runtimeFolder = std::string())
    {
        std::string quoted;
        for (char c : runtimeFolder) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
        ASSERT_TRUE(vmk::writeFile(dir + "\\vmkick.cfg",
                                   "info { archive = app.jar jvm { version { major = 1 minor = 8 } path = \"" +
                                       quoted + "\" } }"));
    }

    // A runtime in dir\folder whose release file names version; without its programs
    // when told.
    void runtime(const std::string& folder, const std::string& version, bool withProgram = true)
    {
        ASSERT_TRUE(withProgram ? vmk::installRecorderRuntime(home(folder), true, false) : vmk::makeFolders(home(folder)));
        ASSERT_TRUE(vmk::writeFile(home(folder) + "\\release", "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + version + "\"\n"));
    }

    // A runtime subkey of Software\JavaSoft\<list> in one registry view only.
    void listed(const std::string& list, const std::string& version, const std::string& folder, REGSAM view)
    {
        std::string key = "Software\\JavaSoft\\" + list + "\\" + version;
        HKEY created;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                  &created, nullptr), ERROR_SUCCESS);
        std::string value = home(folder);
        if (!folder.empty()) {
            RegSetValueExA(created, "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
        }
        RegCloseKey(created);
        HKEY own;
        bool seenInOwnView = RegOpenKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &own) == ERROR_SUCCESS;
        if (seenInOwnView) RegCloseKey(own);
        ASSERT_EQ(seenInOwnView, view == kOwn) << key;
    }

    void setVariable(const char* name, const std::string& value) { ASSERT_TRUE(SetEnvironmentVariableA(name, value.c_str())); }

    struct Case {
        const char* what;
        std::function<void(LauncherSources&)> arrange;
        const char* started;  // the runtime folder whose javaw.exe must start; or
        const char* reason;   // the reason shown when nothing starts
    };

    void check(const Case& c, int index)
    {
        SCOPED_TRACE(c.what);
        reset();
        dir = vmk::freshTestFolder("LauncherSources-" + std::to_string(index));
        configure();
        c.arrange(*this);
        ui::Process launcher;
        ASSERT_TRUE(vmk::startLauncher(dir, "", launcher));
        if (c.started != nullptr) {
            DWORD code = ui::waitExit(launcher);
            EXPECT_EQ(code, 0u);
            if (code == STILL_ACTIVE) ui::killProcess(launcher);  // a box nobody answers
            std::string javaw = home(c.started) + "\\bin\\javaw.exe";
            std::vector<vmk::RecorderRun> runs = vmk::waitForRecorderRuns(javaw);
            ASSERT_EQ(runs.size(), 1u);
            EXPECT_EQ(runs[0].commandLine, javaw + " -jar app.jar");
            EXPECT_EQ(runs[0].workingDir, dir);
        } else {
            vmk::MessageBoxSeen box = vmk::answerNextBox(launcher, "launcher-sources-" + std::to_string(index), IDOK);
            EXPECT_EQ(box.text, c.reason);
            vmk::MessageBoxSeen question = vmk::answerNextBox(launcher, "launcher-sources-question", IDNO);
            EXPECT_EQ(question.caption, "Get Java Runtime Environment");
            EXPECT_EQ(ui::waitExit(launcher), 0u);
        }
        ui::closeProcess(launcher);
        // Nothing else was started: each runtime is the only one of its folder name.
        for (const char* other : {"a", "b", "c"}) {
            if (c.started == nullptr || other != std::string(c.started)) {
                EXPECT_FALSE(vmk::fileExists(home(other) + "\\bin\\javaw.exe.log")) << other;
            }
        }
    }
};

using S = LauncherSources;

}  // namespace

TEST_F(LauncherSources, EachPlaceAloneStartsItsRuntime)
{
    const Case cases[] = {
        {"a runtime folder beside the application, of any version",
         [](S& s) { s.runtime("a", "1.6.0"); s.configure("a\\"); }, "a", nullptr},
        {"an absolute runtime folder", [](S& s) { s.runtime("a", "17"); s.configure(s.home("a")); }, "a", nullptr},
        {"the classic key, 64-bit view", [](S& s) { s.runtime("a", "-"); s.listed("Java Runtime Environment", "1.8.0_351", "a", k64); }, "a", nullptr},
        {"the development kit key, 64-bit view", [](S& s) { s.runtime("a", "-"); s.listed("Java Development Kit", "1.8", "a", k64); }, "a", nullptr},
        {"the development kit key, own view", [](S& s) { s.runtime("a", "-"); s.listed("Java Development Kit", "1.8", "a", kOwn); }, "a", nullptr},
        {"the JRE key, 64-bit view", [](S& s) { s.runtime("a", "-"); s.listed("JRE", "17.0.2", "a", k64); }, "a", nullptr},
        {"the JDK key, 64-bit view", [](S& s) { s.runtime("a", "-"); s.listed("JDK", "21", "a", k64); }, "a", nullptr},
        {"the JRE key, own view", [](S& s) { s.runtime("a", "-"); s.listed("JRE", "11.0.2", "a", kOwn); }, "a", nullptr},
        {"the JDK key, own view", [](S& s) { s.runtime("a", "-"); s.listed("JDK", "9.0.4", "a", kOwn); }, "a", nullptr},
        {"JAVA_HOME", [](S& s) { s.runtime("a", "17.0.2"); s.setVariable("JAVA_HOME", s.home("a") + "\\"); }, "a", nullptr},
        {"JDK_HOME", [](S& s) { s.runtime("a", "1.8.0_351"); s.setVariable("JDK_HOME", s.home("a")); }, "a", nullptr},
        {"JRE_HOME", [](S& s) { s.runtime("a", "11"); s.setVariable("JRE_HOME", s.home("a")); }, "a", nullptr},
        {"a bin folder on PATH, after entries that are empty, quoted or too long",
         [](S& s) {
             s.runtime("a", "17.0.2");
             s.setVariable("PATH", ";\"" + s.home("a") + "\\bin\";C:\\" + std::string(300, 'x') + "\\bin;" +
                                       s.home("a") + "\\bin;" + s.path);
         },
         "a", nullptr},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) check(cases[i], static_cast<int>(i));
}

TEST_F(LauncherSources, TheFirstPlaceWithARuntimeWinsThenTheNewestOrTheOldReasons)
{
    const Case cases[] = {
        {"a suitable classic key wins over a newer JDK key",
         [](S& s) {
             s.runtime("a", "-"), s.runtime("b", "-");
             s.listed("Java Runtime Environment", "1.8.0_351", "a", kOwn);
             s.listed("JDK", "21", "b", k64);
         },
         "a", nullptr},
        {"a runtime folder wins over a suitable classic key",
         [](S& s) {
             s.runtime("a", "1.8"), s.runtime("b", "-");
             s.configure("a");
             s.listed("Java Runtime Environment", "1.8.0_351", "b", kOwn);
         },
         "a", nullptr},
        {"a runtime folder without its programs falls through",
         [](S& s) {
             s.runtime("a", "21", false), s.runtime("b", "-");
             s.configure("a");
             s.listed("JDK", "17.0.2", "b", kOwn);
         },
         "b", nullptr},
        {"a classic key without a Java home lets the newest elsewhere start; a tie goes to the earlier place",
         [](S& s) {
             s.runtime("a", "11.0.2"), s.runtime("b", "17.0.2"), s.runtime("c", "17.0.2");
             s.listed("Java Runtime Environment", "1.8", "", kOwn);
             s.listed("JDK", "11.0.2", "a", k64);
             s.setVariable("JDK_HOME", s.home("b"));
             s.setVariable("PATH", s.home("c") + "\\bin;" + s.path);
         },
         "b", nullptr},
        {"nothing anywhere", [](S&) {}, nullptr, kNotFound},
        {"only older runtimes, and a variable without a release file",
         [](S& s) {
             s.runtime("a", "-"), s.runtime("b", "1.7.0_80");
             s.listed("Java Runtime Environment", "1.6.0_45", "a", kOwn);
             s.listed("JDK", "1.7.0_80", "b", k64);
             ASSERT_TRUE(DeleteFileA((s.home("b") + "\\release").c_str()));
             s.setVariable("JAVA_HOME", s.home("b"));
         },
         nullptr, kTooOld},
        {"a classic runtime without programs, and newer ones without them either",
         [](S& s) {
             s.runtime("a", "21", false);
             s.listed("Java Runtime Environment", "1.8", "a", kOwn);
             s.listed("JDK", "21", "a", k64);
             s.setVariable("JAVA_HOME", s.home("a"));
         },
         nullptr, kNotInstalled},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) check(cases[i], 100 + static_cast<int>(i));
}
