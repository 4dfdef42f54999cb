// wickerbay-pack: builds an installer from a manifest and a folder, and lists, verifies
// or unpacks one. Exit status 0 on success, 1 on a failure, 2 on a usage error.
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/package_format.h"
#include "tools/pack/pack.h"
#include "tools/pack/signing.h"

namespace fs = std::filesystem;

#ifndef WB_VERSION
#define WB_VERSION "unknown"
#endif

namespace {

const char kProgram[] = "wickerbay-pack";

const char kHelp[] =
    "Usage: wickerbay-pack build MANIFEST [-o SETUP.EXE] [--stub STUB.EXE] [-j N] [--strict]\n"
    "                            [--sign PKCS12 [--sign-password-file FILE]]\n"
    "       wickerbay-pack app --jar JAR --name NAME [--publisher NAME] [--version TEXT]\n"
    "                          [--java VERSION] [--runtime DIR] [--licence FILE] [--resources DIR]\n"
    "                          [--website URL] [--per-user] [--emit DIR | -o SETUP.EXE] [--stub STUB.EXE]\n"
    "                          [-j N] [--strict] [--sign PKCS12 [--sign-password-file FILE]]\n"
    "       wickerbay-pack list SETUP.EXE\n"
    "       wickerbay-pack verify SETUP.EXE\n"
    "       wickerbay-pack extract SETUP.EXE DIR\n"
    "       wickerbay-pack --help | --version\n"
    "\n"
    "build    writes the installer: the stub, then the package made from the manifest's\n"
    "         header fields, shortcuts and source folder. The output defaults to\n"
    "         Setup.exe, the stub to the Wickerbay.exe beside this program.\n"
    "         -j N compresses on N threads (default: one per core); the installer's\n"
    "         bytes are the same for any N.\n"
    "         Warnings about likely mistakes go to stderr; --strict makes them errors.\n"
    "         --sign signs the installer with osslsigncode and the PKCS#12 file.\n"
    "app      makes an installer from a jar in one step: the application folder with\n"
    "         vmkick.exe, __uninst.exe (both taken from beside the stub) and vmkick.cfg,\n"
    "         a manifest with desktop and programs-menu shortcuts, then build. The oldest\n"
    "         Java is read from the jar's class files unless --java gives it. --emit DIR\n"
    "         writes the folder and package.cfg into DIR instead, to edit and build.\n"
    "list     prints the header, the shortcut table and the entry tree with sizes.\n"
    "verify   reads the whole package and checks it; one line per problem found.\n"
    "extract  recreates the entry tree in DIR, which must be empty or new.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

int usageError(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, message.c_str(), kProgram);
    return 2;
}

int failure(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

int reportProblems(const std::string& path, const std::vector<std::string>& problems)
{
    for (const std::string& p : problems) std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), p.c_str());
    return 1;
}

std::string plural(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ---- build --------------------------------------------------------------------------

// Builds small enough to finish at once draw no bar.
constexpr std::uint64_t kProgressThreshold = 16u << 20;

struct ProgressBar {
    int shownPercent = -1;
};

void drawProgressBar(std::uint64_t done, std::uint64_t total, void* context)
{
    ProgressBar& bar = *static_cast<ProgressBar*>(context);
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent == bar.shownPercent) return;
    bar.shownPercent = percent;
    const int width = 40;
    int filled = percent * width / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                 percent);
    std::fflush(stderr);
}

std::string defaultStubPath(const char* argv0)
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) self = fs::path(argv0);
    return (self.parent_path() / "Wickerbay.exe").string();
}

// 1 to 256 in plain decimal digits.
bool parseThreadCount(const std::string& text, unsigned& threads)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    threads = static_cast<unsigned>(std::stoul(text));
    return threads >= 1 && threads <= 256;
}

int runBuild(const std::vector<std::string>& args, const char* argv0)
{
    std::string manifest, outPath = "Setup.exe", stubPath;
    unsigned threads = 0;
    wbpack::SigningKey key;
    bool strict = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--stub" || a == "--sign" || a == "--sign-password-file") {
            if (i + 1 == args.size()) return usageError(a + " needs a file name");
            (a == "-o" ? outPath : a == "--stub" ? stubPath : a == "--sign" ? key.pkcs12 : key.passwordFile) = args[++i];
        } else if (a.compare(0, 2, "-j") == 0) {
            // -j4 as make takes it, or -j 4.
            if (a == "-j" && i + 1 == args.size()) return usageError("-j needs a number of threads");
            std::string count = a == "-j" ? args[++i] : a.substr(2);
            if (!parseThreadCount(count, threads))
                return usageError("-j takes a number of threads from 1 to 256, not '" + count + "'");
        } else if (a == "--strict") {
            strict = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (manifest.empty()) {
            manifest = a;
        } else {
            return usageError("build takes one manifest");
        }
    }
    if (manifest.empty()) return usageError("build needs a manifest");
    if (!key.passwordFile.empty() && key.pkcs12.empty()) return usageError("--sign-password-file needs --sign");
    if (stubPath.empty()) stubPath = defaultStubPath(argv0);

    std::string error, stub;
    // The installer is the stub with a package behind it: executable when the stub is.
    unsigned mode = wbpack::kInstallerMode;
    wbpack::PackageSpec package;
    if (!wbpack::loadPackageSpec(manifest, package, error)) return failure(error);
    std::vector<std::string> warnings = wbpack::findPackageWarnings(package);
    for (const std::string& w : warnings) std::fprintf(stderr, "%s: %s: %s\n", kProgram, strict ? "error" : "warning", w.c_str());
    if (strict && !warnings.empty())
        return failure("--strict: " + plural(warnings.size(), "warning", "warnings") + ", nothing written");
    for (const std::string& file : {key.pkcs12, key.passwordFile}) {
        if (!file.empty() && access(file.c_str(), R_OK) != 0)
            return failure(file + ": cannot read: " + std::strerror(errno));
    }
    if (!wbpack::readStubFile(stubPath, stub, error, &mode)) return failure(error);
    std::error_code ec;
    if (fs::equivalent(fs::path(outPath), fs::path(stubPath), ec))
        return failure(outPath + ": is the stub itself; choose another output file");

    std::uint64_t total = 0, files = 0, dirs = 0;
    for (const wbpack::PackEntry& e : package.entries) {
        if (e.kind == wbpack::kEntryFile) ++files, total += e.size;
        if (e.kind == wbpack::kEntryEnterDir) ++dirs;
    }
    ProgressBar bar;
    wbpack::BuildProgress progress;
    bool showBar = isatty(STDERR_FILENO) && total >= kProgressThreshold;
    if (showBar) {
        progress.report = drawProgressBar;
        progress.context = &bar;
    }
    bool sign = !key.pkcs12.empty();
    std::string builtPath = sign ? wbpack::unsignedPath(outPath) : outPath;
    bool built = wbpack::buildInstaller(package, stub, builtPath, error, progress, mode, threads);
    if (showBar) std::fputc('\n', stderr);
    if (!built) return failure(error);
    if (sign && !wbpack::signInstaller(builtPath, outPath, key, mode, error)) return failure(error);
    std::printf("%s: %s, %s, %s, %llu bytes of files\n", outPath.c_str(), plural(files, "file", "files").c_str(),
                plural(dirs, "directory", "directories").c_str(),
                plural(package.shortcuts.size(), "shortcut", "shortcuts").c_str(),
                static_cast<unsigned long long>(total));
    return 0;
}

// ---- app ----------------------------------------------------------------------------

// Removes the folder the application was put together in, whatever happens to the build.
struct ScratchFolder {
    std::string path;
    ~ScratchFolder()
    {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

int runApp(const std::vector<std::string>& args, const char* argv0)
{
    wbpack::AppSpec app;
    std::string emitDir, stubPath;
    std::vector<std::string> buildArgs;   // passed on to build as they are
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* field = a == "--jar" ? &app.jar : a == "--name" ? &app.name : a == "--publisher" ? &app.publisher
                           : a == "--version" ? &app.version : a == "--java" ? &app.java
                           : a == "--runtime" ? &app.runtime : a == "--licence" ? &app.licence
                           : a == "--resources" ? &app.resources : a == "--website" ? &app.website
                           : a == "--emit" ? &emitDir : a == "--stub" ? &stubPath : nullptr;
        bool passed = a == "-o" || a == "--sign" || a == "--sign-password-file" || a == "-j";
        if (field || passed) {
            if (i + 1 == args.size()) return usageError(a + " needs a value");
            if (field) {
                *field = args[++i];
            } else {
                buildArgs.push_back(a);
                buildArgs.push_back(args[++i]);
            }
        } else if (a == "--per-user") {
            app.perUser = true;
        } else if (a == "--strict" || (a.compare(0, 2, "-j") == 0 && a.size() > 2)) {
            buildArgs.push_back(a);
        } else {
            return usageError(a[0] == '-' ? "unknown option " + a : "app takes no argument " + a);
        }
    }
    if (app.jar.empty()) return usageError("app needs --jar");
    if (app.name.empty()) return usageError("app needs --name");
    if (!emitDir.empty() && !buildArgs.empty())
        return usageError("--emit writes the folder and the manifest only; build them with: wickerbay-pack build");
    if (stubPath.empty()) stubPath = defaultStubPath(argv0);
    app.programsDir = fs::path(stubPath).parent_path().string();
    if (app.programsDir.empty()) app.programsDir = ".";

    ScratchFolder scratch;
    std::string dir = emitDir;
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "wickerbay-pack-app-XXXXXX").string();
        if (!mkdtemp(&pattern[0])) return failure("cannot make a scratch folder: " + std::string(std::strerror(errno)));
        scratch.path = pattern;
        dir = pattern;
    }
    std::vector<std::string> summary;
    std::string error;
    if (!wbpack::emitApp(app, dir, summary, error)) return failure(error);
    for (const std::string& line : summary) std::printf("%s: %s\n", app.name.c_str(), line.c_str());
    if (!emitDir.empty()) {
        std::printf("wrote %s/package.cfg and %s/app; build with: wickerbay-pack build %s/package.cfg\n",
                    emitDir.c_str(), emitDir.c_str(), emitDir.c_str());
        return 0;
    }
    std::vector<std::string> build = {(fs::path(dir) / "package.cfg").string(), "--stub", stubPath};
    build.insert(build.end(), buildArgs.begin(), buildArgs.end());
    return runBuild(build, argv0);
}

// ---- list ---------------------------------------------------------------------------

void printField(const char* label, const std::string& value, std::uint32_t codePage)
{
    std::printf("%-18s%s\n", label, wbpack::shownText(value, codePage).c_str());
}

void printListing(const std::string& path, const wbpack::PackageListing& l)
{
    std::printf("Installer:        %s\n", path.c_str());
    if (!l.foundRecord) return;
    std::printf("Package offset:   %lu\n", static_cast<unsigned long>(l.packageOffset));
    if (l.packageLength == 0)
        std::printf("Package length:   not recorded (not checked)\n");
    else
        std::printf("Package length:   %lu, CRC-32 %08lX\n", static_cast<unsigned long>(l.packageLength),
                    static_cast<unsigned long>(l.packageCrc));
    if (l.packageLength != 0)
        std::printf("Package SHA-256:  %s\n", l.packageDigest == std::string(l.packageDigest.size(), '\0')
                                                   ? "not recorded (not checked)"
                                                   : wbpack::hexText(l.packageDigest).c_str());
    if (l.codePage != 0) std::printf("Code page:        %lu\n", static_cast<unsigned long>(l.codePage));
    if (!l.haveTotal) return;
    std::printf("Package total:    %lu\n", static_cast<unsigned long>(l.packageTotal));
    if (l.blockSizeDigit) std::printf("bzip2 block size: %c\n", l.blockSizeDigit);
    if (!l.haveHeader) return;
    const wbpack::PackageHeader& h = l.header;
    printField("Product:", h.productName, l.codePage);
    printField("Install dir:", h.installDir, l.codePage);
    printField("Run command:", h.runCommand, l.codePage);
    printField("Web address:", h.webAddress, l.codePage);
    printField("Publisher:", h.publisher, l.codePage);
    std::printf("Licence text:     %s\n",
                h.licenceText.empty() ? "none" : plural(h.licenceText.size(), "byte", "bytes").c_str());

    std::printf("\nShortcuts: %ld\n", static_cast<long>(l.shortcutCount));
    for (std::size_t i = 0; i < l.shortcuts.size(); ++i) {
        const wbpack::ShortcutSpec& s = l.shortcuts[i];
        std::printf("%4zu  link:        %s\n", i + 1, wbpack::shownText(s.linkPath, l.codePage).c_str());
        std::printf("      target:      %s\n", wbpack::shownText(s.target, l.codePage).c_str());
        std::printf("      working dir: %s\n", wbpack::shownText(s.workingDir, l.codePage).c_str());
        std::printf("      arguments:   %s\n", wbpack::shownText(s.arguments, l.codePage).c_str());
        std::printf("      description: %s\n", wbpack::shownText(s.description, l.codePage).c_str());
    }

    std::printf("\n    Length  Name\n----------  ----\n");
    for (const wbpack::ListedEntry& e : l.entries) {
        std::string name = wbpack::shownText(e.path, l.codePage);
        if (e.tag == wbformat::kTagFile)
            std::printf("%10lu  %s\n", static_cast<unsigned long>(e.size), name.c_str());
        else if (e.tag == wbformat::kTagEnterDir)
            std::printf("%10s  %s/\n", "", name.c_str());
        else if (e.tag != wbformat::kTagLeaveDir)
            std::printf("%10s  (unknown tag %d in %s/)\n", "", e.tag, name.c_str());
    }
    std::printf("----------  -------\n%10llu  %s, %s\n", static_cast<unsigned long long>(l.sumOfFileSizes),
                plural(l.fileCount, "file", "files").c_str(),
                plural(l.directoryCount, "directory", "directories").c_str());
    if (l.trailingBytes > 0)
        std::printf("(%s after the end of the bzip2 stream)\n", plural(l.trailingBytes, "byte", "bytes").c_str());
}

// ---- main ---------------------------------------------------------------------------

int runRead(const std::string& command, const std::vector<std::string>& args)
{
    std::size_t wanted = command == "extract" ? 2 : 1;
    for (const std::string& a : args) {
        if (a.size() > 1 && a[0] == '-') return usageError("unknown option " + a);
    }
    if (args.size() != wanted)
        return usageError(command + (wanted == 2 ? " needs an installer and a folder" : " needs one installer"));
    const std::string& path = args[0];
    wbpack::ReadOptions options;
    if (command == "extract") options.extractDir = args[1];
    wbpack::PackageListing listing;
    std::vector<std::string> problems;
    bool sound = wbpack::readPackageFile(path, options, listing, problems);
    if (command == "list") printListing(path, listing);
    if (!sound) return reportProblems(path, problems);
    if (command == "verify")
        std::printf("%s: sound: %s, %s, %s, total %lu bytes\n", path.c_str(),
                    plural(listing.fileCount, "file", "files").c_str(),
                    plural(listing.directoryCount, "directory", "directories").c_str(),
                    plural(listing.shortcuts.size(), "shortcut", "shortcuts").c_str(),
                    static_cast<unsigned long>(listing.packageTotal));
    if (command == "extract")
        std::printf("%s: extracted %s and %s into %s\n", path.c_str(),
                    plural(listing.fileCount, "file", "files").c_str(),
                    plural(listing.directoryCount, "directory", "directories").c_str(), args[1].c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return usageError("no command given");
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    // "wickerbay-pack build --help" asks for the same help as "wickerbay-pack --help".
    bool helpAsked = command == "--help" || command == "-h";
    for (const std::string& a : args) helpAsked = helpAsked || a == "--help" || a == "-h";
    if (helpAsked) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("%s %s\n", kProgram, WB_VERSION);
        return 0;
    }
    if (command == "build") return runBuild(args, argv[0]);
    if (command == "app") return runApp(args, argv[0]);
    if (command == "list" || command == "verify" || command == "extract") return runRead(command, args);
    return usageError("unknown command " + command);
}
