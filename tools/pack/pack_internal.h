// Pieces shared by the builder's own files and nothing else. Kept out of pack.h because
// bzlib.h pulls in <windows.h> when it is compiled for Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <bzlib.h>

#include "tools/pack/pack.h"

namespace wbpack {

// Both buffers are this large: big enough that the compressor, not the calls into it,
// sets the pace, small enough that memory stays flat however large the payload.
constexpr std::size_t kStreamBufferSize = 1 << 20;

// Compresses everything written to it into one bzip2 stream (block size 9) on `out`.
// Small fields are gathered in `input`, and file data is read straight into it, so each
// byte is copied once before the compressor takes it.
struct PackageWriter {
    FILE* out = nullptr;
    bz_stream stream{};
    bool started = false;
    bool failed = false;
    std::string error;
    std::vector<char> input;
    std::size_t inputUsed = 0;
    std::vector<char> output;
};

bool beginPackageStream(PackageWriter& writer, FILE* out);
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

// Why an entry name was refused, shared by build and verify.
constexpr char kUnsafeNameRule[] =
    "a name must be a single path component (no \\ / or :), not a device name such as CON, NUL, COM1 or LPT1, "
    "and not end in a dot or a blank";

// Control characters (1-31 and 127): what a mistyped escape in a quoted manifest value
// leaves behind. Returns the position of the first, or npos.
std::size_t findControlCharacter(const std::string& text);

}  // namespace wbpack
