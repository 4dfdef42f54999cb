// vmkick under Wine in a 64-bit prefix, where it runs under WOW64 and reads HKLM\Software
// through Wow6432Node as on 64-bit Windows: every place its runtime search looks starts a
// runtime on its own, the order between the places, and the old reasons when there is
// nothing to start anywhere. Recorders stand in for javaw.exe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/launcher_fixtures.h"
#include "tests/support/ui_driver.h"

namespace {

const char kNotFound[] = "The Java Runtime Environment was not found!";
const char kTooOld[] = "The installed Java Runtime Environment is older than the required version.";
const char kNotInstalled[] = "The available Java Runtime Environment is not properly installed!";

// A runtime in folder a, b or c of the test, put where the launcher may find it: "cfg" or
// "cfg-abs" (info.jvm.path, relative or absolute), "<list>|64" or "<list>|own" (a subkey of
// Software\JavaSoft\<list> named by the version, in one registry view), a variable, or
// "PATH". The places outside the registry get a release file naming the version, unless
// it is empty. Folder 0 registers a subkey without a Java home.
struct Place {
    std::string where;
    const char* version;
    char folder;
    bool withProgram = true;
};

struct Case {
    std::vector<Place> places;
    char started;          // the folder whose javaw.exe must start, or 0 and
    const char* reason;    // the reason shown when nothing starts
};

class LauncherSources : public ::testing::Test {
protected:
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
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &software) ==
            ERROR_SUCCESS) {
            RegDeleteTreeA(software, "JavaSoft");
            RegCloseKey(software);
        }
        for (const char* name : {"JAVA_HOME", "JDK_HOME", "JRE_HOME"}) SetEnvironmentVariableA(name, nullptr);
        SetEnvironmentVariableA("PATH", path.c_str());
    }

    std::string home(char folder) { return dir + "\\" + folder; }

    void configure(const std::string& runtimeFolder)
    {
        std::string quoted;
        for (char c : runtimeFolder) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
        ASSERT_TRUE(vmk::writeFile(dir + "\\vmkick.cfg", "info { archive = app.jar jvm { version { major = 1 minor = 8 } "
                                                         "path = \"" + quoted + "\" } }"));
    }

    void place(const Place& p)
    {
        std::string folder = p.folder ? home(p.folder) : std::string();
        if (p.folder) {
            ASSERT_TRUE(p.withProgram ? vmk::installRecorderRuntime(folder, true, false) : vmk::makeFolders(folder));
        }
        size_t bar = p.where.find('|');
        if (bar != std::string::npos) {
            std::string key = "Software\\JavaSoft\\" + p.where.substr(0, bar) + "\\" + p.version;
            REGSAM view = p.where.substr(bar + 1) == "64" ? KEY_WOW64_64KEY : 0;
            HKEY created;
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                      &created, nullptr), ERROR_SUCCESS);
            if (p.folder) {
                RegSetValueExA(created, "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                               static_cast<DWORD>(folder.size() + 1));
            }
            RegCloseKey(created);
            // Written in one view only: the other does not show it.
            HKEY own;
            bool inOwnView = RegOpenKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &own) == ERROR_SUCCESS;
            if (inOwnView) RegCloseKey(own);
            ASSERT_EQ(inOwnView, view == 0) << key;
            return;
        }
        if (p.version[0] != '\0') {
            ASSERT_TRUE(vmk::writeFile(folder + "\\release", "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + std::string(p.version) + "\"\n"));
        }
        if (p.where == "cfg") return configure(std::string(1, p.folder) + "\\");
        if (p.where == "cfg-abs") return configure(folder);
        // Skipped before the runtime's bin folder: an empty entry, a quoted one, one too long.
        std::string value = p.where == "PATH" ? ";\"" + folder + "\\bin\";C:\\" + std::string(300, 'x') + "\\bin;" +
                                                    folder + "\\bin;" + path
                                              : folder + "\\";
        ASSERT_TRUE(SetEnvironmentVariableA(p.where.c_str(), value.c_str()));
    }

    void check(const std::vector<Case>& cases)
    {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            SCOPED_TRACE(std::string(c.places.empty() ? "nothing" : c.places[0].where) + ", case " + std::to_string(i));
            reset();
            dir = vmk::freshTestFolder(std::string("LauncherSources-") + (c.started ? "start-" : "none-") + std::to_string(i));
            configure("");
            for (const Place& p : c.places) place(p);
            ui::Process launcher;
            ASSERT_TRUE(vmk::startLauncher(dir, "", launcher));
            if (c.started) {
                DWORD code = ui::waitExit(launcher);
                EXPECT_EQ(code, 0u);
                if (code == STILL_ACTIVE) ui::killProcess(launcher);  // a box nobody answers
                std::string javaw = home(c.started) + "\\bin\\javaw.exe";
                std::vector<vmk::RecorderRun> runs = vmk::waitForRecorderRuns(javaw);
                EXPECT_EQ(runs.size(), 1u);  // and the next cases still run
                EXPECT_EQ(runs.empty() ? std::string() : runs[0].commandLine, javaw + " -jar app.jar");
            } else {
                EXPECT_EQ(vmk::answerNextBox(launcher, "launcher-sources-reason", IDOK).text, c.reason);
                EXPECT_EQ(vmk::answerNextBox(launcher, "launcher-sources-question", IDNO).caption,
                          "Get Java Runtime Environment");
                EXPECT_EQ(ui::waitExit(launcher), 0u);
            }
            ui::closeProcess(launcher);
            for (char other : {'a', 'b', 'c'}) {
                EXPECT_TRUE(other == c.started || !vmk::fileExists(home(other) + "\\bin\\javaw.exe.log")) << other;
            }
        }
    }
};

}  // namespace

TEST_F(LauncherSources, EachPlaceAloneStartsItsRuntime)
{
    check({
        {{{"cfg", "1.6.0", 'a'}}, 'a', nullptr},  // a shipped runtime's version is not checked
        {{{"cfg-abs", "17", 'a'}}, 'a', nullptr},
        {{{"Java Runtime Environment|64", "1.8.0_351", 'a'}}, 'a', nullptr},
        {{{"Java Development Kit|64", "1.8", 'a'}}, 'a', nullptr},
        {{{"Java Development Kit|own", "1.8", 'a'}}, 'a', nullptr},
        {{{"JRE|64", "17.0.2", 'a'}}, 'a', nullptr},
        {{{"JDK|64", "21", 'a'}}, 'a', nullptr},
        {{{"JRE|own", "11.0.2", 'a'}}, 'a', nullptr},
        {{{"JDK|own", "9.0.4", 'a'}}, 'a', nullptr},
        {{{"JAVA_HOME", "17.0.2", 'a'}}, 'a', nullptr},
        {{{"JDK_HOME", "1.8.0_351", 'a'}}, 'a', nullptr},
        {{{"JRE_HOME", "11", 'a'}}, 'a', nullptr},
        {{{"PATH", "17.0.2", 'a'}}, 'a', nullptr},
    });
}

TEST_F(LauncherSources, TheFirstPlaceWithARuntimeWinsThenTheNewestOrTheOldReasons)
{
    check({
        // A suitable classic key wins over a newer JDK key; a shipped runtime over both.
        {{{"Java Runtime Environment|own", "1.8.0_351", 'a'}, {"JDK|64", "21", 'b'}}, 'a', nullptr},
        {{{"cfg", "1.8", 'a'}, {"Java Runtime Environment|own", "1.8.0_351", 'b'}}, 'a', nullptr},
        // A shipped folder without its programs falls through.
        {{{"cfg", "21", 'a', false}, {"JDK|own", "17.0.2", 'b'}}, 'b', nullptr},
        // A classic key without a Java home: the newest elsewhere; a tie to the earlier place.
        {{{"Java Runtime Environment|own", "1.8", 0}, {"JDK|64", "11.0.2", 'a'}, {"JDK_HOME", "17.0.2", 'b'},
          {"PATH", "17.0.2", 'c'}}, 'b', nullptr},
        {{}, 0, kNotFound},
        // Only older runtimes, and a variable whose home has no release file.
        {{{"Java Runtime Environment|own", "1.6.0_45", 'a'}, {"JDK|64", "1.7.0_80", 'b'}, {"JAVA_HOME", "", 'c'}},
         0, kTooOld},
        {{{"Java Runtime Environment|own", "1.8", 'a', false}, {"JDK|64", "21", 'a', false}, {"JAVA_HOME", "21", 'a', false}},
         0, kNotInstalled},
    });
}
