// Pieces shared by the builder's own files and nothing else. Kept out of pack.h because
// bzlib.h pulls in <windows.h> when it is compiled for Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <bzlib.h>

#include "tools/pack/pack.h"

namespace wbpack {

// File data is read in pieces of this size; the compressor works on whole blocks.
constexpr std::size_t kStreamBufferSize = 1 << 20;

// The most bytes a block of block size 9 takes after the run-length stage; libbzip2 ends
// a block once it holds this many.
constexpr std::size_t kBlockLimit = 100000 * 9 - 19;

// One block's worth of input, compressed by a worker: the block's bits (from the first
// byte of `stream` on, `bits` of them) and its CRC, taken from libbzip2's own stream of
// this input alone.
struct BlockJob {
    std::string input;
    std::string stream;
    std::size_t blockStart = 0;
    std::uint64_t bits = 0;
    std::uint32_t crc = 0;
    bool ok = false;
    std::string error;
    std::thread worker;
};

// Compresses everything written to it into one bzip2 stream (block size 9) on `out`.
// The input is cut into blocks exactly where libbzip2 would cut one stream of it (the
// cut follows from the bytes alone), each block is compressed on its own by up to
// `threads` workers at once, and the blocks are joined in order into one stream with
// the combined CRC: the bytes libbzip2 writes for the whole input, for any thread count.
struct PackageWriter {
    FILE* out = nullptr;
    unsigned threads = 1;
    bool started = false;
    bool failed = false;
    std::string error;
    std::vector<char> readBuffer;
    // The block being filled, and libbzip2's run-length state over it: the run not yet
    // counted (it may carry over into the next block) and the bytes counted so far.
    std::string block;
    int runByte = 256;
    unsigned runLength = 0;
    std::size_t blockBytes = 0;
    std::deque<std::unique_ptr<BlockJob>> working;
    // The output stream's bits not yet written, and its combined CRC.
    std::uint64_t bitBuffer = 0;
    int bitCount = 0;
    std::string outBytes;
    std::uint32_t combinedCrc = 0;
};

// Compresses job.input alone and finds its block in the stream (false, with job.error,
// if the stream is not one block as expected). Runs on the workers.
void compressBlockJob(BlockJob& job);
// Appends a compressed block's bits to the writer's stream, and its CRC to the combined one.
void appendBlock(PackageWriter& writer, const BlockJob& job);
// Appends the end-of-stream marker with the combined CRC and pads the last byte.
void appendStreamEnd(PackageWriter& writer);

// threads: how many blocks are compressed at once (0: one per core).
bool beginPackageStream(PackageWriter& writer, FILE* out, unsigned threads = 0);
void writePackageBytes(PackageWriter& writer, const void* data, std::size_t size);
void writeU32(PackageWriter& writer, std::uint32_t value);
void writeCountedString(PackageWriter& writer, const std::string& text);
void writeHeader(PackageWriter& writer, const PackageHeader& header, const std::vector<ShortcutSpec>& shortcuts);
// Copies exactly `size` bytes of `in` into the stream. The size field is already written,
// so a file that turns out shorter or longer than that fails the writer.
void writeFileData(PackageWriter& writer, FILE* in, std::uint64_t size, const std::string& label,
                   const BuildProgress& progress, std::uint64_t& done, std::uint64_t total);
// Flushes and ends the stream; false (with writer.error) if anything failed on the way.
bool endPackageStream(PackageWriter& writer);
// Releases the compressor; harmless after endPackageStream.
void releasePackageStream(PackageWriter& writer);

// Opens a source file for reading, never through a symbolic link in its last component,
// and only when it is a regular file; device, inode and size are those of the file opened.
// nullptr with error ("<path>: ...") otherwise.
FILE* openSourceFile(const std::string& path, std::uint64_t& device, std::uint64_t& inode, std::uint64_t& size,
                     std::string& error);

// True when a link path lies below one of the shell folders its leading macro names
// ($D, $P, $S, $s) or below the install directory: where the installer's shortcuts
// normally go. Shared by the build's checks and its warnings.
bool linkInNamedFolders(const std::string& linkPath, const std::string& installDir);

// Why an entry name was refused, shared by build and verify.
constexpr char kUnsafeNameRule[] =
    "a name must be a single path component (no \\ / or :), not a device name such as CON, NUL, COM1 or LPT1, "
    "and not end in a dot or a blank";

// False for a name Windows cannot create: one holding <>"|?* or a control character.
// Shared by build and verify.
bool windowsAcceptsName(const std::string& name);
constexpr char kWindowsNameRule[] = "Windows allows no <>\"|?* or control characters in file names";

// Control characters (1-31 and 127): what a mistyped escape in a quoted manifest value
// leaves behind. Returns the position of the first, or npos.
std::size_t findControlCharacter(const std::string& text);

// "line:column" of a byte position in a text, the column counted in characters.
std::string textPosition(const std::string& text, std::size_t at);

// Refuses, with "label:line:column: what was expected", a manifest text that the
// launcher's lenient parser would not read to its end exactly as written: a stray "}",
// an "=" or "{" where a key belongs, an "=" without a value, an unclosed quote or block,
// a zero byte.
bool checkManifestSyntax(const std::string& text, const std::string& label, std::string& error);

// Reads a text file whole (stopping once it holds more than `most` bytes) and drops a
// UTF-8 byte-order mark at its start. Failures say "<label> does not exist", "is a
// folder, not a text file", "cannot be opened: ..." or "cannot be read: ...".
bool readTextFile(const std::string& path, const std::string& label, std::size_t most, std::string& text,
                  std::string& error);

}  // namespace wbpack
