// The patched libbzip2 (cmake/bzip2-small-fast.patch) against the library as Debian ships
// it, both compiled from the same source with their names prefixed: in small-memory mode
// they must deliver the same bytes and the same status at every read, on bzip2's own
// sample files, on streams of every block size and on damaged streams; and the patch may
// cost the decompressor at most 16 KiB more memory.
#include "tests/unit/bzip2_test_builds.h"
#include "tests/unit/pack_test_files.h"

#include <gtest/gtest.h>

#include <bzlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace packtest;

namespace {

// Output a damaged stream may claim beyond this is not followed.
constexpr std::size_t kMaxCompared = 24u << 20;

// Both libraries read the same file with BZ2_bzRead in small-memory mode, in lockstep,
// with read sizes that vary from 1 byte to 32768; every read must give the same count, the
// same bytes and the same status. Returns the patched library's output.
std::string readBoth(const std::string& stream, const std::string& what)
{
    TempDir dir;
    std::string path = dir / "stream.bz2";
    writeFile(path, stream);
    FILE* plainFile = std::fopen(path.c_str(), "rb");
    FILE* patchedFile = std::fopen(path.c_str(), "rb");
    EXPECT_TRUE(plainFile && patchedFile) << what;
    if (!plainFile || !patchedFile) return std::string();
    int plainStatus = BZ_OK, patchedStatus = BZ_OK;
    BZFILE* plain = wbplain_BZ2_bzReadOpen(&plainStatus, plainFile, 0, 1, nullptr, 0);
    BZFILE* patched = wbpatched_BZ2_bzReadOpen(&patchedStatus, patchedFile, 0, 1, nullptr, 0);
    EXPECT_EQ(plainStatus, BZ_OK) << what;
    EXPECT_EQ(patchedStatus, BZ_OK) << what;
    static const int sizes[] = {1, 2, 4, 32768, 7, 4096, 3, 32768, 32768, 100};
    std::vector<char> a(32768), b(32768);
    std::string out;
    for (std::size_t read = 0; plainStatus == BZ_OK && out.size() < kMaxCompared; ++read) {
        int size = sizes[read % (sizeof sizes / sizeof sizes[0])];
        int gotPlain = wbplain_BZ2_bzRead(&plainStatus, plain, a.data(), size);
        int gotPatched = wbpatched_BZ2_bzRead(&patchedStatus, patched, b.data(), size);
        if (gotPlain != gotPatched || plainStatus != patchedStatus ||
            std::string(a.data(), gotPlain > 0 ? gotPlain : 0) != std::string(b.data(), gotPatched > 0 ? gotPatched : 0)) {
            ADD_FAILURE() << what << ": read " << read << " of " << size << " bytes: plain gave " << gotPlain
                          << " (status " << plainStatus << "), patched " << gotPatched << " (status "
                          << patchedStatus << ") or other bytes";
            break;
        }
        if (gotPatched > 0) out.append(b.data(), gotPatched);
    }
    wbplain_BZ2_bzReadClose(&plainStatus, plain);
    wbpatched_BZ2_bzReadClose(&patchedStatus, patched);
    EXPECT_EQ(plainStatus, patchedStatus) << what;
    std::fclose(plainFile);
    std::fclose(patchedFile);
    return out;
}

std::string compress(const std::string& data, int blockSize)
{
    std::vector<char> out(data.size() + data.size() / 50 + 700);
    unsigned int size = static_cast<unsigned int>(out.size());
    EXPECT_EQ(wbplain_BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                               static_cast<unsigned int>(data.size()), blockSize, 0, 0),
              BZ_OK);
    return std::string(out.data(), size);
}

// Words, runs of every length (the run-length stage's cases) and noise, mixed, so that a
// block holds many symbols of very different frequencies.
std::string mixedData(std::size_t size, std::uint32_t seed)
{
    static const char* words[] = {"class ", "java/lang/Object", " = ", "<html>", "\r\n", "getValue", "0x7f"};
    std::string out;
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        unsigned pick = (seed >> 16) % 10;
        if (pick < 6) out += words[(seed >> 8) % 7];
        else if (pick < 8) out.append(1 + (seed >> 4) % 300, static_cast<char>(seed >> 24));
        else out += noise(1 + (seed >> 4) % 200, seed);
    }
    out.resize(size);
    return out;
}

// What the decompressor allocates at its peak, through the library's allocator hooks.
struct Allocations {
    std::size_t now = 0;
    std::size_t peak = 0;
};

void* countingAlloc(void* opaque, int items, int size)
{
    auto* counts = static_cast<Allocations*>(opaque);
    std::size_t bytes = static_cast<std::size_t>(items) * static_cast<std::size_t>(size);
    auto* block = static_cast<std::size_t*>(std::malloc(bytes + sizeof(std::size_t)));
    if (!block) return nullptr;
    *block = bytes;
    counts->now += bytes;
    if (counts->now > counts->peak) counts->peak = counts->now;
    return block + 1;
}

void countingFree(void* opaque, void* address)
{
    if (!address) return;
    auto* block = static_cast<std::size_t*>(address) - 1;
    static_cast<Allocations*>(opaque)->now -= *block;
    std::free(block);
}

template <typename Init, typename Step, typename End>
std::size_t peakAllocation(const std::string& stream, Init init, Step step, End end)
{
    Allocations counts;
    bz_stream s{};
    s.bzalloc = countingAlloc;
    s.bzfree = countingFree;
    s.opaque = &counts;
    EXPECT_EQ(init(&s, 0, 1), BZ_OK);
    std::vector<char> out(1 << 16);
    s.next_in = const_cast<char*>(stream.data());
    s.avail_in = static_cast<unsigned int>(stream.size());
    int status = BZ_OK;
    while (status == BZ_OK) {
        s.next_out = out.data();
        s.avail_out = static_cast<unsigned int>(out.size());
        status = step(&s);
    }
    EXPECT_EQ(status, BZ_STREAM_END);
    end(&s);
    EXPECT_EQ(counts.now, 0u);
    return counts.peak;
}

TEST(Bzip2Patch, SampleFilesDecompressToTheirReferenceBytes)
{
    for (const char* name : {"sample1", "sample2", "sample3"}) {
        std::string base = std::string(WB_BZIP2_SOURCE_DIR) + "/" + name;
        std::string stream = readFile(base + ".bz2");
        ASSERT_FALSE(stream.empty()) << base;
        EXPECT_EQ(readBoth(stream, name), readFile(base + ".ref")) << name;
    }
}

TEST(Bzip2Patch, StreamsOfEveryBlockSizeAndTheirDamagedFormsReadAlike)
{
    for (int blockSize = 1; blockSize <= 9; ++blockSize) {
        // A little more than one block, so that a block boundary is crossed.
        std::string data = mixedData(static_cast<std::size_t>(blockSize) * 100000 + 12345, blockSize);
        std::string stream = compress(data, blockSize);
        std::string what = "block size " + std::to_string(blockSize);
        EXPECT_EQ(readBoth(stream, what), data) << what;

        // Damage: bits flipped in the block data, in the block header and in the stream's
        // end; the stream cut short; the first block marked randomised (an old
        // compressor's form, decoded differently, then refused by its checksum).
        std::uint32_t seed = 77u * blockSize;
        for (int i = 0; i < 4; ++i) {
            seed = seed * 1103515245u + 12345u;
            std::string broken = stream;
            std::size_t at = 4 + (seed >> 8) % (stream.size() - 4);
            broken[at] = static_cast<char>(broken[at] ^ (1 << (seed % 8)));
            readBoth(broken, what + ", bit flipped at " + std::to_string(at));
        }
        for (std::size_t at : {std::size_t{20}, stream.size() - 12, stream.size() - 3}) {
            std::string broken = stream;
            broken[at] = static_cast<char>(broken[at] ^ 0x10);
            readBoth(broken, what + ", bit flipped at " + std::to_string(at));
        }
        readBoth(stream.substr(0, stream.size() / 2), what + ", cut in half");
        readBoth(stream.substr(0, stream.size() - 1), what + ", last byte missing");
        std::string randomised = stream;
        randomised[14] = static_cast<char>(randomised[14] | 0x80);
        readBoth(randomised, what + ", randomised");
    }
}

TEST(Bzip2Patch, DecompressorNeedsAtMost16KiBMore)
{
    std::string stream = compress(mixedData(1000000, 9), 9);
    std::size_t plain = peakAllocation(stream, wbplain_BZ2_bzDecompressInit, wbplain_BZ2_bzDecompress,
                                       wbplain_BZ2_bzDecompressEnd);
    std::size_t patched = peakAllocation(stream, wbpatched_BZ2_bzDecompressInit, wbpatched_BZ2_bzDecompress,
                                         wbpatched_BZ2_bzDecompressEnd);
    std::printf("small-memory decompressor, block size 9: %zu bytes plain, %zu patched (+%zu)\n", plain, patched,
                patched - plain);
    EXPECT_GT(patched, plain);
    EXPECT_LE(patched, plain + 16384);
}

}  // namespace
