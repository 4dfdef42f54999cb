// The package's bzip2 stream read block by block: the blocks after the one being read are
// decoded ahead on other threads, each in small-memory mode, and handed over strictly in
// order, so that what the reader delivers does not depend on how many threads there are.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// Threads in all, the reading thread included.
constexpr int kMaxDecodeThreads = 4;

// How many threads the next stream opened decodes with: 0 for one per core (at most
// kMaxDecodeThreads), 1 for the reading thread alone. For the tests.
void setDecodeThreads(int threads);

// The threads a stream opened now would decode with.
int decodeThreadCount();

// Blocks the reading thread has taken over from a worker since the program started, for
// the tests: that the workers find blocks and do their part.
std::uint32_t blocksTakenFromWorkers();

// Reads up to count bytes at offset of the file, whatever its own position: every thread
// reads through the one handle the installer opened, each at its own offset. *got is 0
// when the read fails.
bool readFileAt(HANDLE file, std::uint64_t offset, void* dest, DWORD count, DWORD* got);

// Opens the bzip2 stream that begins at streamOffset of the open file and starts the
// decoding threads, which find the block starts by their marker as they go and all read
// through that handle; it stays the caller's. False when the file cannot be read or
// memory runs out; a damaged stream is told by the reads.
bool openBlockStream(HANDLE file, std::uint32_t streamOffset);

// Reads up to count bytes into dest. *status becomes BZ_OK, BZ_STREAM_END (the stream's
// last byte has been delivered, in this read or before) or an error; on an error nothing
// counts as delivered and 0 is returned.
std::uint32_t readBlockStream(void* dest, std::uint32_t count, int* status);

// Stops the decoding threads and releases everything the stream held.
void closeBlockStream();

// Every position (in bits from the start of `bytes`) where a block marker or the
// end-of-stream marker begins, as position * 2 + 1 for the end marker and position * 2
// for a block. The bytes of compressed data may hold either pattern by chance too.
std::vector<std::uint64_t> findStreamMarkers(const unsigned char* bytes, std::size_t length);
