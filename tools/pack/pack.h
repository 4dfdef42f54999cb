// The package builder's library: it turns a manifest and a folder into an installer file
// (installer stub + package total + one bzip2 stream), and reads such a file back to list,
// check or unpack it. The command-line tool wickerbay-pack is a thin layer over this, and
// the installer's end-to-end tests link it to make test installers in-process, so it
// builds on the host and for Windows alike.
//
// Failures are reported as text: a function that can fail returns false and leaves one
// complete message in `error`; the package reader collects every problem it finds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wbpack {

// The six texts at the start of the decompressed stream, in stream order.
struct PackageHeader {
    std::string productName;
    std::string installDir;
    std::string runCommand;   // empty: the installer offers to run nothing
    std::string webAddress;
    std::string publisher;
    std::string licenceText;  // empty: no licence window
};

// One shortcut record, five counted strings in this order.
struct ShortcutSpec {
    std::string linkPath;     // may hold $D, $P, $S, $s
    std::string target;
    std::string workingDir;
    std::string arguments;
    std::string description;
};

enum EntryKind { kEntryFile, kEntryEnterDir, kEntryLeaveDir };

// One entry of the entry stream to be written. A file's bytes come either from disk
// (sourcePath set, size taken when the tree was walked) or from memory (data).
struct PackEntry {
    EntryKind kind = kEntryFile;
    std::string name;         // one path component; empty for a leave entry
    std::uint64_t size = 0;   // file entries only
    std::string sourcePath;   // empty: the bytes are in data
    std::string data;
    // The file the source folder held when it was read (device and inode): what is packed
    // must be that file, not one put in its place since.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

PackEntry memoryFileEntry(const std::string& name, const std::string& data);
PackEntry diskFileEntry(const std::string& name, const std::string& sourcePath, std::uint64_t size);
PackEntry enterDirEntry(const std::string& name);
PackEntry leaveDirEntry();

struct PackageSpec {
    // The Windows code page that every string below is already in; it goes into the
    // package record, so that list and extract can show the names again.
    std::uint32_t codePage = 1252;
    PackageHeader header;
    std::vector<ShortcutSpec> shortcuts;
    std::vector<PackEntry> entries;
};

// Called while a package is written, with the file bytes packed so far and in all.
struct BuildProgress {
    void (*report)(std::uint64_t done, std::uint64_t total, void* context) = nullptr;
    void* context = nullptr;
};

// ---- Building -----------------------------------------------------------------------

// Checks everything the format and the installer demand of a package before a single
// byte is written: the string limits, at most 256 shortcuts, names that are single safe
// components, balanced directories, file sizes and their total within 32 bits. It also
// refuses names that Windows cannot create (<>"|?* and control characters) and two names
// in one directory that differ only in case, since either would lose a file on install.
bool checkPackageSpec(const PackageSpec& package, std::string& error);

// The most bytes the installer's uninstall log of this package can take: checkPackageSpec
// refuses a package whose log could be larger than the uninstaller reads.
std::uint64_t uninstallLogBound(const PackageSpec& package);

// The run command as the package carries it: a program named as it lies in the install
// folder (a full path) becomes that file's full path, quoted; anything else unchanged.
std::string packagedRunCommand(const PackageHeader& header);

// A per-user package: its install directory begins with $L and a backslash (the user's
// local application data folder).
bool isPerUserPackage(const PackageSpec& package);
// Refuses an install directory that begins with $L but is not a folder below it, and a
// per-user package with a shortcut outside the user's own shell folders ($D, $P, $S, $s)
// and the install folder.
bool checkPerUserPackage(const PackageSpec& package, std::string& error);
// Rewrites, in place, the stub manifest's request for administrator rights into one for
// none (a per-user installer); refused when the stub does not carry the request once.
bool requestNoElevation(std::string& stub, std::string& error);

// The permission bits of an installer file whose stub's bits are not known: it is a
// program, and on Linux a program file is marked executable.
constexpr unsigned kInstallerMode = 0755;

// Reads a stub and checks that it carries the package offset record exactly once, still
// unset (offset 0xFFFFFFFF, zero length, checksum, code page and digest). recordPosition receives the record's byte position. mode, when
// given, receives the stub's permission bits (read, write, execute for owner, group and
// others; not set-user-ID and the like), for the installer file made from it.
bool readStubFile(const std::string& path, std::string& stub, std::string& error, unsigned* mode = nullptr);
bool findOffsetRecord(const std::string& stub, std::size_t& recordPosition, std::string& error);

// Writes stub + total + package to outPath, and fills in the record: the offset, the
// length and CRC-32 of the total and stream, and the package's code page. The bytes go to a temporary file beside
// outPath that is renamed into place only when everything succeeded, so a refused or
// failed build never leaves a file behind (nor destroys an older one). The file is
// created with the permission bits `mode`, less the umask like any new file (ignored on
// Windows). threads: how many blocks are compressed at once, 0 for one per core; the
// bytes are the same for any number.
bool buildInstaller(const PackageSpec& package, const std::string& stub, const std::string& outPath,
                    std::string& error, const BuildProgress& progress = BuildProgress(),
                    unsigned mode = kInstallerMode, unsigned threads = 0);

// Writes stub + the given total + one bzip2 stream holding exactly `stream`, with no
// checks at all: for tests that need packages the builder refuses to make (unknown tags,
// unsafe names, unbalanced directories, wrong totals, too many shortcuts). The stub must
// still carry the offset record once. Its file gets kInstallerMode.
bool writeRawInstaller(const std::string& stub, std::uint32_t total, const std::string& stream,
                       const std::string& outPath, std::string& error);

// The package's encodings, for building raw streams and golden bytes.
std::string encodeU32(std::uint32_t value);
std::string encodeCountedString(const std::string& text);
std::string encodeHeader(const PackageHeader& header, const std::vector<ShortcutSpec>& shortcuts);
std::string encodeFileEntry(const std::string& name, const std::string& data);
std::string encodeEnterDir(const std::string& name);
std::string encodeLeaveDir();

// Mistakes the format allows but the user would meet after installing, one line each:
// a shortcut whose target or working folder lies in the install directory but names
// nothing in the package; a vmkick.cfg that does not parse, names no info.archive beside
// it, or holds non-ASCII bytes; no __uninst.exe at the top.
std::vector<std::string> findPackageWarnings(const PackageSpec& package);

// ---- Manifests and source folders --------------------------------------------------

// Loads a manifest (the launcher's configuration syntax, one top-level `package` block)
// into a package: header, licence text with CR LF line ends, shortcuts, and the source
// folder's entry tree. Relative paths are taken from the manifest's folder. The format's
// limits are left to buildInstaller, which checks them for every caller.
bool loadPackageSpec(const std::string& manifestPath, PackageSpec& package, std::string& error);

// Turns the bare LF line ends of a text into CR LF; CR LF stays as it is.
std::string toCrLf(const std::string& text);

// Walks a folder into entries: a top-level __uninst.exe first, then each directory's
// entries in byte-wise name order, directories entered and left around their contents.
// Refuses symbolic links that lead outside the folder, loops, and anything but files
// and directories.
bool collectSourceTree(const std::string& sourceDir, std::vector<PackEntry>& entries, std::string& error);

// ---- From an application to its folder and manifest ----------------------------------

// What a jar tells about itself: the highest class-file major version among its classes
// (the versioned folders of a multi-release jar aside), and whether its manifest names
// the main class that `java -jar` needs.
struct JarFacts {
    int classMajor = 0;
    std::string newestClass;
    bool hasMainClass = false;
};
bool readJarFacts(const std::string& jarPath, JarFacts& facts, std::string& error);

// The Java release that first reads a class-file major version: "1.4" for 48, "1.8" for
// 52, "17" for 61 (the launcher's own way of writing versions).
std::string javaVersionOfClassMajor(int major);

// What `wickerbay-pack app` is given; empty strings are options left out.
struct AppSpec {
    std::string jar, name, publisher, version, java, runtime, licence, resources, website;
    std::string programsDir;   // where vmkick.exe and __uninst.exe are taken from
    bool perUser = false;      // into the user's own programs folder, $L\Programs\NAME
};

// Writes into `dir` (which must be empty or new) what a packager would put together by
// hand: app/ with the jar, vmkick.exe, __uninst.exe, vmkick.cfg (title, archive, the
// oldest Java, the bundled runtime's path), the runtime and the resources; the licence;
// and package.cfg with the install folder in Program Files (or, per user, below $L), the run command and the
// desktop and programs-menu shortcuts. `summary` receives one line per choice made.
bool emitApp(const AppSpec& app, const std::string& dir, std::vector<std::string>& summary, std::string& error);

// ---- Reading ------------------------------------------------------------------------

// What the reader reads from: an open file, or bytes in memory (file == nullptr).
struct PackageInput {
    FILE* file = nullptr;
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

struct ListedEntry {
    int tag = 0;              // kTagFile, kTagEnterDir, kTagLeaveDir, or an unknown tag
    std::string path;         // the entry's path below the install directory, '/'-joined
    std::uint32_t size = 0;   // file entries only
};

struct PackageListing {
    bool foundRecord = false;
    std::uint64_t recordPosition = 0;
    std::uint32_t packageOffset = 0;
    std::uint32_t packageLength = 0;       // 0: attached without a length, not checked
    std::uint32_t packageCrc = 0;
    std::uint32_t codePage = 0;            // 0: not recorded
    std::string packageDigest;             // the record's SHA-256, 32 bytes; zeros: not recorded
    bool haveTotal = false;
    std::uint32_t packageTotal = 0;
    char blockSizeDigit = 0;  // '1'..'9' when the stream begins with "BZh"
    bool haveHeader = false;
    PackageHeader header;
    std::int32_t shortcutCount = 0;
    std::vector<ShortcutSpec> shortcuts;   // at most 256 are kept
    std::vector<ListedEntry> entries;
    std::uint64_t fileCount = 0;
    std::uint64_t directoryCount = 0;
    std::uint64_t sumOfFileSizes = 0;
    std::uint64_t decompressedSize = 0;
    std::uint64_t trailingBytes = 0;       // after the end of the bzip2 stream
    bool complete = false;                 // the whole stream was read to its end
};

struct ReadOptions {
    std::string extractDir;               // set: recreate the entry tree below it
    std::uint64_t maxDecompressed = 0;    // 0: no limit; the fuzzer bounds its work
    // The memory the listing may take (0: no limit), its entries and their paths together:
    // a few kilobytes of bzip2 expand to millions of one-byte entries, and deep nesting
    // makes the paths grow with the square of the stream. No real package comes near this.
    std::uint64_t maxListingBytes = 256u << 20;
    std::size_t maxProblems = 50;         // further problems are only counted
};

// Reads a whole installer file: offset record, package total, bzip2 stream, header,
// shortcuts, entries. Every problem becomes one line in `problems`; the result is true
// when there are none. The reader never trusts a length it has not checked.
bool readPackage(PackageInput& input, const ReadOptions& options, PackageListing& listing,
                 std::vector<std::string>& problems);
bool readPackageFile(const std::string& path, const ReadOptions& options, PackageListing& listing,
                     std::vector<std::string>& problems);

// ---- The package record's digest -----------------------------------------------------

// SHA-256, fed in pieces: beginSha256, addSha256 as often as needed, endSha256 gives the
// 32 bytes of the digest.
struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t length;
    unsigned char block[64];
    std::size_t held;
};
void beginSha256(Sha256& hash);
void addSha256(Sha256& hash, const void* data, std::size_t size);
std::string endSha256(Sha256& hash);
std::string sha256Of(const std::string& bytes);

// Bytes as lower-case hexadecimal digits, two per byte.
std::string hexText(const std::string& bytes);

// ---- Code pages ---------------------------------------------------------------------

// True for a Windows ANSI code page (874, 932, 936, 949, 950, 1250-1258) that this system
// can convert to.
bool isAnsiCodePage(std::uint32_t codePage);

// UTF-8 to the code page. On failure `why` completes a sentence that names the thing
// ("... holds the character "中" (U+4E2D) at byte 5, which code page 1252 lacks", or
// "... holds a byte 0xC3 at byte 4 that is not UTF-8").
bool encodeText(const std::string& utf8, std::uint32_t codePage, std::string& encoded, std::string& why);

// The code page's bytes as UTF-8; false for code page 0 (not recorded) or bytes the code
// page does not define.
bool decodeText(const std::string& bytes, std::uint32_t codePage, std::string& utf8);

// A package's text for the terminal: decoded to UTF-8 with control characters escaped, or
// printable() when it cannot be decoded.
std::string shownText(const std::string& bytes, std::uint32_t codePage);

// A name as Windows compares file names, ignoring case: letters of the Latin, Greek and
// Cyrillic scripts folded to lower case (the name decoded from the code page first).
std::string foldNameCase(const std::string& name, std::uint32_t codePage);

// Valid UTF-8 with its control characters escaped; other bytes as printable() gives them.
std::string printableUtf8(const std::string& utf8);

// What a failed conversion is blamed on: the prefix of the header and shortcut keys
// ("package.cfg: package: "), the licence file, and the source folder the entries' paths
// are shown below.
struct TextLabels {
    std::string fields;
    std::string licence = "licence text";
    std::string sourceDir;
};

// Converts every string of a package given in UTF-8 (header, shortcuts, entry names) to
// package.codePage, so that the format's checks then apply to the bytes that ship.
bool encodePackageSpec(PackageSpec& package, const TextLabels& labels, std::string& error);

// A name or text as printable ASCII: other bytes become \xNN, so a hostile package
// cannot write control sequences to the terminal.
std::string printable(const std::string& text);

}  // namespace wbpack
