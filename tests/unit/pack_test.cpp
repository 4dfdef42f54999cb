// Unit tests of the package builder's library (tools/pack): the package's exact bytes,
// the source folder's order, manifests, every refusal (each leaving no output file), and
// the reader behind list, verify and extract on sound, damaged and hostile packages.
// Runs on the host and, built for Windows, under Wine.
#include "common/package_format.h"
#include "tools/pack/pack.h"
#include "tests/unit/bzip2_test_builds.h"
#include "tests/unit/pack_test_files.h"

#include <gtest/gtest.h>

#include <bzlib.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace wbpack;
using namespace packtest;

namespace {

std::string decompress(const std::string& compressed)
{
    std::vector<char> out(1 << 16);
    unsigned int size = static_cast<unsigned int>(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffDecompress(out.data(), &size, const_cast<char*>(compressed.data()),
                                         static_cast<unsigned int>(compressed.size()), 0, 0),
              BZ_OK);
    return std::string(out.data(), size);
}

PackageSpec smallSpec()
{
    PackageSpec package;
    package.header = {"Hi", "C:\\A", "", "w", "", "L\r\n"};
    package.shortcuts.push_back({"l", "t", "", "-x", "d"});
    package.entries = {enterDirEntry("d"), memoryFileEntry("x.txt", "12345"), leaveDirEntry(),
                       memoryFileEntry("top", "ab")};
    return package;
}

std::vector<std::string> verifyFile(const std::string& path, PackageListing* listingOut = nullptr,
                                    const std::string& extractDir = "")
{
    ReadOptions options;
    options.extractDir = extractDir;
    PackageListing listing;
    std::vector<std::string> problems;
    bool sound = readPackageFile(path, options, listing, problems);
    EXPECT_EQ(sound, problems.empty());
    if (listingOut) *listingOut = listing;
    return problems;
}

using Problems = std::vector<std::string>;

const char kRule[] = "a name must be a single path component (no \\ / or :), not a device name such as CON, NUL, "
                     "COM1 or LPT1, and not end in a dot or a blank";

// "F name size", "D name", "L" per entry: order and content of an entry list at a glance.
std::string describe(const std::vector<PackEntry>& entries)
{
    std::string out;
    for (const PackEntry& e : entries) {
        if (!out.empty()) out += ", ";
        if (e.kind == kEntryFile) out += "F " + e.name + " " + std::to_string(e.size);
        if (e.kind == kEntryEnterDir) out += "D " + e.name;
        if (e.kind == kEntryLeaveDir) out += "L";
    }
    return out;
}

// Every path below root with file contents, sorted: two trees compare as two strings.
std::string treeOf(const fs::path& root)
{
    std::vector<std::string> lines;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).generic_string();
        lines.push_back(e.is_directory() ? rel + "/" : rel + "=" + readFile(e.path()));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

// ---- Exact bytes --------------------------------------------------------------------

TEST(PackageBytes, EncodingsMatchTheFormat)
{
    EXPECT_EQ(encodeCountedString("abc"), bytes({0x03, 0x00, 'a', 'b', 'c'}));
    EXPECT_EQ(encodeCountedString(""), bytes({0x00, 0x00}));
    EXPECT_EQ(encodeCountedString(std::string(300, 'a')).substr(0, 2), bytes({0x2C, 0x01}));
    EXPECT_EQ(encodeEnterDir("d"), bytes({0x01, 0x01, 0x00, 'd'}));
    EXPECT_EQ(encodeLeaveDir(), bytes({0x02}));
    EXPECT_EQ(encodeFileEntry("x.txt", "hello"),
              bytes({0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 'x', '.', 't', 'x', 't', 'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(encodeU32(0x12345678), bytes({0x78, 0x56, 0x34, 0x12}));
}

TEST(PackageBytes, Crc32IsZlibsAndTakesPiecesInTurn)
{
    wbformat::Crc32Table table{};
    EXPECT_EQ(wbformat::updateCrc32(table, 0, "123456789", 9), 0xCBF43926u);   // the standard check value
    EXPECT_EQ(wbformat::updateCrc32(table, wbformat::updateCrc32(table, 0, "1234", 4), "56789", 5), 0xCBF43926u);
    EXPECT_EQ(wbformat::updateCrc32(table, 0, "", 0), 0u);
    // Eight bytes at a time and the rest one by one, in pieces of every length.
    const std::string text = "The quick brown fox jumps over the lazy dog";
    for (std::size_t cut = 0; cut <= text.size(); ++cut)
        EXPECT_EQ(wbformat::updateCrc32(table, wbformat::updateCrc32(table, 0, text.data(), cut), text.data() + cut,
                                        text.size() - cut),
                  0x414FA339u) << cut;
}

TEST(PackageBytes, Sha256IsTheStandardsAndTakesPiecesInTurn)
{
    // The examples of FIPS 180-4, a million a's among them.
    EXPECT_EQ(hexText(sha256Of("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexText(sha256Of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(hexText(sha256Of(twoBlocks)), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hexText(sha256Of(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Pieces of every length up to two blocks, and lengths on each side of the padding's edge.
    const std::string text = noise(200, 3);
    for (std::size_t cut = 0; cut <= 130; ++cut) {
        Sha256 hash;
        beginSha256(hash);
        addSha256(hash, text.data(), cut);
        addSha256(hash, text.data() + cut, text.size() - cut);
        EXPECT_EQ(endSha256(hash), sha256Of(text)) << cut;
    }
    EXPECT_EQ(hexText(sha256Of(std::string(55, 'a'))), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(hexText(sha256Of(std::string(56, 'a'))), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(hexText(sha256Of(std::string(64, 'a'))), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(PackageBytes, InstallerIsPatchedStubThenTotalThenOneBzip2Stream)
{
    TempDir dir;
    std::string stub = makeStub(), error;
    ASSERT_TRUE(buildInstaller(smallSpec(), stub, dir / "Setup.exe", error)) << error;
    std::string file = readFile(dir / "Setup.exe");

    // The record: the offset, then the length and CRC-32 of everything after the stub, then
    // the code page (1252 = 0x04E4), then the SHA-256 of the same bytes.
    std::string package = file.substr(stub.size());
    wbformat::Crc32Table table{};
    std::string patched = stub;
    patched.replace(110, 48, bytes({static_cast<int>(stub.size()), 0, 0, 0}) +
                                 encodeU32(static_cast<std::uint32_t>(package.size())) +
                                 encodeU32(wbformat::updateCrc32(table, 0, package.data(), package.size())) +
                                 bytes({0xE4, 0x04, 0, 0}) + sha256Of(package));
    ASSERT_EQ(stub.size(), 167u);
    EXPECT_EQ(file.substr(0, stub.size()), patched);
    EXPECT_EQ(file.substr(stub.size(), 4), bytes({7, 0, 0, 0}));

    std::string expected = bytes({2, 0, 'H', 'i', 4, 0, 'C', ':', '\\', 'A', 0, 0, 1, 0, 'w', 0, 0, 3, 0, 'L', '\r', '\n',
                                  1, 0, 0, 0, 1, 0, 'l', 1, 0, 't', 0, 0, 2, 0, '-', 'x', 1, 0, 'd',
                                  1, 1, 0, 'd',
                                  0, 5, 0, 0, 0, 5, 0, 'x', '.', 't', 'x', 't', '1', '2', '3', '4', '5',
                                  2,
                                  0, 2, 0, 0, 0, 3, 0, 't', 'o', 'p', 'a', 'b'});
    std::string compressed = file.substr(stub.size() + 4);
    EXPECT_EQ(compressed.substr(0, 4), "BZh9");
    EXPECT_EQ(decompress(compressed), expected);

    // The streaming writer makes exactly what the library makes of the whole at once.
    std::vector<char> reference(expected.size() * 2 + 600);
    unsigned int referenceSize = static_cast<unsigned int>(reference.size());
    ASSERT_EQ(BZ2_bzBuffToBuffCompress(reference.data(), &referenceSize, const_cast<char*>(expected.data()),
                                       static_cast<unsigned int>(expected.size()), 9, 0, 0),
              BZ_OK);
    EXPECT_EQ(compressed, std::string(reference.data(), referenceSize));
}

TEST(PackageBytes, DataAcrossManyBuffersArrivesWholeWithProgressToTheEnd)
{
    TempDir dir;
    std::string big = noise(3 * 1024 * 1024 + 17, 1), exact = noise(1024 * 1024, 2);
    writeFile(dir / "src/big.bin", big);
    PackageSpec package;
    package.header.installDir = "C:\\A";
    package.entries = {diskFileEntry("big.bin", dir / "src/big.bin", big.size()), memoryFileEntry("exact", exact)};
    struct Seen {
        std::uint64_t last = 0, total = 0;
        bool monotonic = true;
    } seen;
    BuildProgress progress;
    progress.context = &seen;
    progress.report = [](std::uint64_t done, std::uint64_t total, void* context) {
        Seen& s = *static_cast<Seen*>(context);
        s.monotonic = s.monotonic && done >= s.last;
        s.last = done;
        s.total = total;
    };
    std::string error;
    ASSERT_TRUE(buildInstaller(package, makeStub(), dir / "Setup.exe", error, progress)) << error;
    EXPECT_TRUE(seen.monotonic);
    EXPECT_EQ(seen.last, big.size() + exact.size());
    EXPECT_EQ(seen.total, big.size() + exact.size());

    EXPECT_EQ(verifyFile(dir / "Setup.exe", nullptr, dir / "out"), Problems{});
    EXPECT_TRUE(readFile(dir / "out/big.bin") == big);
    EXPECT_TRUE(readFile(dir / "out/exact") == exact);
}

// ---- Source folders and manifests ---------------------------------------------------

TEST(SourceTree, UninstallerFirstThenByteOrderDirectoriesAroundTheirContents)
{
    TempDir dir;
    for (const char* name : {"b.txt", "dir/z", "dir/y", "A.txt", "_x", "__uninst.exe", "dir/__uninst.exe"})
        writeFile(dir.path / "src" / name, name);
    fs::create_directories(dir.path / "src/empty");
    std::vector<PackEntry> entries;
    std::string error;
    ASSERT_TRUE(collectSourceTree(dir / "src", entries, error)) << error;
    EXPECT_EQ(describe(entries), "F __uninst.exe 12, F A.txt 5, F _x 2, F b.txt 5, D dir, F __uninst.exe 16, "
                                 "F y 5, F z 5, L, D empty, L");
}

#ifndef _WIN32
TEST(SourceTree, SymbolicLinksInsideAreFollowedOutsideAndLoopsRefused)
{
    TempDir dir;
    writeFile(dir / "src/real/f", "data");
    writeFile(dir / "secret", "outside");
    fs::create_symlink("real/f", dir.path / "src/inner");
    std::vector<PackEntry> entries;
    std::string error;
    ASSERT_TRUE(collectSourceTree(dir / "src", entries, error)) << error;
    EXPECT_EQ(describe(entries), "F inner 4, D real, F f 4, L");

    fs::create_symlink("../../secret", dir.path / "src/real/leak");
    entries.clear();
    EXPECT_FALSE(collectSourceTree(dir / "src", entries, error));
    EXPECT_EQ(error, dir / "src/real/leak" + ": the symbolic link leads outside the source folder, to " +
                         fs::canonical(dir.path / "secret").string());

    fs::remove(dir.path / "src/real/leak");
    fs::create_directory_symlink("..", dir.path / "src/real/loop");
    entries.clear();
    EXPECT_FALSE(collectSourceTree(dir / "src", entries, error));
    EXPECT_EQ(error, dir / "src/real/loop" + ": the symbolic link leads back into a folder that contains it");
}
#endif

TEST(Manifest, LicenceLineEndsBecomeCrLfAndNothingElseChanges)
{
    EXPECT_EQ(toCrLf("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(toCrLf("\n\n"), "\r\n\r\n");
    EXPECT_EQ(toCrLf("a\rb\tc"), "a\rb\tc");
    EXPECT_EQ(toCrLf("no line end"), "no line end");
}

const char kManifest[] =
    "package {\n"
    "  product     = \"Hello\"\n"
    "  installDir  = \"C:\\\\Program Files\\\\Hello\"\n"
    "  run         = \"vmkick.exe\"\n"
    "  website     = \"https://example.org/\"\n"
    "  publisher   = \"Example\"\n"
    "  licence     = \"LICENSE.txt\"        # a text file\n"
    "  source      = \"app\"\n"
    "  shortcut { link = \"$D\\\\Hello.lnk\"  target = \"C:\\\\Program Files\\\\Hello\\\\vmkick.exe\"\n"
    "             workingDir = \"C:\\\\Program Files\\\\Hello\"  arguments = \"\"  description = \"Hello\" }\n"
    "  shortcut { link = \"$P\\\\Hello\\\\Uninstall.lnk\" target = \"C:\\\\Program Files\\\\Hello\\\\__uninst.exe\" }\n"
    "}\n";

TEST(Manifest, AllKeysSiblingShortcutsAndPathsBesideTheManifest)
{
    TempDir dir;
    writeFile(dir / "m/hello.cfg", kManifest);
    writeFile(dir / "m/LICENSE.txt", "one\ntwo\r\n");
    writeFile(dir / "m/app/vmkick.exe", "exe");
    PackageSpec package;
    std::string error;
    ASSERT_TRUE(loadPackageSpec(dir / "m/hello.cfg", package, error)) << error;
    const PackageHeader& h = package.header;
    EXPECT_EQ(h.productName, "Hello");
    EXPECT_EQ(h.installDir, "C:\\Program Files\\Hello");
    EXPECT_EQ(h.runCommand, "vmkick.exe");
    EXPECT_EQ(h.webAddress, "https://example.org/");
    EXPECT_EQ(h.publisher, "Example");
    EXPECT_EQ(h.licenceText, "one\r\ntwo\r\n");
    ASSERT_EQ(package.shortcuts.size(), 2u);
    EXPECT_EQ(package.shortcuts[0].linkPath, "$D\\Hello.lnk");
    EXPECT_EQ(package.shortcuts[0].workingDir, "C:\\Program Files\\Hello");
    EXPECT_EQ(package.shortcuts[0].description, "Hello");
    EXPECT_EQ(package.shortcuts[1].linkPath, "$P\\Hello\\Uninstall.lnk");
    EXPECT_EQ(package.shortcuts[1].target, "C:\\Program Files\\Hello\\__uninst.exe");
    EXPECT_EQ(package.shortcuts[1].workingDir, "");
    EXPECT_EQ(describe(package.entries), "F vmkick.exe 3");
}

TEST(Manifest, TextsAndNamesAreConvertedToTheCodePageOrRefusedNamingTheCharacter)
{
    struct Case {
        std::string codePage;   // "" leaves the key out: 1252
        std::string product;    // UTF-8, and also the one file's name
        std::string expected;   // the package's bytes, or the refusal after the manifest's path
    };
    const std::vector<Case> cases = {
        {"", "Caf\u00e9 Cr\u00e8me", "Caf\xE9 Cr\xE8me"},
        {"1251", "\u041f\u0440\u0438", "\xCF\xF0\xE8"},
        {"1250", "\u017dlu\u0165", "\x8Elu\x9D"},
        {"932", "\u65e5\u672c", "\x93\xFA\x96\x7B"},
        {"936", "\u4e2d\u6587", "\xD6\xD0\xCE\xC4"},
        {"932", "\uff5e\uff21", "\x81\x60\x82\x60"},
        {"1253", "\u03a3\u03c3\u03c2", "\xD3\xF3\xF2"},
        {"1254", "\u0130\u0131\u015f", "\xDD\xFD\xFE"},
        {"1258", "\u01a0\u01a1 e\u0301", "\xD5\xF5 e\xEC"},
        {"1252", "\u4e2d", ": package: product holds the character \"\u4e2d\" (U+4E2D) at byte 1, which code page 1252 lacks"},
        {"1251", "Caf\u00e9", ": package: product holds the character \"\u00e9\" (U+00E9) at byte 4, which code page 1251 lacks"},
        {"", "Caf\xC3(", ": package: product holds a byte 0xC3 at byte 4 that is not UTF-8"},
        // Windows' code page only, never a character the host's converter puts in its place:
        // not U+FF5E for U+301C, not a backslash for the yen sign, not e and a combining
        // mark for the precomposed letter.
        {"932", "x\u301c", ": package: product holds the character \"\u301c\" (U+301C) at byte 2, which code page 932 lacks"},
        {"932", "\u00a5", ": package: product holds the character \"\u00a5\" (U+00A5) at byte 1, which code page 932 lacks"},
        {"1258", "\u1ebf", ": package: product holds the character \"\u1ebf\" (U+1EBF) at byte 1, which code page 1258 lacks"},
        {"1253", "\u0130", ": package: product holds the character \"\u0130\" (U+0130) at byte 1, which code page 1253 lacks"},
        {"65001", "P", ": package: codepage \"65001\" is not a Windows ANSI code page this system converts to (874, 932, "
                       "936, 949, 950, 1250-1258)"},
        {"12x", "P", ": package: codepage \"12x\" is not a Windows ANSI code page this system converts to (874, 932, "
                     "936, 949, 950, 1250-1258)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage + " " + c.product);
        TempDir dir;
        writeFile(dir / "m.cfg", "package { product = \"" + c.product + "\" installDir = \"C:\\\\" + c.product +
                                     "\" source = \"app\"" + (c.codePage.empty() ? "" : " codepage = \"" + c.codePage + "\"") +
                                     " }");
        writeFile(dir / "app/f", "x");
        PackageSpec package;
        std::string error;
        bool loaded = loadPackageSpec(dir / "m.cfg", package, error);
        if (c.expected[0] == ':') {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(error, dir / "m.cfg" + c.expected);
            continue;
        }
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(package.codePage, c.codePage.empty() ? 1252u : std::stoul(c.codePage));
        EXPECT_EQ(package.header.productName, c.expected);
        EXPECT_EQ(package.header.installDir, "C:\\" + c.expected);
#ifndef _WIN32
        // Entry names too, taken from the file system in UTF-8, as Linux keeps them.
        fs::remove(dir / "app/f");
        writeFile(dir / ("app/" + c.product + ".txt"), "x");
        package = PackageSpec();
        ASSERT_TRUE(loadPackageSpec(dir / "m.cfg", package, error)) << error;
        EXPECT_EQ(package.entries[0].name, c.expected + ".txt");
#endif
        // Shown in UTF-8 again by list and extract.
        EXPECT_EQ(shownText(package.header.productName, package.codePage), c.product);
    }
    PackageSpec package;
    std::string error;
#ifndef _WIN32
    // A name is refused naming its path in the source folder.
    TempDir dir;
    writeFile(dir / "m.cfg", "package { product = \"P\" installDir = \"C:\\\\P\" source = \"app\" }");
    writeFile(dir / "app/sub/\u4e2d\u6587.txt", "x");
    EXPECT_FALSE(loadPackageSpec(dir / "m.cfg", package, error));
    EXPECT_EQ(error, dir / "app/sub/\u4e2d\u6587.txt" +
                         ": the name holds the character \"\u4e2d\" (U+4E2D) at byte 1, which code page 1252 lacks");
#endif
    // The format's limits hold for the converted bytes: 40000 two-byte UTF-8 characters
    // are 40000 bytes in code page 1252.
    std::string longName;
    for (int i = 0; i < 40000; ++i) longName += "\u00e9";
    package = PackageSpec();
    package.entries = {memoryFileEntry(longName, "x")};
    ASSERT_TRUE(encodePackageSpec(package, TextLabels(), error)) << error;
    EXPECT_EQ(package.entries[0].name, std::string(40000, '\xE9'));

    // Two names in one folder are the same name when Windows' file systems take them for
    // one: equal after the simple uppercase mapping of each character.
    struct Pair {
        std::uint32_t codePage;
        std::string first, second;   // code page bytes
        std::string clash;           // the second as shown, when the two clash
    };
    const Pair pairs[] = {
        {1252, "Caf\xE9", "CAF\xC9", "CAF\u00c9"},
        {1252, "\xDF", "SS", ""},                           // sharp s has no one-letter capital
        {1251, "\xCF\xF0\xE8", "\xEF\xD0\xC8", "\u043f\u0420\u0418"},   // При, пРИ
        {1251, "\xB8", "\xA8", "\u0401"},                   // ё, Ё
        {932, "\x82\x60", "\x82\x81", "\uff41"},            // fullwidth A, a
        {932, "\x83\xBF", "\x83\x9F", "\u0391"},            // Greek alpha, Alpha
        {1258, "\xD5", "\xF5", "\u01a1"},                   // O with horn
        {1253, "\xF2", "\xF3", "\u03c3"},                   // final and plain sigma
        {1253, "\xD3", "\xF2", "\u03c2"},
        {1254, "\xDD", "\xFD", ""},                         // dotted capital I, dotless i
        {1254, "\xDD", "i", ""},
        {1254, "\xFD", "I", "I"},
    };
    for (const Pair& c : pairs) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + c.first + " " + c.second);
        package = PackageSpec();
        package.codePage = c.codePage;
        package.entries = {memoryFileEntry(c.first, "1"), memoryFileEntry(c.second, "2")};
        EXPECT_EQ(checkPackageSpec(package, error), c.clash.empty());
        if (!c.clash.empty()) {
            EXPECT_EQ(error, "entry name \"" + c.clash + "\" at the top level: another entry there has the same name, "
                                                         "ignoring case");
        }
    }

    // Each character of a single-byte code page comes back as its byte.
    for (std::uint32_t codePage : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u}) {
        for (int b = 0x80; b < 0x100; ++b) {
            std::string utf8, bytes, why;
            if (!decodeText(std::string(1, static_cast<char>(b)), codePage, utf8)) continue;
            EXPECT_TRUE(encodeText(utf8, codePage, bytes, why) && bytes == std::string(1, static_cast<char>(b)))
                << codePage << " byte " << b << ": " << why;
        }
    }
    // Bytes the code page cannot decode (a lead byte without its trail) are shown as bytes.
    EXPECT_EQ(shownText("a\x81\x01", 932), "a\\x81\\x01");
    EXPECT_EQ(shownText("a\x01", 1252), "a\\u0001");
    EXPECT_EQ(shownText("\xE9", 0), "\\xE9");
}

TEST(Warnings, MistakesTheFormatAllowsAreNamedOneLineEach)
{
    const std::string cfg = "info { archive = \"app.jar\" }\n";
    // A package that draws no warning, and what each change to it draws.
    auto sound = [&] {
        PackageSpec p;
        p.header = {"P", "C:\\Apps\\P\\", "", "", "", ""};
        p.shortcuts = {{"$D\\P.lnk", "C:\\apps\\p\\BIN\\vmkick.exe", "C:\\Apps\\P\\bin", "", ""},
                       {"$D\\Web.lnk", "https://example.org/", "", "", ""},
                       {"$D\\Root.lnk", "C:\\Apps\\P\\__uninst.exe", "C:\\Apps\\P", "", ""}};
        p.entries = {memoryFileEntry("__uninst.exe", "u"), enterDirEntry("bin"), memoryFileEntry("app.jar", "j"),
                     memoryFileEntry("vmkick.cfg", cfg), memoryFileEntry("vmkick.exe", "v"), leaveDirEntry()};
        return p;
    };
    struct Case {
        const char* what;
        std::function<void(PackageSpec&)> change;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        {"none", [](PackageSpec&) {}, {}},
        {"target names nothing",
         [](PackageSpec& p) { p.shortcuts[0].target = "C:\\Apps\\P\\bin\\vmkik.exe"; },
         {"shortcut 1: the target C:\\Apps\\P\\bin\\vmkik.exe lies in the install directory but names nothing in "
          "the package"}},
        {"working folder names nothing",
         [](PackageSpec& p) { p.shortcuts[2].workingDir = "C:\\Apps\\P\\Caf\xE9"; },
         {"shortcut 3: the working folder C:\\Apps\\P\\Caf\u00e9 lies in the install directory but names nothing "
          "in the package"}},
        {"archive names no file beside it",
         [](PackageSpec& p) { p.entries[3].data = "info { archive = \"lib/app.jar\" }"; },
         {"bin\\vmkick.cfg: info.archive \"lib/app.jar\" names no file beside it"}},
        {"no archive", [](PackageSpec& p) { p.entries[3].data = "info { title = \"P\" }"; },
         {"bin\\vmkick.cfg names no info.archive; the launcher cannot start the application"}},
        {"does not parse",
         [&](PackageSpec& p) { p.entries[3].data = cfg + "info {\n title = \"x\"\n}\n}\n jvm { }"; },
         {"bin\\vmkick.cfg does not parse: the launcher stops reading it at line 5"}},
        {"non-ASCII", [&](PackageSpec& p) { p.entries[3].data = "# Caf\xE9\n" + cfg; },
         {"bin\\vmkick.cfg holds non-ASCII bytes; the launcher reads it in the code page of the user's Windows, "
          "whatever the package's"}},
        {"no uninstaller at the top",
         [](PackageSpec& p) { p.entries.erase(p.entries.begin()); p.shortcuts.pop_back(); },
         {"no __uninst.exe at the top of the package: the installed program cannot be removed"}},
    };
    for (const Case& c : cases) {
        PackageSpec package = sound();
        c.change(package);
        EXPECT_EQ(findPackageWarnings(package), c.warnings) << c.what;
    }
}

// Every slip in a manifest is refused, naming the file with the line and column and what
// was expected, or the key, or the file a key names and what is wrong with it; nothing a
// packager wrote is dropped in silence.
TEST(Manifest, SlipsAreRefusedWithTheirPlaceTheKeyOrTheFile)
{
    TempDir dir;
    writeFile(dir / "app/f", "x");
    writeFile(dir / "L.txt", "\xEF\xBB\xBFTerms\n");
    writeFile(dir / "folder/x", "");
    std::string path = dir / "m.cfg";
    const std::string ok = "product=\"P\" source=\"app\" ";
    const std::string okAll = ok + "installDir=\"A\" ";
    const std::string escapes = ": in quoted values \\t \\n \\r \\b and \\e are escapes, so write \\\\ for a backslash";
    struct Case {
        std::string text;
        std::string refusal;   // after the manifest's path; "" when it loads
    };
    const std::vector<Case> cases = {
        // Syntax: the place and what was expected.
        {"package {\n  " + okAll + "\n  run == \"x\"\n  licence = \"L.txt\"\n}\n",
         ":3:8: expected a value for run after \"=\", found \"=\""},
        {"package {\n  " + okAll + "\n}\n}\nshortcut { link = \"a\" }\n", ":4:1: found \"}\" where no block is open"},
        {"package {\n  product = \"Caf\u00e9\" }}\n", ":2:21: found \"}\" where no block is open"},
        {"package {\n  " + okAll + "\n", ":3:1: expected \"}\" to close the block \"package\" opened at 1:1, found the end "
                                         "of the file"},
        {"package {\n  product = \"P\n}\n", ":2:13: the quoted value of product is not closed"},
        {"package {\n  'product = \"P\"\n}\n", ":2:3: the quoted text 'product = \"P\"... is not closed"},
        {"= x\npackage { " + okAll + "}", ":1:1: expected a key name, found \"=\""},
        {"package { " + okAll + "shortcut {{ } }", ":1:61: expected a key name, found \"{\""},
        {"package {\n  \"\" = \"x\"\n}", ":2:3: expected a key name, found an empty quoted text"},
        {"package {\n  run = }", ":2:9: expected a value for run after \"=\", found \"}\""},
        {"package { " + okAll + std::string("}\0", 2), ":1:52: a zero byte; a manifest is a text file"},
        // Keys.
        {"package { " + ok + "installDir = \"C:\\tools\" }", ": package: installDir holds the control character 0x09 at byte 3" + escapes},
        {"package { " + ok + "installDir=\"C:\\\\A\" shortcut { link = \"$D\\b.lnk\" target=\"t\" } }",
         ": package: shortcut 1: link holds the control character 0x1A at byte 3" + escapes},
        {"package { " + ok + "installDir=\"A\" licence_file=\"L\" }",
         ": package: unknown key \"licence_file\" (known: product, installDir, run, website, publisher, licence, source, "
         "codepage, shortcut)"},
        {"package { product=\"P\" installDir=\"A\" }", ": package: source is missing"},
        {"pakage { }", ": unexpected top-level item \"pakage\": a manifest holds one package block"},
        {"# only a comment\n", ": no package block"},
        {"package { " + ok + "installDir=\"" + std::string(16383, 'a') + "\" }",
         ": package: installDir is 16383 bytes or longer; a manifest value holds at most 16382"},
        // Files the keys name.
        {"package { " + okAll + "licence = \"folder\" }", ": package: licence \"folder\": " + dir / "folder" +
                                                            " is a folder, not a text file"},
        {"package { " + okAll + "licence = \"nothing.txt\" }",
         ": package: licence \"nothing.txt\": " + dir / "nothing.txt" + " does not exist"},
        {"package { product=\"P\" installDir=\"A\" source = \"apps\" }",
         ": package: source \"apps\": " + dir / "apps" + " does not exist"},
        {"package { product=\"P\" installDir=\"A\" source = \"L.txt\" }",
         ": package: source \"L.txt\": " + dir / "L.txt" + " is not a folder"},
        // A byte-order mark before the manifest and before the licence is dropped.
        {"\xEF\xBB\xBFpackage { " + okAll + "licence = \"L.txt\" }", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        writeFile(path, c.text);
        PackageSpec package;
        std::string error;
        bool loaded = loadPackageSpec(path, package, error);
        EXPECT_EQ(loaded, c.refusal.empty());
        EXPECT_EQ(loaded ? "" : error, c.refusal.empty() ? "" : path + c.refusal);
        if (loaded) {
            EXPECT_EQ(package.header.licenceText, "Terms\r\n");
        }
    }
    // The manifest itself.
    PackageSpec package;
    std::string error;
    EXPECT_FALSE(loadPackageSpec(dir / "none.cfg", package, error));
    EXPECT_EQ(error, dir / "none.cfg" + ": the manifest does not exist");
    EXPECT_FALSE(loadPackageSpec(dir / "folder", package, error));
    EXPECT_EQ(error, dir / "folder" + ": the manifest is a folder, not a text file");
}

// ---- Refusals: each writes nothing, and an older output file stays as it was -----

struct Refusal : ::testing::Test {
    TempDir dir;
    std::string out = dir / "Setup.exe";
    void SetUp() override { writeFile(out, "older installer"); }
    std::string refuse(const PackageSpec& package, const std::string& stub = makeStub())
    {
        std::string error;
        EXPECT_FALSE(buildInstaller(package, stub, out, error));
        EXPECT_EQ(readFile(out), "older installer");
        EXPECT_FALSE(fs::exists(out + ".wbpack-tmp"));
        return error;
    }
};

TEST_F(Refusal, ShortcutsUpTo256)
{
    PackageSpec package = smallSpec();
    package.shortcuts.assign(256, ShortcutSpec{"$D\\a.lnk", "t", "", "", ""});
    std::string error;
    ASSERT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << error;
    PackageListing listing;
    EXPECT_EQ(verifyFile(dir / "ok.exe", &listing), Problems{});
    EXPECT_EQ(listing.shortcutCount, 256);
    EXPECT_EQ(listing.shortcuts.back().linkPath, "$D\\a.lnk");

    package.shortcuts.push_back(package.shortcuts.back());
    EXPECT_EQ(refuse(package), "257 shortcuts; a package holds at most 256");
}

TEST_F(Refusal, CountedStringsOver65535BytesOrHoldingAZeroByte)
{
    PackageSpec package = smallSpec();
    package.header.licenceText = std::string(65535, 'l');
    std::string error;
    EXPECT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << error;
    package.header.licenceText += 'l';
    EXPECT_EQ(refuse(package), "licence text is 65536 bytes; a package string holds at most 65535");
    package = smallSpec();
    package.shortcuts[0].arguments = std::string("a\0b", 3);
    EXPECT_EQ(refuse(package), "shortcut 1 arguments holds a zero byte, which a package string cannot carry");
}

TEST_F(Refusal, RunCommandWhoseProgramPathHoldsAnUnquotedBlank)
{
    const std::string notInPackage = "\" is neither a full path nor a file of the package; name it as it lies in the "
                                     "install folder (\"vmkick.exe\") or by its full path";
    const std::pair<const char*, std::string> refused[] = {
        {"C:\\Program Files\\App\\app.exe",
         "run command \"C:\\Program Files\\App\\app.exe\": its program's path holds a blank and is not quoted, so "
         "Windows would first try to start C:\\Program.exe; quote the path: \"C:\\Program Files\\App\\app.exe\""},
        {"C:\\My Apps\\Run.BAT -x y",
         "run command \"C:\\My Apps\\Run.BAT -x y\": its program's path holds a blank and is not quoted, so "
         "Windows would first try to start C:\\My.exe; quote the path: \"C:\\My Apps\\Run.BAT\" -x y"},
        // Without an extension where the program ends cannot be told: whatever it is, quoted.
        {"C:\\Tools\\My App\\start",
         "run command \"C:\\Tools\\My App\\start\": its program's path holds a blank and is not quoted, so "
         "Windows would first try to start C:\\Tools\\My.exe; quote the path: \"C:\\Tools\\My App\\start\""},
        {"d\\x.txt -q", "run command \"d\\x.txt -q\": its program's path holds a blank and is not quoted, so Windows "
                       "would first try to start d\\x.txt; quote the path: \"d\\x.txt -q\""},
        // A bare name is the install folder's file, which the package must hold.
        {"vmkick.exe", "run command \"vmkick.exe\": its program \"vmkick.exe" + notInPackage},
        {"notepad.exe read me.txt", "run command \"notepad.exe read me.txt\": its program \"notepad.exe" + notInPackage},
        {"\"d\" -x", "run command \"\"d\" -x\": its program \"d" + notInPackage},
        {"\"top -x", "run command \"\"top -x\": its program's quote is never closed"},
    };
    for (const auto& row : refused) {
        PackageSpec package = smallSpec();
        package.header.runCommand = row.first;
        EXPECT_EQ(refuse(package), row.second);
    }
    // Taken, and carried with a program of the package as its full path, quoted: Windows
    // would otherwise look for it in the installer's own folder first.
    const std::pair<const char*, const char*> taken[] = {
        {"", ""},
        {"\"C:\\Program Files\\App\\app.exe\" -x", "\"C:\\Program Files\\App\\app.exe\" -x"},
        {"C:\\App\\app.exe", "C:\\App\\app.exe"},
        {"\\\\server\\share\\tool.exe -x", "\\\\server\\share\\tool.exe -x"},
        {"\\\\\\server\\tool.exe", "\\\\\\server\\tool.exe"},
        {"top", "\"C:\\A\\top\""},
        {"\"D\\X.TXT\" -q \"two words\"", "\"C:\\A\\D\\X.TXT\" -q \"two words\""},
    };
    for (const auto& row : taken) {
        PackageSpec package = smallSpec();
        package.header.runCommand = row.first;
        std::string error;
        ASSERT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << row.first << ": " << error;
        PackageListing l;
        EXPECT_EQ(verifyFile(dir / "ok.exe", &l), Problems{});
        EXPECT_EQ(l.header.runCommand, row.second);
    }
    // An install folder that is not a full path leaves the program's folder unknown.
    PackageSpec relative = smallSpec();
    relative.header.installDir = "Tools\\A";
    relative.header.runCommand = "top";
    EXPECT_EQ(refuse(relative), "run command \"top\": its program \"top\" lies in the install folder, whose full path "
                                "is known only on the user's machine; Windows would look for it in the installer's own "
                                "folder first, so give the run command an install folder that is a full path, or none");
}

TEST_F(Refusal, PerUserPackagesNeedAFolderBelowTheUsersOwnAndAskForNoRights)
{
    const std::string inUsersFolders = "\": a per-user package installs without administrator rights, so its "
                                       "shortcuts must lie in the user's own folders ($D, $P, $S, $s) or in the "
                                       "install folder";
    const struct {
        const char* installDir;
        const char* link;
        std::string refusal;
    } rows[] = {
        {"$Lx", "$D\\a.lnk", "install directory \"$Lx\": $L (the user's local application data folder) must be "
                             "followed by a backslash, as in $L\\Programs\\Name"},
        {"$L\\", "$D\\a.lnk", "install directory \"$L\\\": a per-user package needs a folder of its own below $L, "
                              "as in $L\\Programs\\Name"},
        {"$L\\P", "C:\\Users\\Public\\Desktop\\a.lnk", "shortcut 2 link \"C:\\Users\\Public\\Desktop\\a.lnk" + inUsersFolders},
        {"$L\\P", "$L\\Q\\a.lnk", "shortcut 2 link \"$L\\Q\\a.lnk" + inUsersFolders},
        {"$L\\P", "$L\\P", "shortcut 2 link \"$L\\P" + inUsersFolders},
        {"$L\\P", "$Da.lnk", "shortcut 2 link \"$Da.lnk" + inUsersFolders},
        {"$L\\P", "$D\\a.lnk", ""},
        {"$L\\P", "$s\\Run\\a.lnk", ""},
        {"$L\\P", "$L\\P\\Remove.lnk", ""},
        {"C:\\$L", "C:\\Users\\Public\\Desktop\\a.lnk", ""},
    };
    // The stub's manifest asks for administrator rights; a per-user installer asks for none.
    const std::string stub = makeStub() + wbformat::kMachineLevel + " uiAccess";
    for (const auto& row : rows) {
        PackageSpec package = smallSpec();
        package.header.installDir = row.installDir;
        package.shortcuts[0].linkPath = "$P\\a.lnk";
        package.shortcuts.push_back({row.link, "$L\\P\\app.exe", "$L\\P", "", ""});
        if (!row.refusal.empty()) {
            EXPECT_EQ(refuse(package, stub), row.refusal) << row.installDir << " " << row.link;
            continue;
        }
        std::string error, built = dir / "ok.exe";
        ASSERT_TRUE(buildInstaller(package, stub, built, error)) << row.link << ": " << error;
        std::string expected = stub;
        if (isPerUserPackage(package)) {
            expected.replace(makeStub().size(), sizeof wbformat::kMachineLevel - 1, wbformat::kPerUserLevel);
        }
        EXPECT_EQ(readFile(built).substr(makeStub().size(), stub.size() - makeStub().size()),
                  expected.substr(makeStub().size()));
        EXPECT_EQ(verifyFile(built), Problems{});
    }
    PackageSpec perUser = smallSpec();
    perUser.header.installDir = "$L\\P";
    perUser.shortcuts[0].linkPath = "$D\\a.lnk";
    EXPECT_EQ(refuse(perUser, makeStub()), "stub: the stub's manifest does not ask for administrator rights exactly "
                                           "once, so it cannot be made into a per-user installer; use an installer "
                                           "stub built with this version");
}

TEST_F(Refusal, NamesThatAreNotOneSafeComponent)
{
    const std::string rule = ": " + std::string(kRule);
    for (const char* name : {"a\\b", "a/b", "c:", ".", "..", "", "a.", "a ", "b. .", "CON", "con.txt", "Nul .tar.gz",
                             "aux", "PRN.x", "com0", "COM9.dll", "lpt1", "LPT0", "conin$", "CONOUT$.log"}) {
        PackageSpec package = smallSpec();
        package.entries[1].name = name;
        EXPECT_EQ(refuse(package), std::string("unsafe entry name \"") + name + "\" in d" + rule);
    }
    // Windows takes the superscripts 1, 2 and 3 (code page 1252) for digits as well.
    const std::pair<const char*, const char*> superscripts[] = {
        {"COM\xB9", "COM\u00b9"}, {"lpt\xB2.txt", "lpt\u00b2.txt"}, {"Com\xB3 .x", "Com\u00b3 .x"}};
    for (const auto& row : superscripts) {
        PackageSpec package = smallSpec();
        package.entries[1].name = row.first;
        EXPECT_EQ(refuse(package), std::string("unsafe entry name \"") + row.second + "\" in d" + rule);
    }
    // Near misses of the device names, and dots and blanks that do not end the name.
    for (const char* name : {"COM10", "console", "LPT", "con_", "nul-x", "COM1a.txt", ".a", ". a", "a.b", "a b",
                             "COM\xB4", "LPT\xBC"}) {
        PackageSpec package = smallSpec();
        package.entries[1].name = name;
        std::string error;
        EXPECT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << name << ": " << error;
    }
    PackageSpec package = smallSpec();
    package.entries.insert(package.entries.begin(), enterDirEntry(".."));
    package.entries.push_back(leaveDirEntry());
    EXPECT_EQ(refuse(package), "unsafe entry name \"..\" at the top level" + rule);

    package = smallSpec();
    package.entries[3].name = "what?";
    EXPECT_EQ(refuse(package),
              "entry name \"what?\" at the top level: Windows allows no <>\"|?* or control characters in file names");
    package.entries[3].name = "D";
    EXPECT_EQ(refuse(package), "entry name \"D\" at the top level: another entry there has the same name, ignoring case");
}

// What the installer would log must be what the uninstaller reads: install folders whose
// parts Windows would rename or open as devices, link paths with "." or ".." parts, and
// links outside the usual folders that are no links by name, are refused. In code page 932
// a character's second byte may be "\\" or "|": names and folders are judged by characters.
TEST_F(Refusal, InstallFoldersAndLinksTheUninstallerCouldNotRemove)
{
    const struct {
        const char* installDir;
        const char* link;
        const char* refusal;
    } rows[] = {
        {"C:\\My Apps \\Tool", "$D\\a.lnk",
         "install directory \"C:\\My Apps \\Tool\": its part \"My Apps \" ends in a blank or a dot, which Windows "
         "drops when it creates the folder; write it as \"My Apps\""},
        {"C:\\Apps\\Tool.", "$D\\a.lnk",
         "install directory \"C:\\Apps\\Tool.\": its part \"Tool.\" ends in a blank or a dot, which Windows drops "
         "when it creates the folder; write it as \"Tool\""},
        {"C:\\Apps\\...\\Tool", "$D\\a.lnk",
         "install directory \"C:\\Apps\\...\\Tool\": its part \"...\" ends in a blank or a dot, which Windows "
         "drops when it creates the folder; write it as \"\""},
        {"C:\\Apps\\nul\\Tool", "$D\\a.lnk",
         "install directory \"C:\\Apps\\nul\\Tool\" names a device, which Windows opens in place of a folder"},
        {"C:CON", "$D\\a.lnk", "install directory \"C:CON\" names a device, which Windows opens in place of a folder"},
        {"C:\\A", "$D\\..\\a.lnk",
         "shortcut 1 link \"$D\\..\\a.lnk\" holds a path with a `.' or `..' part, which the uninstaller refuses"},
        {"C:\\A", "C:\\A\\.\\a.lnk",
         "shortcut 1 link \"C:\\A\\.\\a.lnk\" holds a path with a `.' or `..' part, which the uninstaller refuses"},
        // Judged as the installer expands it: "$." is dropped, leaving "..".
        {"C:\\A", "$D\\.$..\\a.lnk",
         "shortcut 1 link \"$D\\.$..\\a.lnk\" holds a path with a `.' or `..' part, which the uninstaller refuses"},
        {"C:\\A", "D:\\Links\\App.url",
         "shortcut 1 link \"D:\\Links\\App.url\" lies outside the shell folders ($D, $P, $S, $s) and the install "
         "folder and does not end in .lnk; the uninstaller removes only links there"},
        {"C:\\A", "$D\\a.lnk", ""},
        {"C:\\A", "C:\\A\\Sub\\Remove", ""},
        {"C:\\A", "D:\\Links\\App.LNK", ""},
        {"C:\\A", "C:\\App.lnk", ""},
        {"C:\\A\\..\\B", "$D\\a.lnk", ""},
        {"C:\\", "$D\\a.lnk", ""},
        {"D:", "$D\\a.lnk", ""},
    };
    for (const auto& row : rows) {
        PackageSpec package = smallSpec();
        package.header.installDir = row.installDir;
        package.shortcuts[0].linkPath = row.link;
        if (*row.refusal) {
            EXPECT_EQ(refuse(package), row.refusal) << row.installDir << " " << row.link;
            continue;
        }
        std::string error;
        EXPECT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << row.link << ": " << error;
    }

    // Code page 932: ソフト.txt, 表, 能, 十, ポスター.txt and C:\ソフト (second bytes 5C and 7C).
    PackageSpec package = smallSpec();
    package.codePage = 932;
    package.header.installDir = "C:\\\x83\x5C\x83\x74\x83\x67";
    package.shortcuts[0].linkPath = "$D\\\x83\x5C.lnk";
    package.entries = {enterDirEntry("\x95\x5C"), memoryFileEntry("\x83\x5C\x83\x74\x83\x67.txt", "1"),
                       memoryFileEntry("\x94\x5C", "2"), memoryFileEntry("\x8F\x5C", "3"), leaveDirEntry(),
                       memoryFileEntry("\x83\x7C\x83\x58\x83\x5E\x81\x5B.txt", "4")};
    std::string error;
    EXPECT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << error;
    EXPECT_EQ(verifyFile(dir / "ok.exe"), Problems{});
    // A single-byte backslash or bar is still refused, and named as the character it is.
    package.entries[1].name = "\x83\x5C\\x.txt";
    EXPECT_EQ(refuse(package), "unsafe entry name \"\xE3\x82\xBD\\x.txt\" in \xE8\xA1\xA8: " + std::string(kRule));

    // The uninstaller reads no log over 64 MiB; a package whose log could be larger is refused.
    package = smallSpec();
    package.entries.clear();
    const std::string longName(2500, 'n');
    for (int i = 0; i < 20; ++i) package.entries.push_back(enterDirEntry(longName));
    for (int i = 0; i < 1400; ++i) package.entries.push_back(memoryFileEntry("f" + std::to_string(i), ""));
    for (int i = 0; i < 20; ++i) package.entries.push_back(leaveDirEntry());
    EXPECT_EQ(refuse(package), "the uninstall log of this package could take " +
                                   std::to_string(uninstallLogBound(package)) +
                                   " bytes; the uninstaller reads at most 67108864, so the package could not be "
                                   "removed: shorten its paths or split it");
    EXPECT_GT(uninstallLogBound(package), 67108864u);
    package.entries.erase(package.entries.begin() + 20 + 1300, package.entries.begin() + 20 + 1400);
    EXPECT_LT(uninstallLogBound(package), 67108864u);
    EXPECT_TRUE(buildInstaller(package, makeStub(), dir / "ok.exe", error)) << error;
}

TEST_F(Refusal, UnbalancedDirectories)
{
    PackageSpec package = smallSpec();
    package.entries.push_back(leaveDirEntry());
    EXPECT_EQ(refuse(package), "a leave-directory entry at the top level has no directory to leave");
    package.entries.pop_back();
    package.entries.push_back(enterDirEntry("e"));
    package.entries.push_back(enterDirEntry("f"));
    EXPECT_EQ(refuse(package), "directory e/f is entered but never left");
}

TEST_F(Refusal, FilesOver4GiBAndTotalsOver32Bits)
{
    // The sizes are refused before any byte is read, so the files need not exist.
    PackageSpec package = smallSpec();
    package.entries.push_back(diskFileEntry("huge", "no-such-file", 0x100000000ull));
    EXPECT_EQ(refuse(package), "no-such-file: 4294967296 bytes; a file in a package holds at most 4294967295");
    package.entries.back().size = 0xFFFFFFFFull;
    EXPECT_EQ(refuse(package), "the files add up to 4294967302 bytes; a package holds at most 4294967295");
}

TEST_F(Refusal, StubWithoutExactlyOneBareRecord)
{
    const std::string marker = "WBPKGOFS" + bytes({0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(refuse(smallSpec(), "MZ no record"),
              "stub: the package offset record (WBPKGOFS) occurs 0 times in the stub; it must occur exactly once");
    EXPECT_EQ(refuse(smallSpec(), "MZ" + marker + marker),
              "stub: the package offset record (WBPKGOFS) occurs 2 times in the stub; it must occur exactly once");
    EXPECT_EQ(refuse(smallSpec(), "MZ WBPKGOFS" + bytes({0x10, 0, 0, 0}) + std::string(44, '\0')),
              "stub: the stub already carries a package (its offset word is 16); use a bare installer stub");
    EXPECT_EQ(refuse(smallSpec(), "MZ WBPKGOFS" + bytes({0xFF, 0xFF})), "stub: the stub ends inside its package offset record");
    // The record of an older stub is 12 or 24 bytes; what follows it would be overwritten.
    const std::string older = "MZ WBPKGOFS" + bytes({0xFF, 0xFF, 0xFF, 0xFF});
    for (const std::string& after : {std::string("code after the old record") + std::string(40, '\0'),
                                     std::string(12, '\0') + "data after the 24-byte record" + std::string(10, '\0')})
        EXPECT_EQ(refuse(smallSpec(), older + after),
                  "stub: the package record's length, checksum, code page and digest are not zero; use a bare "
                  "installer stub built with this version");

    std::string error, stub;
    writeFile(dir / "stub.exe", "MZ");
    EXPECT_FALSE(readStubFile(dir / "stub.exe", stub, error));
    EXPECT_EQ(error, "stub " + (dir / "stub.exe") +
                         ": the package offset record (WBPKGOFS) occurs 0 times in the stub; it must occur exactly once");
}

TEST_F(Refusal, FilesThatCannotBeReadOrChangeWhilePacked)
{
    PackageSpec package = smallSpec();
    package.entries.push_back(diskFileEntry("gone", dir / "gone", 3));
    std::string error = refuse(package);
    EXPECT_EQ(error.substr(0, error.find(": cannot open: ")), dir / "gone");

    writeFile(dir / "five", "12345");
    package.entries.back() = diskFileEntry("five", dir / "five", 9);
    EXPECT_EQ(refuse(package), dir / "five" + ": the file became shorter while it was packed");
    package.entries.back().size = 4;
    EXPECT_EQ(refuse(package), dir / "five" + ": the file grew while it was packed");

#ifndef _WIN32
    // Swapped between reading the folder and packing: for a link to a file of the same
    // size elsewhere, or for another file; neither is packed. (The Windows build of the
    // builder does not check this.)
    fs::create_directories(dir.path / "src");
    writeFile(dir / "src/a", "mine");
    writeFile(dir / "secret", "them");
    writeFile(dir / "other", "othr");
    const std::pair<std::string, std::string> swaps[] = {
        {"link", ": is a symbolic link now, not the file the source folder held"},
        {"rename", ": is another file now than when the source folder was read"}};
    for (const auto& swap : swaps) {
        std::vector<PackEntry> entries;
        ASSERT_TRUE(collectSourceTree(dir / "src", entries, error)) << error;
        ASSERT_EQ(entries.size(), 1u);
        if (swap.first == "link") {
            fs::remove(dir.path / "src/a");
            fs::create_symlink(dir.path / "secret", dir.path / "src/a");
        } else {
            fs::copy_file(dir.path / "other", dir.path / "other2");
            fs::rename(dir.path / "other2", dir.path / "src/a");
        }
        package.entries = entries;
        EXPECT_EQ(refuse(package), dir / "src/a" + swap.second);
        fs::remove(dir.path / "src/a");
        writeFile(dir / "src/a", "mine");
    }
#endif
}

// ---- Reading back: list, verify, extract --------------------------------------------

// The record's word at `at` as the reader prints it.
std::string hex8(const std::string& file, std::size_t at)
{
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(file[at + i]);
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(word));
    return text;
}

// The reader's line for a package whose `length` bytes from `from` fail the record's CRC.
std::string damagedAt(const std::string& file, std::size_t from, std::size_t length)
{
    wbformat::Crc32Table table{};
    char text[200];
    std::snprintf(text, sizeof text, "the package's CRC-32 is %08X, its record says %s: the installer is damaged",
                  static_cast<unsigned>(wbformat::updateCrc32(table, 0, file.data() + from, length)),
                  hex8(file, 118).c_str());
    return text;
}

struct Reading : ::testing::Test {
    TempDir dir;
    std::string path = dir / "Setup.exe";
    std::string stub = makeStub();
    const std::string header = encodeHeader({"P", "C:\\A", "", "", "", ""}, {});

    void writeRaw(const std::string& stream, std::uint32_t total)
    {
        std::string error;
        ASSERT_TRUE(writeRawInstaller(stub, total, stream, path, error)) << error;
    }
    void buildSmall()
    {
        std::string error;
        ASSERT_TRUE(buildInstaller(smallSpec(), stub, path, error)) << error;
    }
};

TEST_F(Reading, SoundPackageGivesEveryField)
{
    buildSmall();
    PackageListing l;
    EXPECT_EQ(verifyFile(path, &l), Problems{});
    EXPECT_EQ(l.recordPosition, 102u);
    EXPECT_EQ(l.packageOffset, stub.size());
    EXPECT_EQ(l.packageTotal, 7u);
    EXPECT_EQ(l.header.productName, "Hi");
    EXPECT_EQ(l.header.licenceText, "L\r\n");
    ASSERT_EQ(l.shortcuts.size(), 1u);
    EXPECT_EQ(l.shortcuts[0].arguments, "-x");
    ASSERT_EQ(l.entries.size(), 4u);
    EXPECT_EQ(l.entries[1].path, "d/x.txt");
    EXPECT_EQ(l.entries[1].size, 5u);
    EXPECT_TRUE(l.complete);

    // The same bytes from memory give the same answer (the fuzzer reads that way).
    std::string file = readFile(path);
    PackageInput input;
    input.bytes = reinterpret_cast<const unsigned char*>(file.data());
    input.size = file.size();
    PackageListing fromMemory;
    Problems problems;
    EXPECT_TRUE(readPackage(input, ReadOptions(), fromMemory, problems));
    EXPECT_EQ(fromMemory.decompressedSize, l.decompressedSize);
    EXPECT_EQ(fromMemory.entries.size(), 4u);
}

TEST_F(Reading, DamagedFilesAreFound)
{
    buildSmall();
    std::string file = readFile(path);
    // Every damage also fails the record's length or checksum, as it does in the installer.
    const std::size_t length = file.size() - stub.size();
    auto incomplete = [&](std::size_t kept) {
        return "the file ends " + std::to_string(kept) + " bytes into the package, whose record says " +
               std::to_string(length) + ": the installer is incomplete";
    };
    auto crcOf = [&](const std::string& f) { return damagedAt(f, stub.size(), length); };
    writeFile(path, file.substr(0, file.size() - 20));
    EXPECT_EQ(verifyFile(path), (Problems{"the bzip2 stream is truncated: the file ends after 0 decompressed bytes",
                                          incomplete(file.size() - stub.size() - 20)}));

    std::string flipped = file;
    flipped[stub.size() + 4 + 30] ^= 0x55;
    writeFile(path, flipped);
    EXPECT_EQ(verifyFile(path),
              (Problems{"the bzip2 stream is damaged (data error) after 0 decompressed bytes", crcOf(flipped)}));

    std::string wrongTotal = file;
    wrongTotal[stub.size()] = 8;
    writeFile(path, wrongTotal);
    EXPECT_EQ(verifyFile(path),
              (Problems{"the package total 8 differs from the sum of the file sizes, 7", crcOf(wrongTotal)}));

    std::string pastTheEnd = file;
    pastTheEnd.replace(110, 4, encodeU32(static_cast<std::uint32_t>(file.size() + 1)));
    writeFile(path, pastTheEnd);
    EXPECT_EQ(verifyFile(path), (Problems{"the package offset " + std::to_string(file.size() + 1) +
                                              " points past the end of the file (" + std::to_string(file.size()) +
                                              " bytes)",
                                          incomplete(0)}));

    writeFile(path, file.substr(0, stub.size() + 2));
    EXPECT_EQ(verifyFile(path), (Problems{"the file ends inside the package total", incomplete(2)}));
    writeFile(path, file.substr(0, stub.size() + 4));
    EXPECT_EQ(verifyFile(path), (Problems{"no bzip2 stream after the package total", incomplete(4)}));

    // A length of 0 is a package attached without one: nothing is checked.
    std::string unchecked = file.substr(0, stub.size() + 4) + "PK not bzip2";
    unchecked.replace(114, 4, encodeU32(0));
    writeFile(path, unchecked);
    EXPECT_EQ(verifyFile(path), Problems{"the package data is not a bzip2 stream"});
    // Bytes after the recorded length (a signature) are no part of the package.
    writeFile(path, file + "appended");
    PackageListing l;
    EXPECT_EQ(verifyFile(path, &l), Problems{});
    EXPECT_EQ(l.trailingBytes, 8u);
}

TEST_F(Reading, OffsetRecordProblems)
{
    writeFile(path, stub);
    EXPECT_EQ(verifyFile(path),
              Problems{"no package attached: the offset word is 0xFFFFFFFF, as in a bare installer stub"});
    writeFile(path, "MZ nothing here");
    EXPECT_EQ(verifyFile(path), Problems{"no package offset record (WBPKGOFS) in the file"});
    writeFile(path, "MZ WBPKGOFS" + bytes({1, 2}));
    EXPECT_EQ(verifyFile(path), (Problems{"the file ends inside the package offset record",
                                          "no package offset record (WBPKGOFS) in the file"}));

    buildSmall();
    std::string file = readFile(path);
    std::string before = file;
    before.replace(110, 4, encodeU32(100));
    writeFile(path, before);
    EXPECT_EQ(verifyFile(path), (Problems{"the package offset 100 lies before the end of the offset record at byte 102",
                                          damagedAt(before, 100, file.size() - stub.size())}));
    std::string twice = file;
    twice.replace(2, 56, file.substr(102, 56));
    writeFile(path, twice);
    EXPECT_EQ(verifyFile(path),
              Problems{"the package offset record occurs 2 times in the program part; it must occur exactly once"});
}

TEST_F(Reading, RecordIsFoundWhereverTheStubHoldsIt)
{
    // At the very end of a stub, and across the reader's 64 KiB input chunks.
    const std::string record = "WBPKGOFS" + bytes({0xFF, 0xFF, 0xFF, 0xFF}) + std::string(44, '\0');
    for (std::size_t at : {std::size_t(2), std::size_t(65530), std::size_t(65536 - 8), std::size_t(65536 - 12),
                           std::size_t(131066)}) {
        stub = std::string(at, 'x') + record;
        if (at == 65530) stub += std::string(5000, 'y');
        buildSmall();
        PackageListing l;
        EXPECT_EQ(verifyFile(path, &l), Problems{}) << at;
        EXPECT_EQ(l.recordPosition, at);
        EXPECT_EQ(l.packageOffset, stub.size());
    }
}

TEST_F(Reading, StreamsTheBuilderRefusesAreReportedOneLineEach)
{
    writeRaw(header + encodeEnterDir("..") + encodeFileEntry("a/b", "x") + encodeLeaveDir() + encodeLeaveDir() +
                 std::string(1, '\x07') + encodeEnterDir("open"),
             1);
    EXPECT_EQ(verifyFile(path),
              (Problems{"unsafe entry name \"..\" at the top level: " + std::string(kRule),
                        "unsafe entry name \"a/b\" in ..: " + std::string(kRule),
                        "a leave-directory entry at the top level has no matching enter-directory entry",
                        "unknown entry tag 7 at byte 39 of the decompressed stream",
                        "the entry stream ends with 1 directories not left, innermost open"}));

    // What the builder refuses to make, verify reports as well: names Windows cannot
    // create, and names equal but for case in one folder (another folder may hold one).
    writeRaw(header + encodeFileEntry("q?.txt", "1") + encodeFileEntry("A.txt", "2") + encodeEnterDir("d") +
                 encodeFileEntry("a.TXT", "3") + encodeLeaveDir() + encodeFileEntry("a.txt", "4") +
                 encodeFileEntry("\xC9t\xE9", "5") + encodeFileEntry("\xE9T\xC9", "6"),
             6);
    EXPECT_EQ(verifyFile(path),
              (Problems{"entry name \"q?.txt\" at the top level: Windows allows no <>\"|?* or control characters in "
                        "file names",
                        "entry name \"a.txt\" at the top level: another entry there has the same name, ignoring case",
                        "entry name \"\u00e9T\u00c9\" at the top level: another entry there has the same name, ignoring "
                        "case"}));

    // The record: a code page the builder does not offer, a length that leaves part of
    // the stream out of the installer's check.
    buildSmall();
    const std::string built = readFile(path);
    std::string foreign = built;
    foreign.replace(122, 4, encodeU32(65001));
    writeFile(path, foreign);
    EXPECT_EQ(verifyFile(path),
              Problems{"the record's code page 65001 is not one the builder offers (874, 932, 936, 949, 950, 1250-1258)"});
    std::uint32_t whole = static_cast<std::uint32_t>(built.size() - stub.size());
    std::string shortened = built;
    wbformat::Crc32Table table{};
    shortened.replace(114, 8, encodeU32(whole - 10) + encodeU32(wbformat::updateCrc32(table, 0, built.data() + stub.size(),
                                                                                       whole - 10)));
    shortened.replace(126, 32, sha256Of(built.substr(stub.size(), whole - 10)));
    writeFile(path, shortened);
    EXPECT_EQ(verifyFile(path), Problems{"the record's package length " + std::to_string(whole - 10) +
                                         " is shorter than the package, " + std::to_string(whole) +
                                         " bytes to the end of its bzip2 stream: the installer would check only part of it"});
    // A digest that differs while the CRC-32 matches: another package made to pass the
    // CRC-32. A record without a digest binds no package to the stub.
    std::string replaced = built;
    replaced[126] ^= 1;
    writeFile(path, replaced);
    EXPECT_EQ(verifyFile(path), Problems{"the package's SHA-256 is " + hexText(built.substr(126, 32)) +
                                         ", its record says " + hexText(replaced.substr(126, 32)) +
                                         ": its CRC-32 matches, so the package was replaced by another made to pass "
                                         "that check"});
    std::string undigested = built;
    undigested.replace(126, 32, std::string(32, '\0'));
    writeFile(path, undigested);
    EXPECT_EQ(verifyFile(path), Problems{"the record carries no SHA-256 of the package: the installer cannot tell "
                                         "another package of the same length and CRC-32 from this one"});

    std::string records;
    for (int i = 0; i < 257; ++i) records += std::string(10, '\0');
    writeRaw(header.substr(0, header.size() - 4) + encodeU32(257) + records + encodeFileEntry("f", "1"), 1);
    PackageListing l;
    EXPECT_EQ(verifyFile(path, &l), (Problems{"the shortcut count is 257; a package holds at most 256",
                                             "the shortcut records past the 256th and the entries after them are not "
                                             "read"}));
    EXPECT_EQ(l.shortcuts.size(), 256u);
    EXPECT_EQ(l.entries.size(), 0u);

    writeRaw(header.substr(0, header.size() - 4) + encodeU32(0xFFFFFFFF) + encodeFileEntry("f", "1"), 1);
    EXPECT_EQ(verifyFile(path, &l), Problems{"the shortcut count is -1, below zero"});

    writeRaw(encodeCountedString(std::string("a\0b", 3)) + header.substr(3), 0);
    EXPECT_EQ(verifyFile(path), Problems{"the product name holds a zero byte"});

    writeRaw(header + encodeFileEntry("x.txt", "12345").substr(0, 14), 5);
    EXPECT_EQ(verifyFile(path), Problems{"the bzip2 stream ends inside the data of file \"x.txt\" (2 of 5 bytes)"});
    writeRaw(header.substr(0, 9), 0);
    EXPECT_EQ(verifyFile(path), Problems{"the bzip2 stream ends inside the run command"});

    ReadOptions few;
    few.maxProblems = 3;
    writeRaw(header + std::string(10, '\x09'), 0);
    PackageListing ignored;
    Problems problems;
    EXPECT_FALSE(readPackageFile(path, few, ignored, problems));
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[3], "... and 7 more problems");

    // Deep nesting: each entry lists its whole path, so the listing has a ceiling.
    ReadOptions small;
    small.maxListingBytes = 50;
    std::string deep;
    for (int i = 0; i < 20; ++i) deep += encodeEnterDir("d");
    writeRaw(header + deep, 0);
    problems.clear();
    PackageListing cut;
    EXPECT_FALSE(readPackageFile(path, small, cut, problems));
    EXPECT_EQ(problems, Problems{"stopped reading at byte " + std::to_string(header.size() + 4) +
                                 " of the decompressed stream: listing its entries would take more than 50 bytes "
                                 "of memory, more than any installation needs"});
    EXPECT_EQ(cut.entries.size(), 1u);
    EXPECT_FALSE(cut.complete);

    // Names of 60000 bytes in folders of such names: each is shown cut at 256 characters,
    // so the problem texts stay small however deep the folders go; and what they take is
    // charged to the same ceiling.
    std::string nested;
    for (int i = 0; i < 8; ++i) nested += encodeEnterDir(std::string(60000, 'd') + "?" + std::to_string(i));
    writeRaw(header + nested, 0);
    problems.clear();
    PackageListing named;
    EXPECT_FALSE(readPackageFile(path, ReadOptions(), named, problems));
    ASSERT_EQ(problems.size(), 9u);
    const std::string cutName = std::string(256, 'd') + "...";
    EXPECT_EQ(problems[0], "entry name \"" + cutName + "\" at the top level: Windows allows no <>\"|?* or control "
                           "characters in file names");
    EXPECT_EQ(problems[7], "entry name \"" + cutName + "\" in " + cutName + ": Windows allows no <>\"|?* or control "
                           "characters in file names");
    // Forty refused names at the top level: their records fit the ceiling, their records
    // and the texts about them do not.
    std::string refusedNames;
    for (int i = 0; i < 40; ++i) refusedNames += encodeEnterDir(std::string(249, 'a') + "?" + std::to_string(i + 10)) +
                                                 encodeLeaveDir();
    writeRaw(header + refusedNames, 0);
    ReadOptions tight;
    const std::size_t perEntry = 2 * (3 * sizeof(ListedEntry) + 3 * 253 + 32 + sizeof(std::string));
    tight.maxListingBytes = 40 * perEntry + 2000;
    problems.clear();
    PackageListing charged;
    EXPECT_FALSE(readPackageFile(path, tight, charged, problems));
    EXPECT_FALSE(charged.complete);
    ASSERT_NE(problems.back().find(" of the decompressed"), std::string::npos) << problems.back();
    EXPECT_EQ(problems.back().substr(problems.back().find(" of the decompressed")),
              " of the decompressed stream: listing its entries would take more than " +
                  std::to_string(tight.maxListingBytes) + " bytes of memory, more than any installation needs");

    // Short entries by the hundred thousand (a few kilobytes of bzip2) cost their records,
    // however few path bytes they hold: the ceiling counts both.
    std::string many;
    for (int i = 0; i < 100000; ++i) many += encodeEnterDir(std::to_string(i)) + encodeLeaveDir();
    writeRaw(header + many, 0);
    small.maxListingBytes = 1u << 20;
    problems.clear();
    PackageListing bounded;
    EXPECT_FALSE(readPackageFile(path, small, bounded, problems));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].substr(problems[0].find(" of the decompressed")),
              " of the decompressed stream: listing its entries would take more than 1048576 bytes of memory, "
              "more than any installation needs");
    EXPECT_LE(bounded.entries.size() * 3 * sizeof(ListedEntry), (1u << 20) + 3 * sizeof(ListedEntry));
    EXPECT_FALSE(bounded.complete);
}

TEST_F(Reading, ExtractRecreatesTheTreeAndNeverLeavesTheFolder)
{
    for (const char* name : {"__uninst.exe", "app/lib/a.jar", "app/b.txt", "c"}) writeFile(dir.path / "src" / name, name);
    fs::create_directories(dir.path / "src/app/empty");
    PackageSpec package = smallSpec();
    std::string error;
    package.entries.clear();
    ASSERT_TRUE(collectSourceTree(dir / "src", package.entries, error)) << error;
    ASSERT_TRUE(buildInstaller(package, stub, path, error)) << error;
    EXPECT_EQ(verifyFile(path, nullptr, dir / "out"), Problems{});
    EXPECT_EQ(treeOf(dir.path / "out"), treeOf(dir.path / "src"));

    EXPECT_EQ(verifyFile(path, nullptr, dir / "out"),
              Problems{dir / "out" + ": not an empty folder; extract writes only into an empty or new one"});

    writeRaw(header + encodeFileEntry("ok", "1") + encodeEnterDir("..") + encodeFileEntry("escaped", "2") +
                 encodeLeaveDir() + encodeLeaveDir() + encodeFileEntry("above", "3"),
             3);
    EXPECT_EQ(verifyFile(path, nullptr, dir / "x/out"),
              (Problems{"unsafe entry name \"..\" at the top level: " + std::string(kRule),
                        "extraction stopped at the unsafe name",
                        "a leave-directory entry at the top level has no matching enter-directory entry"}));
    EXPECT_EQ(treeOf(dir.path / "x"), "out/\nout/ok=1\n");

    // A name given twice: the file extracted first is not written over.
    writeRaw(header + encodeFileEntry("ok", "1") + encodeFileEntry("ok", "2"), 2);
    EXPECT_EQ(verifyFile(path, nullptr, dir / "y/out"),
              (Problems{"entry name \"ok\" at the top level: another entry there has the same name, ignoring case",
                        (fs::path(dir / "y/out") / "ok").string() + ": cannot create: File exists"}));
    EXPECT_EQ(treeOf(dir.path / "y"), "out/\nout/ok=1\n");

    // In EBCDIC (code page 1047) the bytes "KKa" spell "../": a record naming such a code
    // page extracts nothing, and verify reports it.
    writeRaw(header + encodeEnterDir("KKaKKa") + encodeFileEntry("KKaKKaescaped", "1") + encodeLeaveDir(), 1);
    std::string ebcdic = readFile(path);
    ebcdic.replace(122, 4, encodeU32(1047));
    writeFile(path, ebcdic);
    // The name rule holds for the decoded names as well as for their bytes (where the
    // system can decode EBCDIC at all: Wine's Windows cannot).
    Problems found;
    std::string decoded;
    if (decodeText("KKa", 1047, decoded)) {
        ASSERT_EQ(decoded, "../");
        found = {"unsafe entry name \"../../\" at the top level: " + std::string(kRule),
                 "unsafe entry name \"../../\u00c1\u00cb\u00c4/\u00f8\u00c1\u00c0\" in ../../: " + std::string(kRule)};
    }
    found.push_back("the record's code page 1047 is not one the builder offers (874, 932, 936, 949, 950, 1250-1258)");
    Problems refused = found;
    refused.insert(refused.begin(), "unknown code page 1047: nothing extracted");
    EXPECT_EQ(verifyFile(path, nullptr, dir / "z/in/out"), refused);
    EXPECT_EQ(verifyFile(path), found);
    EXPECT_FALSE(fs::exists(dir.path / "z/in/out"));
    EXPECT_FALSE(fs::exists(dir.path / "z/escaped"));
    EXPECT_FALSE(fs::exists(dir.path / "escaped"));
}

#ifndef _WIN32
// A folder that extraction made, swapped for a link while a long file in it is written,
// takes none of the entries that follow: they go where the folder that was made went.
TEST_F(Reading, ExtractStaysInTheFoldersItMadeWhenOneIsSwappedForALink)
{
    const std::string big = noise(3u << 20, 7);
    writeRaw(header + encodeEnterDir("d") + encodeFileEntry("big", big) + encodeEnterDir("e") +
                 encodeFileEntry("after", "2") + encodeLeaveDir() + encodeLeaveDir(),
             static_cast<std::uint32_t>(big.size() + 1));
    const std::string file = readFile(path);
    fs::create_directories(dir.path / "elsewhere");
    // The reader takes the installer through a pipe and waits for more while the test
    // swaps the folder: half the file lets it make d/big, the rest comes after the swap.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    FILE* reading = ::fdopen(ends[0], "rb");
    ASSERT_NE(reading, nullptr);
    PackageListing listing;
    Problems problems;
    std::thread reader([&] {
        PackageInput input;
        input.file = reading;
        ReadOptions options;
        options.extractDir = dir / "out";
        readPackage(input, options, listing, problems);
    });
    const std::size_t half = stub.size() + 4 + (file.size() - stub.size()) / 2;
    ASSERT_EQ(::write(ends[1], file.data(), half), static_cast<ssize_t>(half));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(dir.path / "out/d/big") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    bool made = fs::exists(dir.path / "out/d/big");
    if (made) {
        fs::rename(dir.path / "out/d", dir.path / "out/moved");
        fs::create_directory_symlink(dir.path / "elsewhere", dir.path / "out/d");
    }
    for (std::size_t at = half; at < file.size();) {
        ssize_t n = ::write(ends[1], file.data() + at, file.size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);
    reader.join();
    std::fclose(reading);
    ASSERT_TRUE(made);
    EXPECT_EQ(problems, Problems{});
    EXPECT_EQ(treeOf(dir.path / "elsewhere"), "");
    EXPECT_EQ(readFile(dir.path / "out/moved/e/after"), "2");
    EXPECT_EQ(readFile(dir.path / "out/moved/big"), big);
}
#endif

// The fuzzer's seeds of whole installers carry today's record: each is read past it into
// its package, so that the fuzzer starts from the deep cases the seeds were made for (the
// bare stub's record is one the builder would take).
TEST(FuzzSeeds, EveryWholeInstallerSeedPassesTheRecordCheck)
{
    const char* const recordProblems[] = {"offset record", "lies before the end", "record's code page",
                                          "carries no SHA-256", "its CRC-32 matches", "CRC-32 is"};
    int whole = 0;
    for (const auto& e : fs::directory_iterator(WB_PACK_CORPUS_DIR)) {
        const std::string file = readFile(e.path());
        if (file.empty() || file[0] == 'S') continue;  // a stream, which the fuzzer puts behind a stub
        ++whole;
        SCOPED_TRACE(e.path().filename().string());
        PackageListing l;
        Problems problems;
        readPackageFile(e.path().string(), ReadOptions(), l, problems);
        ASSERT_TRUE(l.foundRecord);
        if (l.packageOffset == wbformat::kNoPackage) {
            std::size_t at = 0;
            std::string error;
            EXPECT_TRUE(findOffsetRecord(file, at, error)) << error;
            continue;
        }
        EXPECT_TRUE(l.haveTotal);
        EXPECT_NE(l.packageLength, 0u);
        EXPECT_TRUE(isAnsiCodePage(l.codePage));
        for (const std::string& problem : problems) {
            for (const char* about : recordProblems) EXPECT_EQ(problem.find(about), std::string::npos) << problem;
        }
    }
    EXPECT_EQ(whole, 6);
}

TEST(Reproducible, SameBytesWhateverOrderTheFilesWereMadeIn)
{
    TempDir one, two;
    for (const char* name : {"b", "a/x", "a/y", "c"}) writeFile(one.path / "src" / name, name);
    for (const char* name : {"c", "a/y", "b", "a/x"}) writeFile(two.path / "src" / name, name);
    std::string error;
    for (TempDir* d : {&one, &two}) {
        PackageSpec package = smallSpec();
        package.entries.clear();
        ASSERT_TRUE(collectSourceTree(*d / "src", package.entries, error)) << error;
        ASSERT_TRUE(buildInstaller(package, makeStub(), *d / "Setup.exe", error)) << error;
    }
    EXPECT_TRUE(readFile(one / "Setup.exe") == readFile(two / "Setup.exe"));
}

// Blocks are cut where libbzip2 cuts one stream, also inside a run of equal bytes that
// is still open when a block fills (runs of every length up to 700 here), and joined
// again: any thread count gives libbzip2's own stream of the whole, which the plain
// library reads back.
TEST(Reproducible, SameBytesOnAnyThreadCountAsLibbzip2MakesOfTheWhole)
{
    std::string data;
    std::uint32_t seed = 5;
    while (data.size() < 3300000) {
        seed = seed * 1103515245u + 12345u;
        if (seed % 3 == 0) data += noise(1 + (seed >> 8) % 3000, seed);
        else data.append(1 + (seed >> 8) % 700, static_cast<char>(seed >> 24));
    }
    PackageSpec package = smallSpec();
    package.entries = {memoryFileEntry("runs.bin", data)};
    std::string expected = encodeHeader(package.header, package.shortcuts) + encodeFileEntry("runs.bin", data);

    TempDir dir;
    std::string error, stream[3];
    const unsigned threads[3] = {1, 4, 2};
    for (int i = 0; i < 3; ++i) {
        std::string path = dir / ("Setup" + std::to_string(threads[i]) + ".exe");
        ASSERT_TRUE(buildInstaller(package, makeStub(), path, error, BuildProgress(), kInstallerMode, threads[i]))
            << error;
        stream[i] = readFile(path).substr(makeStub().size() + 4);
    }
    EXPECT_TRUE(stream[0] == stream[1]);
    EXPECT_TRUE(stream[0] == stream[2]);

    std::vector<char> whole(expected.size() + expected.size() / 100 + 600);
    unsigned int wholeSize = static_cast<unsigned int>(whole.size());
    ASSERT_EQ(wbplain_BZ2_bzBuffToBuffCompress(whole.data(), &wholeSize, &expected[0],
                                               static_cast<unsigned int>(expected.size()), 9, 0, 0),
              BZ_OK);
    EXPECT_TRUE(stream[1] == std::string(whole.data(), wholeSize));
    EXPECT_GT(stream[1].size(), 40000u) << "the data should fill several blocks";

    std::vector<char> back(expected.size() + 1);
    unsigned int backSize = static_cast<unsigned int>(back.size());
    ASSERT_EQ(wbplain_BZ2_bzBuffToBuffDecompress(back.data(), &backSize, &stream[1][0],
                                                 static_cast<unsigned int>(stream[1].size()), 0, 0),
              BZ_OK);
    EXPECT_TRUE(std::string(back.data(), backSize) == expected);
}

}  // namespace
