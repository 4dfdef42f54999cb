// The package's byte encodings and the streaming compressor that writes them.
#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Hands the gathered input to the compressor and writes whatever output it makes.
// With BZ_RUN the compressor may keep some input for its current block; it takes all of
// it before returning BZ_RUN_OK with avail_in 0, which is what the loop waits for.
static void compressInput(PackageWriter& writer, int action)
{
    bz_stream& s = writer.stream;
    s.next_in = writer.input.data();
    s.avail_in = static_cast<unsigned int>(writer.inputUsed);
    for (;;) {
        s.next_out = writer.output.data();
        s.avail_out = static_cast<unsigned int>(writer.output.size());
        int status = BZ2_bzCompress(&s, action);
        std::size_t produced = writer.output.size() - s.avail_out;
        if (produced > 0 && std::fwrite(writer.output.data(), 1, produced, writer.out) != produced) {
            failWriter(writer, std::string("cannot write the output file: ") + std::strerror(errno));
            return;
        }
        if (action == BZ_RUN) {
            if (status != BZ_RUN_OK) break;
            if (s.avail_in == 0) {
                writer.inputUsed = 0;
                return;
            }
        } else {
            if (status == BZ_STREAM_END) {
                writer.inputUsed = 0;
                return;
            }
            if (status != BZ_FINISH_OK) break;
        }
    }
    failWriter(writer, "the bzip2 compressor failed");
}

bool beginPackageStream(PackageWriter& writer, FILE* out)
{
    writer.out = out;
    writer.input.resize(kStreamBufferSize);
    writer.output.resize(kStreamBufferSize);
    writer.inputUsed = 0;
    // Block size 9 compresses best; work factor 0 is the library's default.
    if (BZ2_bzCompressInit(&writer.stream, 9, 0, 0) != BZ_OK) {
        failWriter(writer, "cannot set up the bzip2 compressor (out of memory?)");
        return false;
    }
    writer.started = true;
    return true;
}

void writePackageBytes(PackageWriter& writer, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && !writer.failed) {
        std::size_t room = writer.input.size() - writer.inputUsed;
        std::size_t n = std::min(room, size);
        std::memcpy(writer.input.data() + writer.inputUsed, bytes, n);
        writer.inputUsed += n;
        bytes += n;
        size -= n;
        if (writer.inputUsed == writer.input.size()) compressInput(writer, BZ_RUN);
    }
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
        std::size_t room = writer.input.size() - writer.inputUsed;
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, left));
        std::size_t got = std::fread(writer.input.data() + writer.inputUsed, 1, want, in);
        writer.inputUsed += got;
        left -= got;
        done += got;
        if (got < want) {
            failWriter(writer, label + ": " +
                                   (std::ferror(in) ? std::string("read error: ") + std::strerror(errno)
                                                    : std::string("the file became shorter while it was packed")));
            return;
        }
        if (writer.inputUsed == writer.input.size()) compressInput(writer, BZ_RUN);
        if (progress.report) progress.report(done, total, progress.context);
    }
    if (!writer.failed && std::fgetc(in) != EOF)
        failWriter(writer, label + ": the file grew while it was packed");
}

bool endPackageStream(PackageWriter& writer)
{
    if (!writer.failed) compressInput(writer, BZ_FINISH);
    releasePackageStream(writer);
    return !writer.failed;
}

void releasePackageStream(PackageWriter& writer)
{
    if (writer.started) BZ2_bzCompressEnd(&writer.stream);
    writer.started = false;
}

}  // namespace wbpack
