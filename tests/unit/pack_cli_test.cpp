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
#include <tuple>
#include <vector>

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
                        "Package offset:   167\n"
                        "Package length:   222, CRC-32 0D19D74E\n"
                        "Package SHA-256:  22f210db0f5974c3598fb898d920b2ba967f79c55d90bc6fda09c4b55bd9f5fc\n"
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
    // A link someone planted where a fixed-name temporary file would go is not touched.
    writeFile(p("victim"), "theirs");
    fs::create_symlink(p("victim"), p("Setup.exe.signed.wbpack-tmp"));
    r = run("build m/hello.cfg --stub stub.exe --sign garbage.p12");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string last = "wickerbay-pack: osslsigncode could not sign Setup.exe with garbage.p12 (see its message "
                             "above)\n";
    ASSERT_GE(r.err.size(), last.size());
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last);
    // Nothing of the installer is left, its temporary file and signing folder (named at
    // random) included.
    for (const auto& e : fs::directory_iterator(p("."))) {
        std::string name = e.path().filename().string();
        if (name != "Setup.exe.signed.wbpack-tmp") EXPECT_NE(name.rfind("Setup.exe", 0), 0u) << e.path();
    }
    EXPECT_TRUE(fs::is_symlink(p("Setup.exe.signed.wbpack-tmp")));
    EXPECT_EQ(readFile(p("victim")), "theirs");
}

TEST_F(Cli, VerifyAndExtractReportEachProblemAndFail)
{
    ASSERT_EQ(build().status, 0);
    std::string file = readFile(out);
    writeFile(out, file.substr(0, kStub.size()) + "\x1d" + file.substr(kStub.size() + 1));
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

// A zip as a jar tool writes it: each entry stored or deflated (given as raw deflate
// bytes), a central directory, its end record. CRCs are left 0: nothing here reads them.
std::string zipOf(const std::vector<std::tuple<std::string, std::string, int, std::size_t>>& entries)
{
    auto u16 = [](std::size_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; };
    std::string local, central;
    for (const auto& [name, data, method, size] : entries) {
        std::string sizes = wbpack::encodeU32(static_cast<std::uint32_t>(data.size())) +
                            wbpack::encodeU32(static_cast<std::uint32_t>(size));
        central += "PK\x01\x02" + u16(20) + u16(20) + u16(0) + u16(method) + std::string(8, '\0') + sizes +
                   u16(name.size()) + std::string(12, '\0') + wbpack::encodeU32(static_cast<std::uint32_t>(local.size())) +
                   name;
        local += "PK\x03\x04" + u16(20) + u16(0) + u16(method) + std::string(8, '\0') + sizes + u16(name.size()) + u16(0) +
                 name + data;
    }
    return local + central + "PK\x05\x06" + std::string(4, '\0') + u16(entries.size()) + u16(entries.size()) +
           wbpack::encodeU32(static_cast<std::uint32_t>(central.size())) +
           wbpack::encodeU32(static_cast<std::uint32_t>(local.size())) + u16(0);
}

// A class file of version 55 (Java 11), deflated with fixed codes: 368 bytes in all.
const unsigned char kDeflatedClass[] = {
    0x3B, 0xF5, 0x6F, 0xD7, 0x3E, 0x06, 0x06, 0x06, 0x73, 0x06, 0x76, 0x3E, 0x51, 0x19, 0x65, 0x2D, 0x43, 0x0B, 0x7B, 0x37,
    0xDF, 0x90, 0x98, 0xE4, 0xAC, 0xC2, 0x8A, 0xFA, 0xB6, 0xDE, 0x29, 0xB3, 0x17, 0xAD, 0xDC, 0xB0, 0x63, 0xFF, 0xB1, 0xB3,
    0x57, 0x6E, 0x3F, 0x7A, 0xF9, 0xE1, 0x3B, 0x33, 0x97, 0xA0, 0xA4, 0x82, 0xBA, 0x9E, 0xA9, 0x8D, 0xB3, 0x57, 0x60, 0x44,
    0x7C, 0x5A, 0x6E, 0x69, 0x4D, 0x73, 0xD7, 0xC4, 0x19, 0xF3, 0x97, 0xAD, 0xDD, 0xB2, 0xFB, 0xD0, 0xC9, 0x8B, 0x37, 0xEE,
    0x3F, 0x7B, 0xFB, 0x05, 0x6A, 0x8C, 0x91, 0xA5, 0x83, 0xBB, 0x5F, 0x28, 0xD4, 0x98, 0xBE, 0xA9, 0x73, 0x16, 0xAF, 0xDA,
    0x08, 0x35, 0xE6, 0xD5, 0xC7, 0x1F, 0x2C, 0xDC, 0x42, 0x50, 0x63, 0xBC, 0x83, 0x22, 0x47, 0x9A, 0xBD, 0x00};

// One command from a jar to an installer, and --emit for the same result in two.
TEST_F(Cli, AppMakesTheInstallerFromAJarOrEmitsItsFolderAndManifest)
{
    const std::string manifest = "Manifest-Version: 1.0\r\nMain-Class: Hello\r\n";
    const std::string deflated(reinterpret_cast<const char*>(kDeflatedClass), sizeof kDeflatedClass);
    writeFile(p("hello.jar"), zipOf({{"META-INF/MANIFEST.MF", manifest, 0, manifest.size()},
                                     {"Old.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x34", 8), 0, 8},
                                     {"Hello.class", deflated, 8, 368},
                                     {"META-INF/versions/21/Hello.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x41", 8), 0, 8}}));
    writeFile(p("vmkick.exe"), "launcher");
    writeFile(p("__uninst.exe"), "uninstaller");
    const std::string args = "--jar hello.jar --name Hello --publisher Example --version 1.2 --licence m/LICENSE.txt "
                             "--resources m/app/lib --website https://example.org/ --stub stub.exe";
    const std::string cfg11 =
        "#\n# vmkick configuration of Hello, written by wickerbay-pack app\n#\n\ninfo {\n\ttitle = \"Hello\"\n"
        "\tarchive = \"hello.jar\"\n\tjvm {\n\t\tversion { major = \"11\" minor = \"0\" sub = \"0\" update = \"0\" }\n"
        "\t\twebsite = \"https://www.java.com/download/\"\n\t}\n}\n";
    Outcome r = run("app " + args + " -o Setup.exe");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Hello: Java 11 or newer (class file version 55, Hello.class)\n"
                     "Hello: installs into C:\\Program Files\\Hello, shortcuts on the desktop and in Example\\Hello\n"
                     "Setup.exe: 5 files, 1 directory, 5 shortcuts, " +
                         std::to_string(readFile(p("hello.jar")).size() + 8 + 11 + 9 + cfg11.size()) +
                         " bytes of files\n");

    // --emit: the folder and the manifest, which build turns into the same bytes.
    r = run("app " + args + " --emit e");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(p("e/app/vmkick.cfg")), cfg11);
    EXPECT_EQ(readFile(p("e/app/lib/hello.jar")), "jar bytes");
    std::string installer = readFile(out);
    ASSERT_EQ(run("build e/package.cfg --stub stub.exe -o Setup.exe").status, 0);
    EXPECT_TRUE(readFile(out) == installer);
    wbpack::PackageSpec package;
    std::string error;
    ASSERT_TRUE(wbpack::loadPackageSpec(p("e/package.cfg"), package, error)) << error;
    EXPECT_EQ(package.header.productName, "Hello 1.2");
    EXPECT_EQ(package.header.runCommand, "\"C:\\Program Files\\Hello\\vmkick.exe\"");
    EXPECT_EQ(package.header.licenceText, "Terms\r\nMore terms\r\n");
    ASSERT_EQ(package.shortcuts.size(), 5u);
    EXPECT_EQ(package.shortcuts[0].linkPath, "$D\\Hello.lnk");
    EXPECT_EQ(package.shortcuts[0].workingDir, "C:\\Program Files\\Hello");
    EXPECT_EQ(package.shortcuts[3].linkPath, "$P\\Example\\Hello\\Uninstall Hello.lnk");
    EXPECT_EQ(package.shortcuts[3].target, "C:\\Program Files\\Hello\\__uninst.exe");
    EXPECT_EQ(wbpack::findPackageWarnings(package), std::vector<std::string>{});

    // --java overrides the class files; --runtime is named in vmkick.cfg.
    writeFile(p("jre/bin/javaw.exe"), "javaw");
    ASSERT_EQ(run("app --jar hello.jar --name Hello --java 1.4.1 --runtime jre --stub stub.exe --emit f").status, 0);
    std::string cfg = readFile(p("f/app/vmkick.cfg"));
    EXPECT_NE(cfg.find("version { major = \"1\" minor = \"4\" sub = \"1\" update = \"0\" }\n\t\tpath = \"runtime\"\n"),
              std::string::npos);
    EXPECT_EQ(readFile(p("f/app/runtime/bin/javaw.exe")), "javaw");

    // --per-user: below the user's own programs folder, every path with it.
    ASSERT_EQ(run("app --jar hello.jar --name Hello --java 11 --per-user --stub stub.exe --emit g").status, 0);
    wbpack::PackageSpec perUser;
    ASSERT_TRUE(wbpack::loadPackageSpec(p("g/package.cfg"), perUser, error)) << error;
    EXPECT_EQ(perUser.header.installDir, "$L\\Programs\\Hello");
    EXPECT_EQ(perUser.header.runCommand, "\"$L\\Programs\\Hello\\vmkick.exe\"");
    EXPECT_EQ(perUser.shortcuts[1].target, "$L\\Programs\\Hello\\vmkick.exe");
    EXPECT_EQ(perUser.shortcuts[1].workingDir, "$L\\Programs\\Hello");
    EXPECT_TRUE(wbpack::checkPerUserPackage(perUser, error)) << error;

    // Refusals, each with its one line.
    struct {
        std::string args, err;
        int status;
    } refusals[] = {
        {"--jar hello.jar --name a/b", "--name \"a/b\" cannot be a folder name on Windows: " + std::string(
             "a name must be a single path component (no \\ / or :), not a device name such as CON, NUL, COM1 or LPT1, "
             "and not end in a dot or a blank; Windows allows no <>\"|?* or control characters in file names"), 1},
        {"--jar hello.jar --name H --java 1.x", "--java \"1.x\" is not a Java version such as 8, 1.8 or 17", 1},
        {"--jar m/LICENSE.txt --name H", "m/LICENSE.txt: not a jar (no readable zip directory)", 1},
        {"--jar none.jar --name H", "none.jar does not exist", 1},
        {"--jar hello.jar --name H --emit e", "e: not an empty folder; the application folder is written only into "
                                              "an empty or new one", 1},
        {"--jar hello.jar", "app needs --name\nTry 'wickerbay-pack --help'.", 2},
        {"--jar hello.jar --name H --per-user", "stub: the stub's manifest does not ask for administrator rights "
                                                "exactly once, so it cannot be made into a per-user installer; use an "
                                                "installer stub built with this version", 1},
    };
    for (const auto& c : refusals) {
        r = run("app " + c.args + " --stub stub.exe");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err, "wickerbay-pack: " + c.err + "\n");
    }
    writeFile(p("nomain.jar"), zipOf({{"A.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x34", 8), 0, 8}}));
    EXPECT_EQ(run("app --jar nomain.jar --name H --stub stub.exe").err,
              "wickerbay-pack: nomain.jar: its manifest names no Main-Class, which java -jar needs to start it\n");
}

// The oldest Java is that of the newest class file: the release that first reads each
// major version, and a real jar as the host's JDK writes it, whose classes are deflated
// with dynamic Huffman codes (the hand-made jars above use stored data or fixed codes).
TEST(Jar, TheOldestJavaIsTheNewestClassFilesRelease)
{
    const struct {
        int major;
        const char* java;
    } releases[] = {{45, "1.1"}, {48, "1.4"}, {49, "1.5"}, {52, "1.8"}, {53, "9"}, {61, "17"}, {65, "21"}};
    for (const auto& r : releases) EXPECT_EQ(wbpack::javaVersionOfClassMajor(r.major), r.java) << r.major;

    // The example's jar: javac --release 8 writes class files of version 52.
    wbpack::JarFacts facts;
    std::string error;
    ASSERT_TRUE(wbpack::readJarFacts(WB_DIST_DIR "/hello.jar", facts, error)) << error;
    EXPECT_EQ(facts.classMajor, 52);
    EXPECT_TRUE(facts.hasMainClass);
    EXPECT_EQ(facts.newestClass.compare(0, 5, "Hello"), 0) << facts.newestClass;
}

}  // namespace
