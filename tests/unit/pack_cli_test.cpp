// Tests of the wickerbay-pack command line: usage, the round trip build -> list -> verify ->
// extract, the default stub, and refusals and damaged files as the user meets them, with
// exit statuses and exact messages. Host only: it runs the real binary.
#include "tools/pack/pack.h"
#include "tests/unit/pack_test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace packtest;

std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

const std::string kStub = makeStub();

struct Outcome {
    int status;
    std::string out, err;
};

struct Cli : ::testing::Test {
    TempDir temp;
    fs::path dir = temp.path;
    std::string out = p("Setup.exe");  // what build writes

    void SetUp() override
    {
        writeFile(p("stub.exe"), kStub);
        writeFile(p("m/LICENSE.txt"), "Terms\nMore terms\n");
        writeFile(p("m/app/__uninst.exe"), "uninstaller");
        writeFile(p("m/app/vmkick.exe"), "launcher");
        writeFile(p("m/app/lib/hello.jar"), "jar bytes");
        writeFile(p("m/hello.cfg"), "package {\n"
                                    "  product = \"Hello\"  installDir = \"C:\\\\Program Files\\\\Hello\"\n"
                                    "  website = \"https://example.org/\"  publisher = \"Example\"\n"
                                    "  licence = \"LICENSE.txt\"  source = \"app\"\n"
                                    "  shortcut { link = \"$D\\\\Hello.lnk\"  target = \"C:\\\\Hello\\\\vmkick.exe\"\n"
                                    "             workingDir = \"C:\\\\Hello\"  description = \"Hello\" }\n"
                                    "}\n");
    }

    std::string p(const std::string& name) const { return (dir / name).string(); }

    Outcome run(const std::string& args, const std::string& program = WB_PACK_EXE)
    {
        std::string command = "cd " + quoted(dir.string()) + " && " + quoted(program) + " " + args + " >" +
                              quoted(p("stdout")) + " 2>" + quoted(p("stderr"));
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(p("stdout")), readFile(p("stderr"))};
    }

    Outcome build() { return run("build m/hello.cfg --stub stub.exe -o Setup.exe"); }

    // Refused with status 1 and this one line, leaving no output file behind.
    void expectRefused(const std::string& message)
    {
        Outcome r = build();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "wickerbay-pack: " + message + "\n");
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(out + ".wbpack-tmp"));
    }
};

TEST_F(Cli, UsageErrorsExitWithTwo)
{
    const std::string tryHelp = "Try 'wickerbay-pack --help'.\n";
    EXPECT_EQ(run("").err, "wickerbay-pack: no command given\n" + tryHelp);
    struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"pack x", "unknown command pack"},
        {"build m/hello.cfg -o", "-o needs a file name"},
        {"build m/hello.cfg --quiet", "unknown option --quiet"},
        {"extract a.exe", "extract needs an installer and a folder"},
        {"build m/hello.cfg -j", "-j needs a number of threads"},
        {"build m/hello.cfg -j 0", "-j takes a number of threads from 1 to 256, not '0'"},
        {"build m/hello.cfg -j 2x", "-j takes a number of threads from 1 to 256, not '2x'"},
        {"build m/hello.cfg -j 257", "-j takes a number of threads from 1 to 256, not '257'"},
        {"build m/hello.cfg -j0", "-j takes a number of threads from 1 to 256, not '0'"},
        {"build m/hello.cfg -jx", "-j takes a number of threads from 1 to 256, not 'x'"},
        {"build m/hello.cfg --sign-password-file pw", "--sign-password-file needs --sign"},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, std::string("wickerbay-pack: ") + c.message + "\n" + tryHelp);
    }
    Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, 56), "Usage: wickerbay-pack build MANIFEST [-o SETUP.EXE] [--s");
    EXPECT_EQ(run("build --help").out, help.out);
    EXPECT_EQ(run("verify -h").status, 0);
    Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "wickerbay-pack " WB_PROJECT_VERSION "\n");
}

TEST_F(Cli, BuildListVerifyExtractRoundTrip)
{
    Outcome b = build();
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err, "");
    EXPECT_EQ(b.out, "Setup.exe: 3 files, 1 directory, 1 shortcut, 28 bytes of files\n");
    std::string first = readFile(out);
    ASSERT_EQ(build().status, 0);
    EXPECT_TRUE(readFile(out) == first) << "the same inputs must give the same bytes";
    ASSERT_EQ(run("build m/hello.cfg --stub stub.exe -o Setup.exe -j 3").status, 0);
    EXPECT_TRUE(readFile(out) == first) << "nor may the thread count change them";
    ASSERT_EQ(run("build m/hello.cfg --stub stub.exe -o Setup.exe -j4").status, 0);
    EXPECT_TRUE(readFile(out) == first) << "-j4 is -j 4";

    Outcome list = run("list Setup.exe");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "Installer:        Setup.exe\n"
                        "Package offset:   135\n"
                        "Package length:   222, CRC-32 0D19D74E\n"
                        "Code page:        1252\n"
                        "Package total:    28\n"
                        "bzip2 block size: 9\n"
                        "Product:          Hello\n"
                        "Install dir:      C:\\Program Files\\Hello\n"
                        "Run command:      \n"
                        "Web address:      https://example.org/\n"
                        "Publisher:        Example\n"
                        "Licence text:     19 bytes\n"
                        "\n"
                        "Shortcuts: 1\n"
                        "   1  link:        $D\\Hello.lnk\n"
                        "      target:      C:\\Hello\\vmkick.exe\n"
                        "      working dir: C:\\Hello\n"
                        "      arguments:   \n"
                        "      description: Hello\n"
                        "\n"
                        "    Length  Name\n"
                        "----------  ----\n"
                        "        11  __uninst.exe\n"
                        "            lib/\n"
                        "         9  lib/hello.jar\n"
                        "         8  vmkick.exe\n"
                        "----------  -------\n"
                        "        28  3 files, 1 directory\n");

    Outcome verify = run("verify Setup.exe");
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.out, "Setup.exe: sound: 3 files, 1 directory, 1 shortcut, total 28 bytes\n");

    Outcome extract = run("extract Setup.exe out");
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.out, "Setup.exe: extracted 3 files and 1 directory into out\n");
    for (const char* name : {"__uninst.exe", "vmkick.exe", "lib/hello.jar"})
        EXPECT_EQ(readFile(p(std::string("out/") + name)), readFile(p(std::string("m/app/") + name))) << name;
}

TEST_F(Cli, DefaultStubIsTheWickerbayExeBesideTheProgram)
{
    fs::create_directories(p("dist"));
    fs::copy_file(WB_PACK_EXE, p("dist/wickerbay-pack"));
    writeFile(p("dist/Wickerbay.exe"), kStub);
    Outcome r = run("build m/hello.cfg", p("dist/wickerbay-pack"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(out).substr(0, 110), kStub.substr(0, 110));

    fs::remove(p("dist/Wickerbay.exe"));
    fs::remove(out);
    r = run("build m/hello.cfg", p("dist/wickerbay-pack"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "wickerbay-pack: stub " + p("dist/Wickerbay.exe") + ": cannot open: No such file or directory\n");
    EXPECT_FALSE(fs::exists(out));
}

// Sets the process's umask, which the programs it starts inherit, until it goes.
struct UmaskScope {
    mode_t before;
    explicit UmaskScope(mode_t mask) : before(::umask(mask)) {}
    ~UmaskScope() { ::umask(before); }
};

unsigned modeOf(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0xFFFFFFFFu;
}

// The installer is a program like its stub, so it is marked executable when the stub is:
// it takes the stub's permission bits, less the umask as any new file, whatever an older
// output file or a temporary file left by an interrupted build had.
TEST_F(Cli, TheInstallerTakesTheStubsPermissionBits)
{
    writeFile(out, "older installer");
    ASSERT_EQ(::chmod(out.c_str(), 0600), 0);
    writeFile(out + ".wbpack-tmp", "left by an interrupted build");
    ASSERT_EQ(::chmod((out + ".wbpack-tmp").c_str(), 0600), 0);
    const struct {
        unsigned stub, umask, installer;
    } cases[] = {{0755, 022, 0755}, {0750, 022, 0750}, {0644, 022, 0644}, {04755, 022, 0755}, {0775, 077, 0700}};
    for (const auto& c : cases) {
        char label[32];
        std::snprintf(label, sizeof label, "stub %04o, umask %03o", c.stub, c.umask);
        SCOPED_TRACE(label);
        ASSERT_EQ(::chmod(p("stub.exe").c_str(), c.stub), 0);
        UmaskScope mask(c.umask);
        Outcome r = build();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(modeOf(out), c.installer);
        EXPECT_FALSE(fs::exists(out + ".wbpack-tmp"));
    }

    // Made without a stub file, as the tests make theirs, an installer is executable too.
    UmaskScope mask(022);
    fs::remove(out);
    std::string error;
    ASSERT_TRUE(wbpack::writeRawInstaller(kStub, 0, wbpack::encodeHeader({"P", "C:\\A", "", "", "", ""}, {}), out,
                                          error))
        << error;
    EXPECT_EQ(modeOf(out), 0755u);
}

// The refusals that only a manifest and a real folder reach; the library's tests hold
// the rest.
TEST_F(Cli, RefusalsWriteNoOutputFile)
{
    writeFile(p("m/LICENSE.txt"), std::string(65000, 'x') + std::string(600, '\n'));
    expectRefused("m/LICENSE.txt: the licence text is 66200 bytes in code page 1252 with CR LF line ends; a package "
                  "string holds at most 65535");
    writeFile(p("m/LICENSE.txt"), std::string("MZ\0\0", 4));
    expectRefused("m/hello.cfg: package: licence \"LICENSE.txt\": m/LICENSE.txt: the licence text holds a zero byte; "
                  "is it a plain text file?");
    writeFile(p("m/LICENSE.txt"), "Terms\n");

    // A sparse file: its size is refused before a byte of it is read.
    std::ofstream(p("m/app/big")).close();
    fs::resize_file(p("m/app/big"), 0x100000000ull);
    expectRefused("m/app/big: 4294967296 bytes; a file in a package holds at most 4294967295");
    fs::remove(p("m/app/big"));

    writeFile(p("m/app/\u4e2d.txt"), "x");
    expectRefused("m/app/\u4e2d.txt: the name holds the character \"\u4e2d\" (U+4E2D) at byte 1, which code page "
                  "1252 lacks");
}

TEST_F(Cli, NamesOutsideAsciiAreListedAndExtractedInUtf8Again)
{
    writeFile(p("m/app/lib/Caf\u00e9 Cr\u00e8me.txt"), "cr\u00e8me");
    ASSERT_EQ(build().status, 0);
    Outcome list = run("list Setup.exe");
    EXPECT_NE(list.out.find("\n         6  lib/Caf\u00e9 Cr\u00e8me.txt\n"), std::string::npos) << list.out;
    ASSERT_EQ(run("extract Setup.exe out").status, 0);
    EXPECT_EQ(readFile(p("out/lib/Caf\u00e9 Cr\u00e8me.txt")), "cr\u00e8me");
}

TEST_F(Cli, WarningsGoToStderrAndStrictMakesThemErrors)
{
    fs::remove(p("m/app/__uninst.exe"));
    writeFile(p("m/app/vmkick.cfg"), "info { archive = \"hello.jar\" }\n");
    const std::string warnings = ": no __uninst.exe at the top of the package: the installed program cannot be "
                                 "removed\n";
    const std::string archive = ": vmkick.cfg: info.archive \"hello.jar\" names no file beside it\n";
    Outcome r = build();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "wickerbay-pack: warning" + archive + "wickerbay-pack: warning" + warnings);
    EXPECT_TRUE(fs::exists(out));

    fs::remove(out);
    r = run("build m/hello.cfg --stub stub.exe --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wickerbay-pack: error" + archive + "wickerbay-pack: error" + warnings +
                         "wickerbay-pack: --strict: 2 warnings, nothing written\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Cli, SigningFailuresLeaveNoOutputFile)
{
    Outcome r = run("build m/hello.cfg --stub stub.exe --sign missing.p12");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "wickerbay-pack: missing.p12: cannot read: No such file or directory\n");
    writeFile(p("garbage.p12"), "not a certificate");
    r = run("build m/hello.cfg --stub stub.exe --sign garbage.p12");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string last = "wickerbay-pack: osslsigncode could not sign Setup.exe with garbage.p12 (see its message "
                             "above)\n";
    ASSERT_GE(r.err.size(), last.size());
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last);
    for (const char* left : {"Setup.exe", "Setup.exe.unsigned.wbpack-tmp", "Setup.exe.signed.wbpack-tmp"})
        EXPECT_FALSE(fs::exists(p(left))) << left;
}

TEST_F(Cli, VerifyAndExtractReportEachProblemAndFail)
{
    ASSERT_EQ(build().status, 0);
    std::string file = readFile(out);
    writeFile(out, file.substr(0, 135) + "\x1d" + file.substr(136));
    Outcome r = run("verify Setup.exe");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wickerbay-pack: Setup.exe: the package total 29 differs from the sum of the file sizes, 28\n"
                     "wickerbay-pack: Setup.exe: the package's CRC-32 is 774CEEDA, its record says 0D19D74E: the "
                     "installer is damaged\n");

    std::string error;
    ASSERT_TRUE(wbpack::writeRawInstaller(kStub, 1,
                                          wbpack::encodeHeader({"P", "C:\\A", "", "", "", ""}, {}) +
                                              wbpack::encodeFileEntry("..", "x"),
                                          out, error))
        << error;
    r = run("extract Setup.exe out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "wickerbay-pack: Setup.exe: unsafe entry name \"..\" at the top level: a name must be a single "
                     "path component (no \\ / or :), not a device name such as CON, NUL, COM1 or LPT1, and not end "
                     "in a dot or a blank\n"
                     "wickerbay-pack: Setup.exe: extraction stopped at the unsafe name\n");
    EXPECT_TRUE(fs::is_empty(p("out")));
    EXPECT_EQ(run("verify missing.exe").err, "wickerbay-pack: missing.exe: cannot open: No such file or directory\n");
}

}  // namespace
