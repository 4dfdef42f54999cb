// Checking a package against the format's rules, patching the stub, and writing the
// installer file so that it appears only when it is complete.
#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/package_format.h"
#include "common/path_rule.h"
#include "common/uninstall_log.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

PackEntry memoryFileEntry(const std::string& name, const std::string& data)
{
    PackEntry e;
    e.kind = kEntryFile;
    e.name = name;
    e.size = data.size();
    e.data = data;
    return e;
}

PackEntry diskFileEntry(const std::string& name, const std::string& sourcePath, std::uint64_t size)
{
    PackEntry e;
    e.kind = kEntryFile;
    e.name = name;
    e.size = size;
    e.sourcePath = sourcePath;
    return e;
}

PackEntry enterDirEntry(const std::string& name)
{
    PackEntry e;
    e.kind = kEntryEnterDir;
    e.name = name;
    return e;
}

PackEntry leaveDirEntry()
{
    PackEntry e;
    e.kind = kEntryLeaveDir;
    return e;
}

// ---- Rules --------------------------------------------------------------------------

static bool checkCountedString(const std::string& text, const std::string& label, std::string& error)
{
    if (text.size() > wbformat::kMaxCountedString) {
        error = label + " is " + std::to_string(text.size()) + " bytes; a package string holds at most 65535";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = label + " holds a zero byte, which a package string cannot carry";
        return false;
    }
    return true;
}

static std::string inDirectory(const std::string& dirPath, std::uint32_t codePage)
{
    return dirPath.empty() ? "at the top level" : "in " + shownText(dirPath, codePage);
}

static bool checkEntryName(const std::string& name, const std::string& dirPath, std::uint32_t codePage,
                           std::set<std::string>& seenInDir, std::string& error)
{
    std::string shortName = name.size() > 60 ? name.substr(0, 60) + "..." : name;
    std::string shown = "entry name \"" + shownText(shortName, codePage) + "\" " + inDirectory(dirPath, codePage);
    if (name.size() > wbformat::kMaxCountedString) {
        error = shown + " is " + std::to_string(name.size()) + " bytes; a package string holds at most 65535";
        return false;
    }
    // Judged by characters: in a double-byte code page a character's second byte may be
    // "\" or "|".
    std::string view = singleByteView(name);
    if (!wbformat::isSafeEntryName(view.data(), view.size())) {
        error = "unsafe " + shown + ": " + kUnsafeNameRule;
        return false;
    }
    if (!windowsAcceptsName(view)) {
        error = shown + ": " + kWindowsNameRule;
        return false;
    }
    // Windows file names ignore case: a second name that differs only in case would
    // overwrite the first when the package is installed.
    if (!seenInDir.insert(foldNameCase(name, codePage)).second) {
        error = shown + ": another entry there has the same name, ignoring case";
        return false;
    }
    return true;
}

// True when the package holds a file at `path`, a path below the install folder with
// backslashes between its parts, compared as Windows compares names.
static bool packageHoldsFile(const PackageSpec& package, const std::string& path)
{
    std::string wanted = foldNameCase(path, package.codePage);
    std::string dir;
    std::vector<std::size_t> entered;
    for (const PackEntry& e : package.entries) {
        if (e.kind == kEntryLeaveDir) {
            if (!entered.empty()) dir.erase(entered.back());
            if (!entered.empty()) entered.pop_back();
        } else if (e.kind == kEntryEnterDir) {
            entered.push_back(dir.size());
            dir += e.name + "\\";
        } else if (foldNameCase(dir + e.name, package.codePage) == wanted) {
            return true;
        }
    }
    return false;
}

// Windows reads an unquoted command's program path up to the first blank that leaves a
// program it can start: "C:\Program Files\App\app.exe" starts C:\Program.exe when there is
// one (anyone who can write C:\ can put it there). An unquoted command with a blank is
// taken only when its first word is the program, ending in ".exe", ".com", ".bat" or
// ".cmd"; otherwise where its path ends cannot be told. The program must then be a full
// path or a file of the package: the installer starts any other name from the install
// folder, where it must be.
static bool checkRunCommand(const PackageSpec& package, std::string& error)
{
    const std::string& command = package.header.runCommand;
    if (command.empty()) return true;
    const std::string shown = "run command \"" + printable(command) + "\": ";
    std::string program;
    if (command[0] == '"') {
        std::size_t close = command.find('"', 1);
        if (close == std::string::npos) {
            error = shown + "its program's quote is never closed";
            return false;
        }
        program = command.substr(1, close - 1);
    } else {
        std::size_t blank = command.find_first_of(" \t");
        program = command.substr(0, blank);
        std::string lower = command;
        for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        auto endsProgram = [&](std::size_t end) {
            std::string extension = lower.substr(end - 4, 4);
            return (extension == ".exe" || extension == ".com" || extension == ".bat" || extension == ".cmd") &&
                   (end == lower.size() || lower[end] == ' ' || lower[end] == '\t');
        };
        if (blank != std::string::npos && !(blank >= 4 && endsProgram(blank))) {
            std::size_t end = blank + 1;
            while (end < lower.size() && !(end >= 4 && endsProgram(end))) ++end;
            std::string quoted = end < lower.size() || endsProgram(lower.size())
                                     ? "\"" + printable(command.substr(0, end)) + "\"" + printable(command.substr(end))
                                     : "\"" + printable(command) + "\"";
            // Windows adds ".exe" to a first word that has no extension of its own.
            std::string first = command.substr(0, blank);
            std::size_t part = first.find_last_of("\\/");
            bool extension = first.find('.', part == std::string::npos ? 0 : part + 1) != std::string::npos;
            error = shown + "its program's path holds a blank and is not quoted, so Windows would first try to "
                    "start " + printable(first) + (extension ? "" : ".exe") + "; quote the path: " + quoted;
            return false;
        }
    }
    // The installer of a per-user package puts the user's folder in place of a leading $L.
    bool perUser = isPerUserPackage(package);
    if (isFullProgramPath(program) || (perUser && wbformat::beginsWithPerUserMacro(program.c_str()))) return true;
    if (!packageHoldsFile(package, program)) {
        error = shown + "its program \"" + printable(program) + "\" is neither a full path nor a file of the package; "
                "name it as it lies in the install folder (\"vmkick.exe\") or by its full path";
        return false;
    }
    if (packagedRunCommand(package.header).size() > wbformat::kMaxCountedString) {
        error = shown + "with the install folder's path before its program it is longer than 65535 bytes";
        return false;
    }
    if (!isFullProgramPath(package.header.installDir) && !perUser) {
        error = shown + "its program \"" + printable(program) + "\" lies in the install folder, whose full path is "
                "known only on the user's machine; Windows would look for it in the installer's own folder first, "
                "so give the run command an install folder that is a full path, or none";
        return false;
    }
    return true;
}

// The run command as the package carries it: a program named as it lies in the install
// folder becomes that file's full path, quoted, so that Windows never looks for it in
// the installer's own folder (a download folder, where anyone may have left a file of
// that name) before the install folder. The arguments follow as they were given.
std::string packagedRunCommand(const PackageHeader& header)
{
    const std::string& command = header.runCommand;
    // A per-user install folder ($L\...) is a full path once the installer has put the
    // user's folder in place of $L, which it does at the start of the run command too.
    bool perUserDir = wbformat::beginsWithPerUserMacro(header.installDir.c_str());
    bool quoted = !command.empty() && command[0] == '"';
    std::size_t end = quoted ? command.find('"', 1) : command.find_first_of(" \t");
    std::string program = command.substr(quoted, end == std::string::npos ? end : end - quoted);
    if (wbformat::beginsWithPerUserMacro(program.c_str()) || !(isFullProgramPath(header.installDir) || perUserDir)) {
        return command;
    }
    return runCommandInFolder(command, header.installDir);
}

// ---- Paths the uninstall log will hold ------------------------------------------------

// A shell folder macro at the start of a link path stands for a folder of at most this
// many characters (the shell's folders are no longer than MAX_PATH); so does $L, and the
// current folder a relative install directory is taken from.
constexpr std::size_t kFolderBound = 260;
const char kShellStandIn[] = "C:\\ShellFolder";
const char kLocalStandIn[] = "C:\\LocalAppData";

// The link path as the installer expands it, with a full path of its kind for each shell
// folder macro and for a leading $L, so that the log's rules can judge the result. The
// installer's expansion, byte for byte: a "$" before another letter is dropped with it, the
// byte after a macro is copied as it is, a "$" at the end ends the path.
static std::string linkStandIn(const std::string& linkPath)
{
    std::string text = linkPath, out;
    if (wbformat::beginsWithPerUserMacro(text.c_str())) {
        out = kLocalStandIn;
        text = text.substr(2);
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '$') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) break;
        if (std::strchr("DPSs", text[i + 1]) && text[i + 1] != '\0') out += kShellStandIn;
        i += 2;
        if (i >= text.size()) break;
        out += text[i];
    }
    return out;
}

bool linkInNamedFolders(const std::string& linkPath, const std::string& installDir)
{
    std::string link = linkStandIn(linkPath);
    if (isPathAtOrBelow(link, kShellStandIn) && !isSamePath(link, kShellStandIn)) return true;
    // The install directory's own "$" are its characters; only a leading $L is expanded.
    std::string dir = installDir;
    if (wbformat::beginsWithPerUserMacro(dir.c_str())) dir = kLocalStandIn + dir.substr(2);
    if (!isFullPath(dir)) return false;
    return isPathAtOrBelow(link, dir) && !isSamePath(link, dir);
}

// The uninstaller refuses a log that names such a path, and with it everything the log
// names: the package could never be removed.
static bool checkLinkPath(const std::string& linkPath, const std::string& installDir, const std::string& label,
                          std::string& error)
{
    std::string link = linkStandIn(linkPath);
    std::string problem = logPathProblem(wbformat::kLogFile, isFullPath(link) ? link : "C:\\" + link);
    if (!problem.empty()) {
        error = label + " \"" + printable(linkPath) + "\" " + problem.substr(0, problem.find(": `")) +
                ", which the uninstaller refuses";
        return false;
    }
    // A link path that is not a full path is never made, and so never logged.
    if (isFullPath(link) && !linkInNamedFolders(linkPath, installDir) && !isLinkFile(link)) {
        error = label + " \"" + printable(linkPath) + "\" lies outside the shell folders ($D, $P, $S, $s) and the "
                "install folder and does not end in .lnk; the uninstaller removes only links there";
        return false;
    }
    return true;
}

// Windows drops a part's trailing blanks and dots when it makes the folder, so the folder
// made would not be the one the package names.
static bool checkInstallDirParts(const std::string& installDir, std::string& error)
{
    // The uninstaller refuses a log whose install folder is a device or reached unparsed.
    auto slash = [&](std::size_t i) { return installDir[i] == '\\' || installDir[i] == '/'; };
    bool unparsed = installDir.size() >= 4 && slash(0) && slash(1) && (installDir[2] == '?' || installDir[2] == '.') &&
                    slash(3);
    // "C:CON" is the device too, whatever the drive's current folder.
    bool driveRelative = installDir.size() >= 2 && installDir[1] == ':';
    if (!firstDevicePart(driveRelative ? installDir.substr(2) : installDir).empty() || unparsed) {
        error = "install directory \"" + printable(installDir) + "\" names a device, which Windows opens in place of "
                "a folder";
        return false;
    }
    std::string part = firstTrimmedPart(installDir);
    if (part.empty()) return true;
    error = "install directory \"" + printable(installDir) + "\": its part \"" + printable(part) +
            "\" ends in a blank or a dot, which Windows drops when it creates the folder; write it as \"" +
            printable(trimmedPart(part)) + "\"";
    return false;
}

std::uint64_t uninstallLogBound(const PackageSpec& package)
{
    const std::string& dir = package.header.installDir;
    std::uint64_t root = dir.size() + 1;
    if (wbformat::beginsWithPerUserMacro(dir.c_str()) || !isFullPath(dir)) root += kFolderBound;
    std::uint64_t size = 3 + root;
    std::vector<std::uint64_t> depth(1, 0);   // the running path's length below the root
    for (const PackEntry& e : package.entries) {
        if (e.kind == kEntryLeaveDir) {
            if (depth.size() > 1) depth.pop_back();
            continue;
        }
        if (e.kind == kEntryEnterDir) {
            size += 3 + root + depth.back() + e.name.size();
            depth.push_back(depth.back() + e.name.size() + 1);
        } else if (e.name != wbformat::kUninstallerName) {
            size += 3 + root + depth.back() + e.name.size();
        }
    }
    // Each link logs its file and its folder; every macro in it may grow by a folder.
    for (const ShortcutSpec& s : package.shortcuts) {
        std::uint64_t macros = std::count(s.linkPath.begin(), s.linkPath.end(), '$');
        std::uint64_t expanded = std::min<std::uint64_t>(s.linkPath.size() + macros * kFolderBound, 4095);
        size += 2 * (3 + expanded);
    }
    return size;
}

bool checkPackageSpec(const PackageSpec& package, std::string& error)
{
    const PackageHeader& h = package.header;
    // Paths and names are walked in the package's code page, whose characters may have a
    // backslash as their second byte.
    setPathCodePage(package.codePage);
    if (!checkCountedString(h.productName, "product name", error) ||
        !checkCountedString(h.installDir, "install directory", error) ||
        !checkCountedString(h.runCommand, "run command", error) ||
        !checkCountedString(h.webAddress, "web address", error) ||
        !checkCountedString(h.publisher, "publisher", error) ||
        !checkCountedString(h.licenceText, "licence text", error))
        return false;

    if (package.shortcuts.size() > static_cast<std::size_t>(wbformat::kMaxShortcuts)) {
        error = std::to_string(package.shortcuts.size()) + " shortcuts; a package holds at most 256";
        return false;
    }
    // A per-user package's own rules first: they say more about its links than the log's.
    if (!checkPerUserPackage(package, error)) return false;
    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        const ShortcutSpec& s = package.shortcuts[i];
        std::string label = "shortcut " + std::to_string(i + 1) + " ";
        if (!checkCountedString(s.linkPath, label + "link", error) ||
            !checkCountedString(s.target, label + "target", error) ||
            !checkCountedString(s.workingDir, label + "working directory", error) ||
            !checkCountedString(s.arguments, label + "arguments", error) ||
            !checkCountedString(s.description, label + "description", error) ||
            !checkLinkPath(s.linkPath, h.installDir, label + "link", error))
            return false;
    }
    if (!checkInstallDirParts(h.installDir, error)) return false;

    std::vector<std::string> dirPaths(1);          // the path of each open directory
    std::vector<std::set<std::string>> namesSeen(1);
    std::uint64_t total = 0;
    for (const PackEntry& e : package.entries) {
        if (e.kind == kEntryLeaveDir) {
            if (dirPaths.size() == 1) {
                error = "a leave-directory entry at the top level has no directory to leave";
                return false;
            }
            dirPaths.pop_back();
            namesSeen.pop_back();
            continue;
        }
        const std::string& dir = dirPaths.back();
        if (!checkEntryName(e.name, dir, package.codePage, namesSeen.back(), error)) return false;
        std::string path = dir.empty() ? e.name : dir + "/" + e.name;
        if (e.kind == kEntryEnterDir) {
            dirPaths.push_back(path);
            namesSeen.emplace_back();
            continue;
        }
        std::uint64_t size = e.sourcePath.empty() ? e.data.size() : e.size;
        if (size > 0xFFFFFFFFu) {
            std::string shown = e.sourcePath.empty() ? printable(path) : e.sourcePath;
            error = shown + ": " + std::to_string(size) + " bytes; a file in a package holds at most 4294967295";
            return false;
        }
        total += size;
    }
    if (dirPaths.size() > 1) {
        error = "directory " + printable(dirPaths.back()) + " is entered but never left";
        return false;
    }
    if (total > 0xFFFFFFFFu) {
        error = "the files add up to " + std::to_string(total) + " bytes; a package holds at most 4294967295";
        return false;
    }
    if (!checkRunCommand(package, error)) return false;
    std::uint64_t logSize = uninstallLogBound(package);
    if (logSize > kMaxUninstallLogSize) {
        error = "the uninstall log of this package could take " + std::to_string(logSize) +
                " bytes; the uninstaller reads at most " + std::to_string(kMaxUninstallLogSize) +
                ", so the package could not be removed: shorten its paths or split it";
        return false;
    }
    return true;
}

// ---- The stub -----------------------------------------------------------------------

bool findOffsetRecord(const std::string& stub, std::size_t& recordPosition, std::string& error)
{
    const std::string marker(wbformat::kOffsetMarker, wbformat::kOffsetMarkerSize);
    std::size_t count = 0;
    for (std::size_t at = stub.find(marker); at != std::string::npos; at = stub.find(marker, at + 1)) {
        if (count++ == 0) recordPosition = at;
    }
    if (count != 1) {
        error = "the package offset record (WBPKGOFS) occurs " + std::to_string(count) +
                " times in the stub; it must occur exactly once";
        return false;
    }
    if (recordPosition + wbformat::kOffsetRecordSize > stub.size()) {
        error = "the stub ends inside its package offset record";
        return false;
    }
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i)
        word = (word << 8) | static_cast<unsigned char>(stub[recordPosition + wbformat::kOffsetMarkerSize + i]);
    if (word != wbformat::kNoPackage) {
        error = "the stub already carries a package (its offset word is " + std::to_string(word) +
                "); use a bare installer stub";
        return false;
    }
    // A stub whose record is shorter than this builder's would have code or data where
    // the length, checksums and code page go, and would break when they were written.
    const std::size_t words = wbformat::kOffsetRecordSize - wbformat::kRecordLengthAt;
    if (stub.compare(recordPosition + wbformat::kRecordLengthAt, words, std::string(words, '\0')) != 0) {
        error = "the package record's length, checksum, code page and digest are not zero; use a bare "
                "installer stub built with this version";
        return false;
    }
    // The installer seeks to its package with a signed 32-bit file position.
    if (stub.size() > 0x7FFFFFFFu) {
        error = "the stub is " + std::to_string(stub.size()) + " bytes; a package must begin within 2 GiB";
        return false;
    }
    return true;
}

bool readStubFile(const std::string& path, std::string& stub, std::string& error, unsigned* mode)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "stub " + path + ": cannot open: " + std::strerror(errno);
        return false;
    }
#ifndef _WIN32
    // Taken from the file that is read, not looked up again by its name.
    struct stat status;
    if (mode != nullptr && ::fstat(::fileno(f), &status) == 0) *mode = status.st_mode & 0777;
#else
    (void)mode;
#endif
    stub.clear();
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) stub.append(buffer, got);
    bool readFailed = std::ferror(f) != 0;
    std::fclose(f);
    if (readFailed) {
        error = "stub " + path + ": read error";
        return false;
    }
    std::size_t position;
    std::string why;
    if (!findOffsetRecord(stub, position, why)) {
        error = "stub " + path + ": " + why;
        return false;
    }
    return true;
}

// ---- The output file ----------------------------------------------------------------

// The installer file is written under this name beside the target and renamed into
// place at the end: a refused or failed build leaves neither a partial file nor a gap
// where an older installer was.
static std::string temporaryPath(const std::string& outPath)
{
    return outPath + ".wbpack-tmp";
}

static FILE* openOutput(const std::string& outPath, unsigned mode, std::string& error)
{
    std::string tmp = temporaryPath(outPath);
#ifdef _WIN32
    (void)mode;
    FILE* f = std::fopen(tmp.c_str(), "w+b");
#else
    // Made afresh, so that it gets these permission bits: a temporary file left behind by
    // an interrupted build would keep its own, and a link planted under its name would
    // be followed.
    ::unlink(tmp.c_str());
    // Read and written: the package's checksum is taken from the file once it is complete.
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode & 0777));
    FILE* f = fd >= 0 ? ::fdopen(fd, "w+b") : nullptr;
    if (fd >= 0 && f == nullptr) {
        int cause = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        errno = cause;
    }
#endif
    if (!f) error = outPath + ": cannot create " + tmp + ": " + std::strerror(errno);
    return f;
}

static bool finishOutput(FILE* f, bool ok, const std::string& outPath, std::string& error)
{
    std::string tmp = temporaryPath(outPath);
    if (ok && (std::fflush(f) != 0 || std::ferror(f))) {
        error = outPath + ": cannot write: " + std::strerror(errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        error = outPath + ": cannot write: " + std::strerror(errno);
        ok = false;
    }
    std::error_code ec;
    if (ok) {
        fs::rename(fs::path(tmp), fs::path(outPath), ec);
        if (ec) {
            error = outPath + ": cannot rename " + tmp + " into place: " + ec.message();
            ok = false;
        }
    }
    if (!ok) fs::remove(fs::path(tmp), ec);
    return ok;
}

// The stub with its offset word set to its own length, then the package total.
static bool writeStubAndTotal(FILE* f, const std::string& stub, std::size_t recordPosition,
                              std::uint32_t total, std::string& error)
{
    std::size_t wordAt = recordPosition + wbformat::kOffsetMarkerSize;
    std::string offset = encodeU32(static_cast<std::uint32_t>(stub.size()));
    std::string totalBytes = encodeU32(total);
    bool ok = std::fwrite(stub.data(), 1, wordAt, f) == wordAt &&
              std::fwrite(offset.data(), 1, 4, f) == 4 &&
              std::fwrite(stub.data() + wordAt + 4, 1, stub.size() - wordAt - 4, f) == stub.size() - wordAt - 4 &&
              std::fwrite(totalBytes.data(), 1, 4, f) == 4;
    if (!ok) error = std::string("cannot write the output file: ") + std::strerror(errno);
    return ok;
}

// Reads the package back from the finished file and fills in the record's length,
// checksum, code page and digest, so that the installer can tell a damaged download, or a
// package that is not the one its signed stub was made for, before it shows anything.
// Reading it back keeps the compressor's path free of checksum work.
static bool sealPackage(FILE* f, std::size_t recordPosition, std::size_t packageOffset, std::uint32_t codePage,
                        std::string& error)
{
    static wbformat::Crc32Table table;
    std::vector<char> buffer(1 << 20);
    std::uint64_t length = 0;
    std::uint32_t crc = 0;
    Sha256 hash;
    beginSha256(hash);
    bool ok = std::fflush(f) == 0 && std::fseek(f, static_cast<long>(packageOffset), SEEK_SET) == 0;
    for (std::size_t got; ok && (got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
        crc = wbformat::updateCrc32(table, crc, buffer.data(), got);
        addSha256(hash, buffer.data(), got);
        length += got;
    }
    ok = ok && !std::ferror(f);
    if (ok && length > 0xFFFFFFFFu) {
        error = "the package is " + std::to_string(length) + " bytes compressed; its record holds at most 4294967295";
        return false;
    }
    std::string words =
        encodeU32(static_cast<std::uint32_t>(length)) + encodeU32(crc) + encodeU32(codePage) + endSha256(hash);
    ok = ok && std::fseek(f, static_cast<long>(recordPosition + wbformat::kRecordLengthAt), SEEK_SET) == 0 &&
         std::fwrite(words.data(), 1, words.size(), f) == words.size() && std::fseek(f, 0, SEEK_END) == 0;
    if (!ok) error = std::string("cannot seal the package in the output file: ") + std::strerror(errno);
    return ok;
}

static void writeEntries(PackageWriter& writer, const std::vector<PackEntry>& entries,
                         std::uint64_t total, const BuildProgress& progress)
{
    std::uint64_t done = 0;
    for (const PackEntry& e : entries) {
        if (writer.failed) return;
        unsigned char tag = e.kind == kEntryFile ? wbformat::kTagFile
                            : e.kind == kEntryEnterDir ? wbformat::kTagEnterDir
                                                      : wbformat::kTagLeaveDir;
        writePackageBytes(writer, &tag, 1);
        if (e.kind == kEntryLeaveDir) continue;
        if (e.kind == kEntryEnterDir) {
            writeCountedString(writer, e.name);
            continue;
        }
        if (e.sourcePath.empty()) {
            writeU32(writer, static_cast<std::uint32_t>(e.data.size()));
            writeCountedString(writer, e.name);
            writePackageBytes(writer, e.data.data(), e.data.size());
            done += e.data.size();
            if (progress.report) progress.report(done, total, progress.context);
            continue;
        }
        writeU32(writer, static_cast<std::uint32_t>(e.size));
        writeCountedString(writer, e.name);
        std::uint64_t device = 0, inode = 0, size = 0;
        FILE* in = openSourceFile(e.sourcePath, device, inode, size, writer.error);
        if (!in) {
            writer.failed = true;
            return;
        }
        // Between reading the folder and packing, the name may have been given to another
        // file (a link planted in a shared folder): what is packed is what was looked at.
        if ((e.device != 0 || e.inode != 0) && (device != e.device || inode != e.inode)) {
            std::fclose(in);
            writer.failed = true;
            writer.error = e.sourcePath + ": is another file now than when the source folder was read";
            return;
        }
        writeFileData(writer, in, e.size, e.sourcePath, progress, done, total);
        std::fclose(in);
    }
}

static std::uint64_t sumOfFileSizes(const std::vector<PackEntry>& entries)
{
    std::uint64_t total = 0;
    for (const PackEntry& e : entries) {
        if (e.kind == kEntryFile) total += e.sourcePath.empty() ? e.data.size() : e.size;
    }
    return total;
}

bool buildInstaller(const PackageSpec& package, const std::string& stub, const std::string& outPath,
                    std::string& error, const BuildProgress& progress, unsigned mode, unsigned threads)
{
    std::size_t recordPosition;
    std::string why;
    if (!checkPackageSpec(package, error) || !checkPerUserPackage(package, error)) return false;
    if (!findOffsetRecord(stub, recordPosition, why)) {
        error = "stub: " + why;
        return false;
    }
    // A per-user installer asks Windows for no administrator rights.
    std::string perUserStub;
    if (isPerUserPackage(package)) {
        perUserStub = stub;
        if (!requestNoElevation(perUserStub, why)) {
            error = "stub: " + why;
            return false;
        }
    }
    const std::string& installerStub = perUserStub.empty() ? stub : perUserStub;
    std::uint64_t total = sumOfFileSizes(package.entries);

    FILE* f = openOutput(outPath, mode, error);
    if (!f) return false;
    PackageWriter writer;
    bool ok = writeStubAndTotal(f, installerStub, recordPosition, static_cast<std::uint32_t>(total), error) &&
              beginPackageStream(writer, f, threads);
    if (ok) {
        PackageHeader header = package.header;
        header.runCommand = packagedRunCommand(header);
        writeHeader(writer, header, package.shortcuts);
        writeEntries(writer, package.entries, total, progress);
        ok = endPackageStream(writer);
        if (!ok) error = writer.error;
        ok = ok && sealPackage(f, recordPosition, stub.size(), package.codePage, error);
    } else if (writer.failed) {
        error = writer.error;
    }
    releasePackageStream(writer);
    return finishOutput(f, ok, outPath, error);
}

bool writeRawInstaller(const std::string& stub, std::uint32_t total, const std::string& stream,
                       const std::string& outPath, std::string& error)
{
    std::size_t recordPosition;
    std::string why;
    if (!findOffsetRecord(stub, recordPosition, why)) {
        error = "stub: " + why;
        return false;
    }
    FILE* f = openOutput(outPath, kInstallerMode, error);
    if (!f) return false;
    PackageWriter writer;
    bool ok = writeStubAndTotal(f, stub, recordPosition, total, error) && beginPackageStream(writer, f);
    if (ok) {
        writePackageBytes(writer, stream.data(), stream.size());
        ok = endPackageStream(writer);
        if (!ok) error = writer.error;
        ok = ok && sealPackage(f, recordPosition, stub.size(), wbformat::kDefaultCodePage, error);
    } else if (writer.failed) {
        error = writer.error;
    }
    releasePackageStream(writer);
    return finishOutput(f, ok, outPath, error);
}

}  // namespace wbpack
