// Reading an installer file back: the offset record, the package total, the bzip2 stream
// and everything in it, for `list`, `verify` and `extract`. Unlike the installer, this
// reader trusts nothing: every length is checked against what the stream delivered, and
// every departure from the format becomes one line of text.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/package_format.h"
#include "common/path_rule.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

constexpr std::size_t kInputChunk = 1 << 16;
constexpr std::size_t kOutputChunk = 1 << 16;
// A set node's own cost (links, colour, the string's record) beside the name's bytes.
constexpr std::size_t kNameSetNodeBytes = 32 + sizeof(std::string);

struct Scan {
    PackageInput* input;
    const ReadOptions* options;
    PackageListing* listing;
    std::vector<std::string>* problems;
    std::size_t problemsNotShown = 0;
    std::uint64_t problemBytes = 0;  // the texts kept, charged against the listing's ceiling

    // Compressed input: bytes [inBegin, inEnd) of `in` are unread; in[0] is at file
    // position inStart.
    std::vector<char> in;
    std::size_t inBegin = 0;
    std::size_t inEnd = 0;
    std::uint64_t inStart = 0;
    bool inputEnded = false;

    // Decompressed output: bytes [outBegin, outEnd) of `out` are unread.
    bz_stream bz{};
    bool bzStarted = false;
    bool streamEnded = false;   // the bzip2 stream came to its proper end
    std::uint64_t streamBytes = 0;   // its compressed length, once it ended
    bool streamFailed = false;  // damaged, truncated or over the limit; already reported
    std::vector<char> out;
    std::size_t outBegin = 0;
    std::size_t outEnd = 0;

    // Extraction: stops for good at the first entry that would leave the folder. Each
    // folder entered is held open (not on Windows, where a folder in use cannot be swapped
    // anyway) and everything below it is made relative to that descriptor, so a folder
    // swapped for a link while a long entry is written cannot lead what follows elsewhere.
    bool extracting = false;
    struct ExtractDir {
        fs::path path;
        int fd = -1;
    };
    std::vector<ExtractDir> extractDirs;

    ~Scan()
    {
        for (ExtractDir& d : extractDirs) closeDir(d);
    }
    static void closeDir(ExtractDir& d)
    {
#ifndef _WIN32
        if (d.fd >= 0) ::close(d.fd);
#endif
        d.fd = -1;
    }

    // The names met so far in each open directory, folded as Windows compares them: two
    // that fold alike are one file on the user's machine.
    std::vector<std::set<std::string>> namesInDir = std::vector<std::set<std::string>>(1);
};

void addProblem(Scan& scan, const std::string& text)
{
    if (scan.problems->size() < scan.options->maxProblems) {
        scan.problems->push_back(text);
        scan.problemBytes += text.size() + sizeof(std::string);
    } else {
        ++scan.problemsNotShown;
    }
}

std::uint32_t readLe32(const char* bytes)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// ---- Compressed input ---------------------------------------------------------------

std::size_t readInput(PackageInput& input, char* buffer, std::size_t size)
{
    if (input.file) return std::fread(buffer, 1, size, input.file);
    std::size_t n = std::min(size, input.size - input.position);
    if (n > 0) std::memcpy(buffer, input.bytes + input.position, n);
    input.position += n;
    return n;
}

// Keeps the unread bytes and appends one more chunk after them.
void fillInput(Scan& scan)
{
    if (scan.inputEnded) return;
    if (scan.inBegin > 0) {
        std::memmove(scan.in.data(), scan.in.data() + scan.inBegin, scan.inEnd - scan.inBegin);
        scan.inStart += scan.inBegin;
        scan.inEnd -= scan.inBegin;
        scan.inBegin = 0;
    }
    if (scan.in.size() < scan.inEnd + kInputChunk) scan.in.resize(scan.inEnd + kInputChunk);
    std::size_t got = readInput(*scan.input, scan.in.data() + scan.inEnd, kInputChunk);
    scan.inEnd += got;
    if (got == 0) scan.inputEnded = true;
}

std::uint64_t inputPosition(const Scan& scan)
{
    return scan.inStart + scan.inBegin;
}

// ---- The offset record --------------------------------------------------------------

// Finds the first record and counts the others within the program part, reading the
// file strictly forward. Leaves the input at the package offset; false when there is
// no package to read.
bool findPackage(Scan& scan)
{
    PackageListing& l = *scan.listing;
    const char* marker = wbformat::kOffsetMarker;
    const std::size_t recordSize = wbformat::kOffsetRecordSize;
    int records = 0;
    for (;;) {
        while (scan.inEnd - scan.inBegin < recordSize && !scan.inputEnded) fillInput(scan);
        std::size_t available = scan.inEnd - scan.inBegin;
        if (available < recordSize) {
            // What is left cannot hold a whole record; a marker here was cut short.
            std::string tail(scan.in.data() + scan.inBegin, available);
            if (records == 0 && tail.find(std::string(marker, wbformat::kOffsetMarkerSize)) != std::string::npos)
                addProblem(scan, "the file ends inside the package offset record");
            break;
        }
        // Candidate records must lie wholly in the bytes read so far and, once the
        // offset is known, wholly in the program part.
        std::uint64_t lastStart = inputPosition(scan) + available - recordSize;
        if (records > 0) {
            if (l.packageOffset < recordSize || inputPosition(scan) > l.packageOffset - recordSize) break;
            lastStart = std::min<std::uint64_t>(lastStart, l.packageOffset - recordSize);
        }
        // A match must lie wholly inside the searched range, so the range runs on past
        // the last candidate start by the marker's length.
        std::size_t candidates = static_cast<std::size_t>(lastStart - inputPosition(scan)) + 1;
        const char* begin = scan.in.data() + scan.inBegin;
        const char* end = begin + candidates - 1 + wbformat::kOffsetMarkerSize;
        const char* hit = std::search(begin, end, marker, marker + wbformat::kOffsetMarkerSize);
        if (hit == end) {
            scan.inBegin += candidates;
            continue;
        }
        std::uint64_t at = scan.inStart + (hit - scan.in.data());
        if (records++ == 0) {
            l.foundRecord = true;
            l.recordPosition = at;
            l.packageOffset = readLe32(hit + wbformat::kRecordOffsetAt);
            l.packageLength = readLe32(hit + wbformat::kRecordLengthAt);
            l.packageCrc = readLe32(hit + wbformat::kRecordCrcAt);
            l.codePage = readLe32(hit + wbformat::kRecordCodePageAt);
            l.packageDigest.assign(hit + wbformat::kRecordDigestAt, wbformat::kDigestSize);
        }
        scan.inBegin = (hit - scan.in.data()) + 1;
    }
    if (records == 0) {
        addProblem(scan, "no package offset record (WBPKGOFS) in the file");
        return false;
    }
    if (l.packageOffset == wbformat::kNoPackage) {
        addProblem(scan, "no package attached: the offset word is 0xFFFFFFFF, as in a bare installer stub");
        return false;
    }
    if (records > 1) {
        addProblem(scan, "the package offset record occurs " + std::to_string(records) +
                             " times in the program part; it must occur exactly once");
    }
    if (l.packageOffset < l.recordPosition + recordSize) {
        addProblem(scan, "the package offset " + std::to_string(l.packageOffset) +
                             " lies before the end of the offset record at byte " +
                             std::to_string(l.recordPosition));
        return false;
    }
    // Skip forward to the package.
    while (inputPosition(scan) < l.packageOffset) {
        std::uint64_t skip = std::min<std::uint64_t>(scan.inEnd - scan.inBegin, l.packageOffset - inputPosition(scan));
        scan.inBegin += static_cast<std::size_t>(skip);
        if (inputPosition(scan) == l.packageOffset) break;
        if (scan.inputEnded) {
            addProblem(scan, "the package offset " + std::to_string(l.packageOffset) +
                                 " points past the end of the file (" + std::to_string(inputPosition(scan)) +
                                 " bytes)");
            return false;
        }
        fillInput(scan);
    }
    return true;
}

bool readTotal(Scan& scan)
{
    while (scan.inEnd - scan.inBegin < wbformat::kPackageTotalSize && !scan.inputEnded) fillInput(scan);
    if (scan.inEnd - scan.inBegin < wbformat::kPackageTotalSize) {
        addProblem(scan, "the file ends inside the package total");
        return false;
    }
    scan.listing->haveTotal = true;
    scan.listing->packageTotal = readLe32(scan.in.data() + scan.inBegin);
    scan.inBegin += wbformat::kPackageTotalSize;
    return true;
}

// ---- The decompressed stream --------------------------------------------------------

std::string atStreamByte(const Scan& scan)
{
    return "after " + std::to_string(scan.listing->decompressedSize) + " decompressed bytes";
}

bool startStream(Scan& scan)
{
    while (scan.inEnd - scan.inBegin < 4 && !scan.inputEnded) fillInput(scan);
    const char* head = scan.in.data() + scan.inBegin;
    std::size_t available = scan.inEnd - scan.inBegin;
    if (available == 0) {
        addProblem(scan, "no bzip2 stream after the package total");
        return false;
    }
    if (available >= 4 && std::memcmp(head, "BZh", 3) == 0 && head[3] >= '1' && head[3] <= '9')
        scan.listing->blockSizeDigit = head[3];
    if (BZ2_bzDecompressInit(&scan.bz, 0, 0) != BZ_OK) {
        addProblem(scan, "cannot set up the bzip2 decompressor (out of memory?)");
        return false;
    }
    scan.bzStarted = true;
    scan.out.resize(kOutputChunk);
    return true;
}

// Makes decompressed bytes available; false at the end of the stream or after a failure
// (which is reported here, once).
bool pullStream(Scan& scan)
{
    if (scan.outBegin < scan.outEnd) return true;
    if (scan.streamEnded || scan.streamFailed || !scan.bzStarted) return false;
    std::uint64_t limit = scan.options->maxDecompressed;
    if (limit != 0 && scan.listing->decompressedSize >= limit) {
        addProblem(scan, "stopped reading " + atStreamByte(scan) + ", the reader's limit");
        scan.streamFailed = true;
        return false;
    }
    for (;;) {
        if (scan.inBegin == scan.inEnd) fillInput(scan);
        scan.bz.next_in = scan.in.data() + scan.inBegin;
        scan.bz.avail_in = static_cast<unsigned int>(scan.inEnd - scan.inBegin);
        scan.bz.next_out = scan.out.data();
        scan.bz.avail_out = static_cast<unsigned int>(scan.out.size());
        int status = BZ2_bzDecompress(&scan.bz);
        scan.inBegin = scan.bz.next_in - scan.in.data();
        std::size_t produced = scan.out.size() - scan.bz.avail_out;
        scan.outBegin = 0;
        scan.outEnd = produced;
        scan.listing->decompressedSize += produced;
        if (status == BZ_STREAM_END) {
            scan.streamEnded = true;
            scan.streamBytes = scan.bz.total_in_lo32 | static_cast<std::uint64_t>(scan.bz.total_in_hi32) << 32;
        } else if (status != BZ_OK) {
            scan.outEnd = 0;
            addProblem(scan, status == BZ_DATA_ERROR_MAGIC
                                 ? "the package data is not a bzip2 stream"
                                 : "the bzip2 stream is damaged (" +
                                       std::string(status == BZ_DATA_ERROR ? "data error" : "decompressor error") +
                                       ") " + atStreamByte(scan));
            scan.streamFailed = true;
            return false;
        }
        if (produced > 0) return true;
        if (scan.streamEnded) return false;
        if (scan.inBegin == scan.inEnd && scan.inputEnded) {
            addProblem(scan, "the bzip2 stream is truncated: the file ends " + atStreamByte(scan));
            scan.streamFailed = true;
            return false;
        }
    }
}

// Passes `size` stream bytes to `sink` (or drops them); false when the stream ran out
// first, with `delivered` telling how far it got.
bool takeStream(Scan& scan, char* into, FILE* sink, std::uint64_t size, std::uint64_t& delivered)
{
    delivered = 0;
    while (delivered < size) {
        if (!pullStream(scan)) return false;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(scan.outEnd - scan.outBegin, size - delivered));
        const char* from = scan.out.data() + scan.outBegin;
        if (into) std::memcpy(into + delivered, from, n);
        if (sink && std::fwrite(from, 1, n, sink) != n) {
            addProblem(scan, std::string("cannot write an extracted file: ") + std::strerror(errno));
            scan.extracting = false;
            sink = nullptr;
        }
        scan.outBegin += n;
        delivered += n;
    }
    return true;
}

// Reports the end of the stream in the middle of something, unless the stream failed,
// which was reported already and explains it.
void endedInside(Scan& scan, const std::string& what)
{
    if (!scan.streamFailed) addProblem(scan, "the bzip2 stream ends inside " + what);
}

bool readFixed(Scan& scan, void* into, std::size_t size, const std::string& what)
{
    std::uint64_t delivered;
    if (takeStream(scan, static_cast<char*>(into), nullptr, size, delivered)) return true;
    endedInside(scan, what);
    return false;
}

bool readString(Scan& scan, std::string& text, const std::string& what)
{
    unsigned char length[2];
    if (!readFixed(scan, length, 2, what)) return false;
    text.assign(length[0] | (length[1] << 8), '\0');
    return text.empty() || readFixed(scan, &text[0], text.size(), what);
}

bool readHeaderString(Scan& scan, std::string& text, const std::string& what)
{
    if (!readString(scan, text, "the " + what)) return false;
    if (text.find('\0') != std::string::npos) addProblem(scan, "the " + what + " holds a zero byte");
    return true;
}

bool readHeader(Scan& scan)
{
    PackageListing& l = *scan.listing;
    PackageHeader& h = l.header;
    if (!readHeaderString(scan, h.productName, "product name") ||
        !readHeaderString(scan, h.installDir, "install directory") ||
        !readHeaderString(scan, h.runCommand, "run command") ||
        !readHeaderString(scan, h.webAddress, "web address") ||
        !readHeaderString(scan, h.publisher, "publisher") ||
        !readHeaderString(scan, h.licenceText, "licence text"))
        return false;
    char count[4];
    if (!readFixed(scan, count, 4, "the shortcut count")) return false;
    l.shortcutCount = static_cast<std::int32_t>(readLe32(count));
    if (l.shortcutCount > wbformat::kMaxShortcuts)
        addProblem(scan, "the shortcut count is " + std::to_string(l.shortcutCount) + "; a package holds at most 256");
    if (l.shortcutCount < 0)
        addProblem(scan, "the shortcut count is " + std::to_string(l.shortcutCount) + ", below zero");
    // No more records are read than the installer's table holds: a count of two thousand
    // million would keep the reader busy for half an hour after the count was reported.
    // Where the entry stream would begin after more is then unknown, so reading stops.
    std::int32_t readable = std::min<std::int32_t>(l.shortcutCount, wbformat::kMaxShortcuts);
    for (std::int32_t i = 0; i < readable; ++i) {
        ShortcutSpec s;
        std::string n = "shortcut " + std::to_string(i + 1) + " ";
        if (!readHeaderString(scan, s.linkPath, n + "link") || !readHeaderString(scan, s.target, n + "target") ||
            !readHeaderString(scan, s.workingDir, n + "working directory") ||
            !readHeaderString(scan, s.arguments, n + "arguments") ||
            !readHeaderString(scan, s.description, n + "description"))
            return false;
        l.shortcuts.push_back(s);
    }
    if (l.shortcutCount > wbformat::kMaxShortcuts) {
        addProblem(scan, "the shortcut records past the 256th and the entries after them are not read");
        return false;
    }
    l.haveHeader = true;
    return true;
}

// ---- The entry stream ---------------------------------------------------------------

std::string joinPath(const std::string& dir, const std::string& name)
{
    return dir.empty() ? name : dir + "/" + name;
}

// A name or path as a problem shows it: at most kShownCharacters characters, the rest
// cut off with "...". Nested names of 64 KiB each would make each line, and all of them,
// grow without bound.
constexpr std::size_t kShownCharacters = 256;

std::string shortened(const std::string& shown)
{
    std::size_t at = 0;
    for (std::size_t characters = 0; at < shown.size(); ++characters) {
        if (characters == kShownCharacters) return shown.substr(0, at) + "...";
        // A UTF-8 sequence is one character: its continuation bytes are 10xxxxxx.
        do {
            ++at;
        } while (at < shown.size() && (static_cast<unsigned char>(shown[at]) & 0xC0) == 0x80);
    }
    return shown;
}

std::string shownName(const std::string& bytes, std::uint32_t codePage)
{
    return shortened(shownText(bytes, codePage));
}

std::string inDirectory(const std::string& dir, std::uint32_t codePage)
{
    return dir.empty() ? "at the top level" : "in " + shownName(dir, codePage);
}

void stopExtracting(Scan& scan)
{
    scan.extracting = false;
}

// A new file only: neither an existing file nor a link planted under the name is written
// through.
FILE* createExtractedFile(const Scan::ExtractDir& dir, const std::string& name)
{
#ifdef _WIN32
    std::string path = (dir.path / fs::path(name)).string();
    int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    FILE* f = ::_fdopen(fd, "wb");
    if (!f) ::_close(fd);
    return f;
#else
    int fd = ::openat(dir.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
    return f;
#endif
}

// Enters (making it when it is not there) the folder `name` below `parent`; false with
// errno set when it cannot be, ELOOP when the name is a symbolic link.
bool openExtractedDir(const Scan::ExtractDir& parent, const std::string& name, Scan::ExtractDir& dir)
{
    dir.path = parent.path / fs::path(name);
#ifdef _WIN32
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(dir.path, ec))) {
        errno = ELOOP;
        return false;
    }
    if (fs::is_directory(dir.path, ec) || fs::create_directory(dir.path, ec)) return true;
    errno = ec ? ec.value() : ENOTDIR;
    return false;
#else
    if (::mkdirat(parent.fd, name.c_str(), 0777) != 0 && errno != EEXIST) return false;
    dir.fd = ::openat(parent.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return dir.fd >= 0;
#endif
}

// The builder's rules beyond the installer's safety, which extraction does not need:
// a name Windows can create, and none twice in a folder.
void checkBuilderNameRules(Scan& scan, const std::string& name, const std::string& dir)
{
    std::string shown = "entry name \"" + shownName(name, scan.listing->codePage) + "\" " + inDirectory(dir, scan.listing->codePage);
    if (!windowsAcceptsName(singleByteView(name))) addProblem(scan, shown + ": " + kWindowsNameRule);
    if (!scan.namesInDir.back().insert(foldNameCase(name, scan.listing->codePage)).second)
        addProblem(scan, shown + ": another entry there has the same name, ignoring case");
}

// Names are created in UTF-8, as the package's code page spells them; one the code page
// does not define keeps its bytes.
std::string extractedName(const Scan& scan, const std::string& name)
{
    std::string utf8;
    return decodeText(name, scan.listing->codePage, utf8) ? utf8 : name;
}

bool checkName(Scan& scan, const std::string& name, const std::string& dir)
{
    // The stored name by characters, as build judged it: in a double-byte code page a
    // character's second byte may be "\" or "|".
    setPathCodePage(scan.listing->codePage);
    std::string view = singleByteView(name);
    checkBuilderNameRules(scan, name, dir);
    // The rule holds for the name as it will be created too: bytes that are safe in one
    // code page can spell a separator or a parent folder in another.
    std::string created = extractedName(scan, name);
    if (wbformat::isSafeEntryName(view.data(), view.size()) &&
        wbformat::isSafeEntryName(created.data(), created.size()))
        return true;
    addProblem(scan, "unsafe entry name \"" + shownName(name, scan.listing->codePage) + "\" " + inDirectory(dir, scan.listing->codePage) +
                         ": " + kUnsafeNameRule);
    if (scan.extracting) {
        addProblem(scan, "extraction stopped at the unsafe name");
        stopExtracting(scan);
    }
    return false;
}

bool readFileEntry(Scan& scan, const std::string& dir)
{
    PackageListing& l = *scan.listing;
    char sizeBytes[4];
    std::string name;
    if (!readFixed(scan, sizeBytes, 4, "a file entry's size") || !readString(scan, name, "a file entry's name"))
        return false;
    std::uint32_t size = readLe32(sizeBytes);
    std::string path = joinPath(dir, name);
    l.entries.push_back({wbformat::kTagFile, path, size});
    ++l.fileCount;
    bool safe = checkName(scan, name, dir);
    FILE* sink = nullptr;
    if (safe && scan.extracting) {
        std::string created = extractedName(scan, name);
        fs::path target = scan.extractDirs.back().path / fs::path(created);
        sink = createExtractedFile(scan.extractDirs.back(), created);
        if (!sink) {
            addProblem(scan, shortened(printable(target.string())) + ": cannot create: " + std::strerror(errno));
            stopExtracting(scan);
        }
    }
    std::uint64_t delivered;
    bool whole = takeStream(scan, nullptr, sink, size, delivered);
    if (sink && std::fclose(sink) != 0 && scan.extracting) {
        addProblem(scan, shortened(printable(path)) + ": cannot write an extracted file: " + std::strerror(errno));
        stopExtracting(scan);
    }
    if (!whole) {
        endedInside(scan, "the data of file \"" + shortened(printable(path)) + "\" (" + std::to_string(delivered) + " of " +
                              std::to_string(size) + " bytes)");
        return false;
    }
    l.sumOfFileSizes += size;
    return true;
}

bool enterDirectory(Scan& scan, std::vector<std::string>& dirs)
{
    std::string name;
    if (!readString(scan, name, "an enter-directory entry's name")) return false;
    const std::string& dir = dirs.back();
    std::string path = joinPath(dir, name);
    scan.listing->entries.push_back({wbformat::kTagEnterDir, path, 0});
    ++scan.listing->directoryCount;
    if (checkName(scan, name, dir) && scan.extracting) {
        Scan::ExtractDir target;
        // Never through a link: one planted in the output folder, or put in place of a
        // folder made here, would take the files that follow wherever it points.
        if (!openExtractedDir(scan.extractDirs.back(), extractedName(scan, name), target)) {
            int why = errno;
            addProblem(scan, shortened(printable(target.path.string())) +
                                 (why == ELOOP ? ": is a symbolic link; extract never writes through one"
                                               : ": cannot create the folder: " + std::string(std::strerror(why))));
            stopExtracting(scan);
        } else {
            scan.extractDirs.push_back(target);
        }
    }
    dirs.push_back(path);
    scan.namesInDir.emplace_back();
    return true;
}

void leaveDirectory(Scan& scan, std::vector<std::string>& dirs)
{
    scan.listing->entries.push_back({wbformat::kTagLeaveDir, dirs.back(), 0});
    if (dirs.size() == 1) {
        addProblem(scan, "a leave-directory entry at the top level has no matching enter-directory entry");
        // The installer would move above its install directory here; so would the files
        // that follow, so nothing more is written.
        if (scan.extracting) {
            addProblem(scan, "extraction stopped at the unmatched leave-directory entry");
            stopExtracting(scan);
        }
        return;
    }
    dirs.pop_back();
    scan.namesInDir.pop_back();
    if (scan.extracting) {
        Scan::closeDir(scan.extractDirs.back());
        scan.extractDirs.pop_back();
    }
}

void readEntries(Scan& scan)
{
    PackageListing& l = *scan.listing;
    std::vector<std::string> dirs(1);
    // Every entry keeps its whole path, so a few bytes of deeply nested folders cost
    // memory that grows with the square of the depth, and every one-byte entry costs a
    // record: the listing has a ceiling. Each entry is charged its record three times (the
    // list's spare room and its move when it grows), its path twice (the folder stack
    // keeps another copy), and its folded name's place in its folder's set of names.
    std::uint64_t listedBytes = 0;
    for (;;) {
        std::size_t listed = l.entries.size();
        std::uint64_t at = l.decompressedSize - (scan.outEnd - scan.outBegin);
        std::uint64_t limit = scan.options->maxListingBytes;
        if (limit != 0 && listedBytes + scan.problemBytes > limit) {
            addProblem(scan, "stopped reading at byte " + std::to_string(at) +
                                 " of the decompressed stream: listing its entries would take more than " +
                                 std::to_string(limit) + " bytes of memory, more than any installation needs");
            scan.streamFailed = true;
            return;
        }
        unsigned char tag;
        std::uint64_t delivered;
        if (!takeStream(scan, reinterpret_cast<char*>(&tag), nullptr, 1, delivered)) break;
        bool ok = true;
        if (tag == wbformat::kTagFile) {
            ok = readFileEntry(scan, dirs.back());
        } else if (tag == wbformat::kTagEnterDir) {
            ok = enterDirectory(scan, dirs);
        } else if (tag == wbformat::kTagLeaveDir) {
            leaveDirectory(scan, dirs);
        } else {
            l.entries.push_back({tag, dirs.back(), 0});
            addProblem(scan, "unknown entry tag " + std::to_string(tag) + " at byte " + std::to_string(at) +
                                 " of the decompressed stream");
        }
        for (; listed < l.entries.size(); ++listed) {
            std::size_t pathBytes = l.entries[listed].path.size() + 1;
            listedBytes += 3 * sizeof(ListedEntry) + 3 * pathBytes + kNameSetNodeBytes;
        }
        if (!ok) return;
    }
    if (scan.streamFailed) return;
    l.complete = true;
    if (dirs.size() > 1) {
        addProblem(scan, "the entry stream ends with " + std::to_string(dirs.size() - 1) +
                             " directories not left, innermost " + shortened(printable(dirs.back())));
    }
    if (l.packageTotal != l.sumOfFileSizes) {
        addProblem(scan, "the package total " + std::to_string(l.packageTotal) +
                             " differs from the sum of the file sizes, " + std::to_string(l.sumOfFileSizes));
    }
}

void countTrailingBytes(Scan& scan)
{
    std::uint64_t trailing = scan.inEnd - scan.inBegin;
    scan.inBegin = scan.inEnd;
    while (!scan.inputEnded) {
        fillInput(scan);
        trailing += scan.inEnd - scan.inBegin;
        scan.inBegin = scan.inEnd;
    }
    scan.listing->trailingBytes = trailing;
}

bool prepareExtraction(Scan& scan)
{
    const std::string& dir = scan.options->extractDir;
    if (dir.empty()) return true;
    // Names are decoded from the record's code page before they are created: one the
    // builder never writes (EBCDIC's spell "../" with bytes the name rule lets pass) is
    // not trusted to decode them. The rest of the package is still read and checked.
    std::uint32_t cp = scan.listing->codePage;
    if (cp != 0 && !isAnsiCodePage(cp)) {
        addProblem(scan, "unknown code page " + std::to_string(cp) + ": nothing extracted");
        return true;
    }
    std::error_code ec;
    fs::path target(dir);
    if (fs::exists(target, ec)) {
        if (!fs::is_directory(target, ec) || !fs::is_empty(target, ec)) {
            addProblem(scan, dir + ": not an empty folder; extract writes only into an empty or new one");
            return false;
        }
    } else if (!fs::create_directories(target, ec)) {
        addProblem(scan, dir + ": cannot create the folder: " + ec.message());
        return false;
    }
    Scan::ExtractDir top;
    top.path = target;
#ifndef _WIN32
    // The folder the user named is taken as it stands, a link to a folder included.
    top.fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top.fd < 0) {
        addProblem(scan, dir + ": cannot open the folder: " + std::strerror(errno));
        return false;
    }
#endif
    scan.extracting = true;
    scan.extractDirs.push_back(top);
    return true;
}

// The installer's own check: the recorded length of bytes from the offset, and their
// CRC-32. Read apart from the scan, which has passed the offset before it knows it.
void checkPackageSum(Scan& scan)
{
    const PackageListing& l = *scan.listing;
    if (!l.foundRecord || l.packageOffset == wbformat::kNoPackage || l.packageLength == 0) return;
    PackageInput& input = *scan.input;
    wbformat::Crc32Table table{};
    std::uint32_t crc = 0;
    Sha256 hash;
    beginSha256(hash);
    std::uint64_t covered = 0;
    if (input.file) {
        std::vector<char> buffer(1 << 20);
        if (std::fseek(input.file, static_cast<long>(l.packageOffset), SEEK_SET) != 0) return;
        while (covered < l.packageLength) {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), l.packageLength - covered));
            std::size_t got = std::fread(buffer.data(), 1, want, input.file);
            crc = wbformat::updateCrc32(table, crc, buffer.data(), got);
            addSha256(hash, buffer.data(), got);
            covered += got;
            if (got < want) break;
        }
    } else if (l.packageOffset < input.size) {
        covered = std::min<std::uint64_t>(l.packageLength, input.size - l.packageOffset);
        crc = wbformat::updateCrc32(table, crc, input.bytes + l.packageOffset, static_cast<std::size_t>(covered));
        addSha256(hash, input.bytes + l.packageOffset, static_cast<std::size_t>(covered));
    }
    // The builder records the package's whole length; a shorter one leaves the rest of the
    // stream out of the installer's check, so damage there would go unseen.
    std::uint64_t streamLength = wbformat::kPackageTotalSize + scan.streamBytes;
    if (scan.streamEnded && covered >= l.packageLength && l.packageLength < streamLength) {
        addProblem(scan, "the record's package length " + std::to_string(l.packageLength) +
                             " is shorter than the package, " + std::to_string(streamLength) +
                             " bytes to the end of its bzip2 stream: the installer would check only part of it");
    }
    if (covered < l.packageLength) {
        addProblem(scan, "the file ends " + std::to_string(covered) + " bytes into the package, whose record says " +
                             std::to_string(l.packageLength) + ": the installer is incomplete");
    } else if (crc != l.packageCrc) {
        char text[96];
        std::snprintf(text, sizeof text, "the package's CRC-32 is %08X, its record says %08X: the installer is damaged",
                      static_cast<unsigned>(crc), static_cast<unsigned>(l.packageCrc));
        addProblem(scan, text);
    }
    // A CRC-32 can be forged for any other package of the same length: only the digest
    // binds the package to the signed stub. A record without one (a tool that predates it)
    // leaves an installer that a swapped file could turn into another.
    std::string digest = endSha256(hash);
    if (l.packageDigest == std::string(wbformat::kDigestSize, '\0')) {
        addProblem(scan, "the record carries no SHA-256 of the package: the installer cannot tell another package "
                         "of the same length and CRC-32 from this one");
    } else if (covered >= l.packageLength && crc == l.packageCrc && digest != l.packageDigest) {
        // Damage changes the CRC-32 too and has been told; this is a package made to match it.
        addProblem(scan, "the package's SHA-256 is " + hexText(digest) + ", its record says " +
                             hexText(l.packageDigest) + ": its CRC-32 matches, so the package was replaced "
                             "by another made to pass that check");
    }
}

// The builder records only code pages it converts to; list and extract cannot show the
// names of any other, nor can the user's Windows be told which one it needs.
void checkRecordCodePage(Scan& scan)
{
    std::uint32_t cp = scan.listing->codePage;
    if (!scan.listing->foundRecord || cp == 0 || isAnsiCodePage(cp)) return;
    addProblem(scan, "the record's code page " + std::to_string(cp) +
                         " is not one the builder offers (874, 932, 936, 949, 950, 1250-1258)");
}

}  // namespace

// Windows refuses these in file names; the installer would silently fail to create the
// file, so the builder refuses such a name and verify reports it, rather than lose it on
// the user's machine. Kept beside the reader, which the fuzz target compiles alone.
bool windowsAcceptsName(const std::string& name)
{
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return false;
    }
    return true;
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

bool readPackage(PackageInput& input, const ReadOptions& options, PackageListing& listing,
                 std::vector<std::string>& problems)
{
    Scan scan;
    scan.input = &input;
    scan.options = &options;
    scan.listing = &listing;
    scan.problems = &problems;
    std::size_t problemsBefore = problems.size();
    // Names and sizes come from the file: a hostile one must not exhaust memory or end
    // the program, so allocation failures end the reading with a problem instead.
    try {
        if (findPackage(scan) && prepareExtraction(scan) && readTotal(scan) && startStream(scan) &&
            readHeader(scan)) {
            readEntries(scan);
        }
        if (scan.streamEnded) countTrailingBytes(scan);
        checkPackageSum(scan);
        checkRecordCodePage(scan);
    } catch (const std::exception& e) {
        addProblem(scan, std::string("reading stopped: ") + e.what());
    }
    if (scan.bzStarted) BZ2_bzDecompressEnd(&scan.bz);
    if (scan.problemsNotShown > 0)
        problems.push_back("... and " + std::to_string(scan.problemsNotShown) + " more problems");
    return problems.size() == problemsBefore;
}

bool readPackageFile(const std::string& path, const ReadOptions& options, PackageListing& listing,
                     std::vector<std::string>& problems)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        problems.push_back("cannot open: " + std::string(std::strerror(errno)));
        return false;
    }
    PackageInput input;
    input.file = f;
    bool sound = readPackage(input, options, listing, problems);
    if (std::ferror(f)) {
        problems.push_back("read error");
        sound = false;
    }
    std::fclose(f);
    return sound;
}

}  // namespace wbpack
