// Joining separately compressed blocks into one bzip2 stream.
//
// A bzip2 stream is "BZh" and the block-size digit, then its blocks, each beginning with
// the 48-bit marker 0x314159265359 and the block's CRC, then the 48-bit end marker
// 0x177245385090, the stream's combined CRC and zero bits up to the next byte. Blocks
// are whole bit strings that depend on nothing outside themselves, and the combined CRC
// is built from the blocks' CRCs alone (rotated left by one, then the next block's CRC
// added with xor). So one block's input compressed on its own by libbzip2 gives the very
// bits that block would have in a stream of the whole input, and joining them at bit
// level gives that stream.
#include "tools/pack/pack_internal.h"

namespace wbpack {

namespace {

constexpr std::uint64_t kBlockMarker = 0x314159265359ull;
constexpr std::uint64_t kEndMarker = 0x177245385090ull;
constexpr std::size_t kHeaderBytes = 4;  // "BZh9"

// Bits [at, at + count) of `bytes`, most significant bit first; count at most 64.
std::uint64_t bitsAt(const std::string& bytes, std::uint64_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        std::uint64_t bit = at + static_cast<std::uint64_t>(i);
        value = (value << 1) | ((static_cast<unsigned char>(bytes[bit / 8]) >> (7 - bit % 8)) & 1u);
    }
    return value;
}

void putBits(PackageWriter& writer, std::uint64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        writer.bitBuffer = (writer.bitBuffer << 1) | ((value >> i) & 1u);
        if (++writer.bitCount == 8) {
            writer.outBytes += static_cast<char>(writer.bitBuffer & 0xFF);
            writer.bitCount = 0;
        }
    }
}

}  // namespace

void compressBlockJob(BlockJob& job)
{
    job.stream.resize(job.input.size() + job.input.size() / 100 + 600);
    unsigned int size = static_cast<unsigned int>(job.stream.size());
    int status = BZ2_bzBuffToBuffCompress(&job.stream[0], &size, &job.input[0],
                                          static_cast<unsigned int>(job.input.size()), 9, 0, 0);
    std::string().swap(job.input);
    if (status != BZ_OK) {
        job.error = status == BZ_MEM_ERROR ? "the bzip2 compressor ran out of memory"
                                           : "the bzip2 compressor failed (status " + std::to_string(status) + ")";
        return;
    }
    job.stream.resize(size);
    // One block: header, block marker, the block's CRC, ..., end marker, the combined CRC
    // (which for one block is the block's CRC), then 0 to 7 zero bits.
    const std::uint64_t total = static_cast<std::uint64_t>(size) * 8;
    if (size < kHeaderBytes + 20 || job.stream.compare(0, kHeaderBytes, "BZh9") != 0 ||
        bitsAt(job.stream, kHeaderBytes * 8, 48) != kBlockMarker) {
        job.error = "the bzip2 compressor made a stream of unexpected form";
        return;
    }
    job.crc = static_cast<std::uint32_t>(bitsAt(job.stream, kHeaderBytes * 8 + 48, 32));
    for (int pad = 0; pad < 8; ++pad) {
        std::uint64_t end = total - static_cast<std::uint64_t>(pad) - 80;
        if (bitsAt(job.stream, total - pad, pad) == 0 && bitsAt(job.stream, end, 48) == kEndMarker &&
            bitsAt(job.stream, end + 48, 32) == job.crc) {
            job.blockStart = kHeaderBytes;
            job.bits = end - kHeaderBytes * 8;
            job.ok = true;
            return;
        }
    }
    // Only a stream of more than one block ends otherwise: the block was cut wrongly.
    job.error = "a block did not come out as one bzip2 block";
}

void appendBlock(PackageWriter& writer, const BlockJob& job)
{
    const std::string& s = job.stream;
    std::uint64_t whole = job.bits / 8;
    if (writer.bitCount == 0) {
        writer.outBytes.append(s, job.blockStart, static_cast<std::size_t>(whole));
    } else {
        // Each byte lands across two: its high bits finish the pending byte.
        int shift = writer.bitCount;
        unsigned pending = static_cast<unsigned>(writer.bitBuffer) & ((1u << shift) - 1);
        std::size_t at = writer.outBytes.size();
        writer.outBytes.resize(at + static_cast<std::size_t>(whole));
        for (std::uint64_t i = 0; i < whole; ++i) {
            unsigned b = static_cast<unsigned char>(s[job.blockStart + i]);
            writer.outBytes[at + i] = static_cast<char>(((pending << (8 - shift)) | (b >> shift)) & 0xFF);
            pending = b & ((1u << shift) - 1);
        }
        writer.bitBuffer = pending;
    }
    int rest = static_cast<int>(job.bits % 8);
    if (rest > 0) putBits(writer, bitsAt(s, (job.blockStart + whole) * 8, rest), rest);
    writer.combinedCrc = ((writer.combinedCrc << 1) | (writer.combinedCrc >> 31)) ^ job.crc;
}

void appendStreamEnd(PackageWriter& writer)
{
    putBits(writer, kEndMarker, 48);
    putBits(writer, writer.combinedCrc, 32);
    if (writer.bitCount > 0) putBits(writer, 0, 8 - writer.bitCount);
}

}  // namespace wbpack
