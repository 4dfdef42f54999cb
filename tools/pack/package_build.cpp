// Checking a package against the format's rules, patching the stub, and writing the
// installer file so that it appears only when it is complete.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/package_format.h"
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
    if (!wbformat::isSafeEntryName(name.data(), name.size())) {
        error = "unsafe " + shown + ": " + kUnsafeNameRule;
        return false;
    }
    if (!windowsAcceptsName(name)) {
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

// Windows reads an unquoted command's program path up to the first blank that leaves a
// program it can start: "C:\Program Files\App\app.exe" starts C:\Program.exe when there is
// one (anyone who can write C:\ can put it there). The program part is taken to end at the
// first ".exe", ".com", ".bat" or ".cmd" followed by a blank or the end; without one it
// cannot be told from the arguments, and the command is left as it is.
static bool checkRunCommand(const std::string& command, std::string& error)
{
    if (command.empty() || command[0] == '"') return true;
    std::string lower = command;
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    for (std::size_t end = 4; end <= lower.size(); ++end) {
        std::string extension = lower.substr(end - 4, 4);
        if (extension != ".exe" && extension != ".com" && extension != ".bat" && extension != ".cmd") continue;
        if (end != lower.size() && lower[end] != ' ' && lower[end] != '\t') continue;
        std::size_t blank = command.find_first_of(" \t");
        if (blank >= end) return true;
        error = "run command \"" + printable(command) + "\": its program's path holds a blank and is not quoted, "
                "so Windows would first try to start " + printable(command.substr(0, blank)) +
                ".exe; quote the path: \"" + printable(command.substr(0, end)) + "\"" +
                printable(command.substr(end));
        return false;
    }
    return true;
}

bool checkPackageSpec(const PackageSpec& package, std::string& error)
{
    const PackageHeader& h = package.header;
    if (!checkCountedString(h.productName, "product name", error) ||
        !checkCountedString(h.installDir, "install directory", error) ||
        !checkCountedString(h.runCommand, "run command", error) ||
        !checkCountedString(h.webAddress, "web address", error) ||
        !checkCountedString(h.publisher, "publisher", error) ||
        !checkCountedString(h.licenceText, "licence text", error) || !checkRunCommand(h.runCommand, error))
        return false;

    if (package.shortcuts.size() > static_cast<std::size_t>(wbformat::kMaxShortcuts)) {
        error = std::to_string(package.shortcuts.size()) + " shortcuts; a package holds at most 256";
        return false;
    }
    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        const ShortcutSpec& s = package.shortcuts[i];
        std::string label = "shortcut " + std::to_string(i + 1) + " ";
        if (!checkCountedString(s.linkPath, label + "link", error) ||
            !checkCountedString(s.target, label + "target", error) ||
            !checkCountedString(s.workingDir, label + "working directory", error) ||
            !checkCountedString(s.arguments, label + "arguments", error) ||
            !checkCountedString(s.description, label + "description", error))
            return false;
    }

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
    // the length, checksum and code page go, and would break when they were written.
    if (stub.compare(recordPosition + wbformat::kRecordLengthAt, 12, std::string(12, '\0')) != 0) {
        error = "the package record's length, checksum and code page words are not zero; use a bare "
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
// checksum and code page, so that the installer can tell a damaged download before it
// shows anything. Reading it back keeps the compressor's path free of checksum work.
static bool sealPackage(FILE* f, std::size_t recordPosition, std::size_t packageOffset, std::uint32_t codePage,
                        std::string& error)
{
    static wbformat::Crc32Table table;
    std::vector<char> buffer(1 << 20);
    std::uint64_t length = 0;
    std::uint32_t crc = 0;
    bool ok = std::fflush(f) == 0 && std::fseek(f, static_cast<long>(packageOffset), SEEK_SET) == 0;
    for (std::size_t got; ok && (got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
        crc = wbformat::updateCrc32(table, crc, buffer.data(), got);
        length += got;
    }
    ok = ok && !std::ferror(f);
    if (ok && length > 0xFFFFFFFFu) {
        error = "the package is " + std::to_string(length) + " bytes compressed; its record holds at most 4294967295";
        return false;
    }
    std::string words = encodeU32(static_cast<std::uint32_t>(length)) + encodeU32(crc) + encodeU32(codePage);
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
        writeHeader(writer, package.header, package.shortcuts);
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
