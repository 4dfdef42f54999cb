// libFuzzer target of the package reader behind `wickerbay-pack list`, `verify` and
// `extract`. An input starting with 'S' is a decompressed stream (package total, then
// header, shortcuts and entries), which is compressed and put behind a stub here, so the
// fuzzer reaches the parser without having to forge bzip2 checksums; any other input is
// read as a whole installer file. Every input is also decompressed by the installer's
// patched libbzip2 and by the plain one, in small-memory mode, and each call must give
// the same status and bytes in both.
#include "common/package_format.h"
#include "tools/pack/pack.h"

#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A broken promise of the reader: crash, so that libFuzzer keeps the input.
void require(bool condition)
{
    if (!condition) __builtin_trap();
}

std::string installerAroundStream(const std::uint8_t* data, std::size_t size)
{
    // The record's offset word, then its length, checksums and code page left at zero.
    static const std::string stub =
        std::string("MZ fuzz stub WBPKGOFS") + std::string(wbformat::kOffsetRecordSize - wbformat::kOffsetMarkerSize, '\0');
    std::string file = stub;
    file.replace(21, 4, wbpack::encodeU32(static_cast<std::uint32_t>(stub.size())));
    std::size_t totalSize = size < 4 ? size : 4;
    file.append(reinterpret_cast<const char*>(data), totalSize);
    if (totalSize < 4) return file;
    // Block size 1: the smallest working set, so that each run stays quick.
    std::vector<char> compressed((size - 4) + (size - 4) / 50 + 700);
    unsigned int compressedSize = static_cast<unsigned int>(compressed.size());
    int status = BZ2_bzBuffToBuffCompress(compressed.data(), &compressedSize,
                                          const_cast<char*>(reinterpret_cast<const char*>(data + 4)),
                                          static_cast<unsigned int>(size - 4), 1, 0, 0);
    require(status == BZ_OK);
    return file.append(compressed.data(), compressedSize);
}

#define WB_DECLARE_BZIP2(p)                                                                   \
    int p##BZ2_bzDecompressInit(bz_stream*, int, int);                                        \
    int p##BZ2_bzDecompress(bz_stream*);                                                      \
    int p##BZ2_bzDecompressEnd(bz_stream*);
extern "C" {
WB_DECLARE_BZIP2(wbpatched_)
WB_DECLARE_BZIP2(wbplain_)
}

// The stream is the input from its first "BZh", in small steps of output.
void compareLibraries(const std::string& file)
{
    std::size_t start = file.find("BZh");
    if (start == std::string::npos) return;
    bz_stream plain{}, patched{};
    require(wbplain_BZ2_bzDecompressInit(&plain, 0, 1) == BZ_OK);
    require(wbpatched_BZ2_bzDecompressInit(&patched, 0, 1) == BZ_OK);
    plain.next_in = patched.next_in = const_cast<char*>(file.data() + start);
    plain.avail_in = patched.avail_in = static_cast<unsigned int>(file.size() - start);
    char a[509], b[509];
    int plainStatus = BZ_OK, patchedStatus = BZ_OK;
    for (std::size_t produced = 0; plainStatus == BZ_OK && produced < (4u << 20); produced += sizeof a) {
        plain.next_out = a;
        patched.next_out = b;
        plain.avail_out = patched.avail_out = sizeof a;
        plainStatus = wbplain_BZ2_bzDecompress(&plain);
        patchedStatus = wbpatched_BZ2_bzDecompress(&patched);
        // Input may be taken a few bytes earlier by the patched library; output may not.
        require(plainStatus == patchedStatus && plain.avail_out == patched.avail_out);
        require(std::memcmp(a, b, sizeof a - plain.avail_out) == 0);
        if (plainStatus == BZ_OK && plain.avail_out == sizeof a && plain.avail_in == 0 && patched.avail_in == 0) break;
    }
    wbplain_BZ2_bzDecompressEnd(&plain);
    wbpatched_BZ2_bzDecompressEnd(&patched);
}

void checkListing(const wbpack::PackageListing& l, bool sound, const std::vector<std::string>& problems)
{
    require(sound == problems.empty());
    require(problems.size() <= 51);
    require(l.shortcuts.size() <= static_cast<std::size_t>(wbformat::kMaxShortcuts));
    require(l.fileCount + l.directoryCount <= l.entries.size());
    if (!sound) return;
    require(l.complete && l.haveHeader);
    require(l.packageTotal == l.sumOfFileSizes);
    require(l.shortcutCount >= 0 && l.shortcuts.size() == static_cast<std::size_t>(l.shortcutCount));
    // A sound package names nothing outside its install directory.
    for (const wbpack::ListedEntry& e : l.entries) {
        if (e.tag != wbformat::kTagFile && e.tag != wbformat::kTagEnterDir) continue;
        std::size_t start = 0;
        for (;;) {
            std::size_t end = e.path.find('/', start);
            if (end == std::string::npos) end = e.path.size();
            require(wbformat::isSafeEntryName(e.path.data() + start, end - start));
            if (end == e.path.size()) break;
            start = end + 1;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string file = size > 0 && data[0] == 'S' ? installerAroundStream(data + 1, size - 1)
                                                  : std::string(reinterpret_cast<const char*>(data), size);
    compareLibraries(file);
    wbpack::PackageInput input;
    input.bytes = reinterpret_cast<const unsigned char*>(file.data());
    input.size = file.size();
    wbpack::ReadOptions options;
    // bzip2 turns a few bytes into gigabytes at will; the fuzzer need not follow all the
    // way, but far enough that a stream of millions of one-byte entries (the seed
    // many-one-byte-entries) would exceed the memory limit if the listing's ceiling
    // did not hold. The listing keeps its real ceiling.
    options.maxDecompressed = 64u << 20;
    wbpack::PackageListing listing;
    std::vector<std::string> problems;
    bool sound = wbpack::readPackage(input, options, listing, problems);
    checkListing(listing, sound, problems);
    return 0;
}
