// The package's byte encodings and the streaming compressor that writes them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/package_format.h"
#include "tools/pack/pack_internal.h"

namespace wbpack {

// ---- Encodings ----------------------------------------------------------------------

std::string encodeU32(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// No length check here: the raw form must be able to write whatever a test asks for.
// checkPackageSpec keeps real packages within 65535 bytes.
std::string encodeCountedString(const std::string& text)
{
    std::string bytes;
    bytes += static_cast<char>(text.size() & 0xFF);
    bytes += static_cast<char>((text.size() >> 8) & 0xFF);
    return bytes + text;
}

std::string encodeHeader(const PackageHeader& header, const std::vector<ShortcutSpec>& shortcuts)
{
    std::string bytes = encodeCountedString(header.productName) + encodeCountedString(header.installDir) +
                        encodeCountedString(header.runCommand) + encodeCountedString(header.webAddress) +
                        encodeCountedString(header.publisher) + encodeCountedString(header.licenceText);
    bytes += encodeU32(static_cast<std::uint32_t>(shortcuts.size()));
    for (const ShortcutSpec& s : shortcuts) {
        bytes += encodeCountedString(s.linkPath) + encodeCountedString(s.target) +
                 encodeCountedString(s.workingDir) + encodeCountedString(s.arguments) +
                 encodeCountedString(s.description);
    }
    return bytes;
}

std::string encodeFileEntry(const std::string& name, const std::string& data)
{
    return std::string(1, static_cast<char>(wbformat::kTagFile)) +
           encodeU32(static_cast<std::uint32_t>(data.size())) + encodeCountedString(name) + data;
}

std::string encodeEnterDir(const std::string& name)
{
    return std::string(1, static_cast<char>(wbformat::kTagEnterDir)) + encodeCountedString(name);
}

std::string encodeLeaveDir()
{
    return std::string(1, static_cast<char>(wbformat::kTagLeaveDir));
}

std::size_t findControlCharacter(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c >= 1 && c < 0x20) || c == 0x7F) return i;
    }
    return std::string::npos;
}

// ---- Streaming compressor -----------------------------------------------------------

static void failWriter(PackageWriter& writer, const std::string& message)
{
    if (writer.failed) return;
    writer.failed = true;
    writer.error = message;
}

// Writes the joined stream's finished bytes.
static void flushOutput(PackageWriter& writer)
{
    if (writer.outBytes.empty() || writer.failed) return;
    if (std::fwrite(writer.outBytes.data(), 1, writer.outBytes.size(), writer.out) != writer.outBytes.size())
        failWriter(writer, std::string("cannot write the output file: ") + std::strerror(errno));
    writer.outBytes.clear();
}

// Waits for the oldest block still being compressed and joins it to the stream.
static void finishOldestBlock(PackageWriter& writer)
{
    std::unique_ptr<BlockJob> job = std::move(writer.working.front());
    writer.working.pop_front();
    if (job->worker.joinable()) job->worker.join();
    if (!job->ok) {
        failWriter(writer, job->error);
        return;
    }
    appendBlock(writer, *job);
    flushOutput(writer);
}

// Hands the filled block to a worker, once fewer than `threads` are busy. Blocks are
// joined strictly in the order they were cut, so the thread count changes only the pace.
static void compressBlock(PackageWriter& writer, std::string&& input)
{
    while (!writer.working.empty() && writer.working.size() >= writer.threads && !writer.failed)
        finishOldestBlock(writer);
    if (writer.failed) return;
    writer.working.push_back(std::make_unique<BlockJob>());
    BlockJob& job = *writer.working.back();
    job.input = std::move(input);
    if (writer.threads > 1) {
        try {
            job.worker = std::thread(compressBlockJob, std::ref(job));
            return;
        } catch (const std::system_error&) {
            // No thread to be had: this block is compressed here, to the same bytes.
        }
    }
    compressBlockJob(job);
    finishOldestBlock(writer);
}

// libbzip2's run-length stage, counted byte by byte: a run of n equal bytes (at most 255)
// takes n bytes of the block when n < 4 and 5 otherwise, and is counted only when the
// next byte ends it. A block is full when, before a byte is taken, the counted runs fill
// kBlockLimit; the run still open then begins the next block.
static void takeBytes(PackageWriter& writer, const unsigned char* bytes, std::size_t size)
{
    std::size_t from = 0;
    int runByte = writer.runByte;
    unsigned runLength = writer.runLength;
    std::size_t blockBytes = writer.blockBytes;
    for (std::size_t i = 0; i < size; ++i) {
        if (blockBytes >= kBlockLimit) {
            writer.block.append(reinterpret_cast<const char*>(bytes) + from, i - from);
            from = i;
            std::string next = writer.block.substr(writer.block.size() - runLength);
            writer.block.resize(writer.block.size() - runLength);
            compressBlock(writer, std::move(writer.block));
            writer.block = std::move(next);
            blockBytes = 0;
            if (writer.failed) return;
        }
        int b = bytes[i];
        if (b != runByte || runLength == 255) {
            if (runByte < 256) blockBytes += runLength < 4 ? runLength : 5;
            runByte = b;
            runLength = 1;
        } else {
            ++runLength;
        }
    }
    writer.block.append(reinterpret_cast<const char*>(bytes) + from, size - from);
    writer.runByte = runByte;
    writer.runLength = runLength;
    writer.blockBytes = blockBytes;
}

bool beginPackageStream(PackageWriter& writer, FILE* out, unsigned threads)
{
    writer.out = out;
    writer.threads = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    writer.readBuffer.resize(kStreamBufferSize);
    // Block size 9 compresses best.
    writer.outBytes = "BZh9";
    writer.started = true;
    return true;
}

void writePackageBytes(PackageWriter& writer, const void* data, std::size_t size)
{
    if (!writer.failed) takeBytes(writer, static_cast<const unsigned char*>(data), size);
}

void writeU32(PackageWriter& writer, std::uint32_t value)
{
    std::string bytes = encodeU32(value);
    writePackageBytes(writer, bytes.data(), bytes.size());
}

void writeCountedString(PackageWriter& writer, const std::string& text)
{
    unsigned char length[2] = {static_cast<unsigned char>(text.size() & 0xFF),
                               static_cast<unsigned char>((text.size() >> 8) & 0xFF)};
    writePackageBytes(writer, length, 2);
    writePackageBytes(writer, text.data(), text.size());
}

void writeHeader(PackageWriter& writer, const PackageHeader& header, const std::vector<ShortcutSpec>& shortcuts)
{
    std::string bytes = encodeHeader(header, shortcuts);
    writePackageBytes(writer, bytes.data(), bytes.size());
}

void writeFileData(PackageWriter& writer, FILE* in, std::uint64_t size, const std::string& label,
                   const BuildProgress& progress, std::uint64_t& done, std::uint64_t total)
{
    std::uint64_t left = size;
    while (left > 0 && !writer.failed) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(writer.readBuffer.size(), left));
        std::size_t got = std::fread(writer.readBuffer.data(), 1, want, in);
        takeBytes(writer, reinterpret_cast<const unsigned char*>(writer.readBuffer.data()), got);
        left -= got;
        done += got;
        if (got < want) {
            failWriter(writer, label + ": " +
                                   (std::ferror(in) ? std::string("read error: ") + std::strerror(errno)
                                                    : std::string("the file became shorter while it was packed")));
            return;
        }
        if (progress.report) progress.report(done, total, progress.context);
    }
    if (!writer.failed && std::fgetc(in) != EOF)
        failWriter(writer, label + ": the file grew while it was packed");
}

bool endPackageStream(PackageWriter& writer)
{
    if (!writer.failed && !writer.block.empty()) compressBlock(writer, std::move(writer.block));
    while (!writer.working.empty() && !writer.failed) finishOldestBlock(writer);
    if (!writer.failed) {
        appendStreamEnd(writer);
        flushOutput(writer);
    }
    releasePackageStream(writer);
    return !writer.failed;
}

// After a failure the workers still running are waited for: they own nothing of the
// writer's but their own block.
void releasePackageStream(PackageWriter& writer)
{
    for (std::unique_ptr<BlockJob>& job : writer.working) {
        if (job->worker.joinable()) job->worker.join();
    }
    writer.working.clear();
    writer.started = false;
}

}  // namespace wbpack
