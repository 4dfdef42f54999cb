#include "installer/block_reader.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <bzlib.h>
// The decoder's own state: where a block's bits end and whether its output is complete
// can be read nowhere else.
#include <bzlib_private.h>

namespace {

constexpr std::uint64_t kBlockMagic = 0x314159265359ULL;
constexpr std::uint64_t kEndMagic = 0x177245385090ULL;
constexpr std::uint64_t kMagicMask = 0xFFFFFFFFFFFFULL;
constexpr std::uint64_t kMagicBits = 48;
// The stream begins with "BZh" and the block-size digit.
constexpr std::uint64_t kStreamHeaderBits = 32;

constexpr std::uint32_t kFeedBytes = 32768;
constexpr std::uint32_t kScanBytes = 65536;
// A worker decodes at most this much of a block's output ahead, then leaves the rest to
// the reading thread. Most blocks are handed over while their symbols are still being
// read (two thirds of the work); the buffer lets a worker go on while the reading thread
// is held up creating and writing files, which with many small files is most of its
// time: at 20 MB in 235 files, 256 KiB made the engine a third slower than this for
// 0.35 MB less. Beside it an extra thread costs the decoder's own 2.3 MB and the thread's
// stacks (about 1 MB resident under Wine, whatever stack size is asked for).
constexpr std::uint32_t kAheadBytes = 640 * 1024;
// Between pieces a worker looks whether its block is wanted or wanted no more.
constexpr std::uint32_t kAheadPiece = 65536;
// A package crafted to be full of marker patterns must not make the list grow without
// bound; blocks beyond the list are decoded by the reading thread alone.
constexpr std::size_t kMaxMarkers = 1 << 16;

// What became of a block so far; the errors are the library's (negative).
constexpr int kStillDecoding = 100;
constexpr int kBlockWhole = 101;

enum SlotOwner { kFree, kWorker, kParked, kReader };

int forcedThreads = 0;
std::uint32_t blocksFromWorkers = 0;

// The stream's bits from a given bit on, shifted into whole bytes.
struct BitFeed {
    HANDLE file;
    std::uint64_t at;  // the file byte read next
    unsigned shift;
    int carry;  // the byte read last, not yet combined; -1 before the first
    bool ended;
};

// One block being decoded, by a worker or by the reading thread.
struct Slot {
    int owner;                // under the lock, as are start and the two flags' setting
    std::uint64_t start;      // the block's first bit (its marker)
    volatile LONG cancel;     // the block is no longer wanted
    volatile LONG handOver;   // the reader has reached it: stop after this piece
    // Touched only by the thread that owns the slot.
    bz_stream strm;
    bool streamOpen;
    bool symbolsDone;         // the block's bits are read; only its output is left
    int outcome;
    std::uint64_t end;        // the bit after the block, once symbolsDone
    std::uint32_t blockCrc;
    BitFeed feed;
    unsigned char* input;     // the stream header, then kFeedBytes
    unsigned char* buffer;    // a worker's output, kAheadBytes, from the pool
    std::uint32_t filled;
    std::uint32_t taken;
};

struct BlockStream {
    HANDLE file;
    std::uint64_t streamOffset;  // of the stream in the file
    std::uint64_t streamBits;    // from the stream's start to the end of the file
    char level;                  // the block-size digit
    // Block starts found so far by the workers, which look for them ahead of the blocks
    // they decode; the reading thread never waits for them.
    std::vector<std::uint64_t> markers;
    std::uint64_t scannedTo;     // the stream byte the next piece to look at begins with
    bool scanEnded;

    // The reading thread's side.
    Slot* current;
    std::uint64_t nextStart;
    std::uint32_t combinedCrc;
    int status;

    // Shared, under the lock.
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;
    Slot slots[kMaxDecodeThreads];
    int slotCount;
    unsigned char* spareBuffers[kMaxDecodeThreads];
    int spareCount;
    std::size_t claimNext;  // the next marker a worker may take
    std::uint64_t readerAt; // the block the reading thread is at: markers before it are past
    bool quit;
    unsigned char* scanBytes;    // the workers' scan buffer: a piece, the 7 bytes after it, 7 zeros
    HANDLE threads[kMaxDecodeThreads];
    int threadCount;
};

BlockStream* stream = nullptr;

// ---- markers ------------------------------------------------------------------------

// For each byte value, the shifts at which it is the second byte of a marker (bits 0-7
// the block marker, 8-15 the end marker): that byte lies wholly inside the 48 bits at
// every shift, so that most positions are passed over after one look.
std::uint16_t markerHints[256];

void buildMarkerHints()
{
    if (markerHints[(kBlockMagic << 16) >> 48 & 0xFF] != 0) return;
    for (unsigned s = 0; s < 8; ++s) {
        markerHints[(kBlockMagic << (16 - s)) >> 48 & 0xFF] |= static_cast<std::uint16_t>(1u << s);
        markerHints[(kEndMagic << (16 - s)) >> 48 & 0xFF] |= static_cast<std::uint16_t>(1u << (8 + s));
    }
}

std::uint64_t bigEndian64(const unsigned char* b)
{
    std::uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w = w << 8 | b[i];
    return w;
}

// Looks at the windows beginning at bytes[0 .. length-8]; `base` is the stream byte of
// bytes[0]. A marker must end within limitBits of the stream.
void scanWindows(std::vector<std::uint64_t>& found, const unsigned char* bytes, std::size_t length,
                 std::uint64_t base, std::uint64_t limitBits)
{
    for (std::size_t n = 0; n + 8 <= length; ++n) {
        unsigned hint = markerHints[bytes[n + 1]];
        if (hint == 0) continue;
        std::uint64_t w = bigEndian64(bytes + n);
        for (unsigned s = 0; s < 8; ++s) {
            std::uint64_t field = w >> (16 - s) & kMagicMask;
            bool block = (hint >> s & 1) && field == kBlockMagic;
            bool end = (hint >> (8 + s) & 1) && field == kEndMagic;
            if (!block && !end) continue;
            std::uint64_t bit = (base + n) * 8 + s;
            if (bit + kMagicBits > limitBits || found.size() >= kMaxMarkers) continue;
            found.push_back(bit * 2 + (end ? 1 : 0));
        }
    }
}

// The markers in the piece of the stream from byte `from` on; the 7 bytes after it are
// read with it, so that markers across pieces are found. False at the end of the file.
bool scanPiece(BlockStream& b, std::uint64_t from, unsigned char* bytes, std::vector<std::uint64_t>& found)
{
    // readFileAt leaves got at 0 when the read fails.
    DWORD got;
    readFileAt(b.file, b.streamOffset + from, bytes, kScanBytes + 7, &got);
    if (got == 0) return false;
    // Zeros after the end complete the last windows; a marker must end in the file.
    std::memset(bytes + got, 0, 7);
    bool more = got > kScanBytes;
    scanWindows(found, bytes, (more ? kScanBytes : got) + 7, from, b.streamBits);
    return more;
}

bool isEndMarker(std::uint64_t marker)
{
    return (marker & 1) != 0;
}

std::uint64_t markerBit(std::uint64_t marker)
{
    return marker >> 1;
}

// Up to 48 bits of the stream at `bit`, read from the file; false when the file ends first.
bool streamBitsAt(BlockStream& b, std::uint64_t bit, unsigned count, std::uint64_t* value)
{
    if (bit + count > b.streamBits) return false;
    unsigned char bytes[8] = {0};
    DWORD got = 0;
    if (!readFileAt(b.file, b.streamOffset + bit / 8, bytes, sizeof bytes, &got)) return false;
    std::uint64_t w = bigEndian64(bytes);
    *value = w << (bit % 8) >> (64 - count);
    return true;
}

// ---- decoding one block -------------------------------------------------------------

// Whole bytes of the stream from the feed's bit on, into out (room for kFeedBytes); 0 at
// the end of the file. The bits of a last byte that cannot be completed are left out: a
// block that needs them is cut short anyway, since the end marker follows every block.
std::uint32_t fillFeed(BitFeed& f, unsigned char* out)
{
    while (!f.ended) {
        DWORD got = 0;
        if (!readFileAt(f.file, f.at, out, kFeedBytes, &got) || got == 0) {
            f.ended = true;
            break;
        }
        f.at += got;
        if (f.shift == 0) return got;
        std::uint32_t made = 0;
        for (DWORD i = 0; i < got; ++i) {
            unsigned char next = out[i];
            if (f.carry >= 0) out[made++] = static_cast<unsigned char>(f.carry << f.shift | next >> (8 - f.shift));
            f.carry = next;
        }
        if (made != 0) return made;
    }
    return 0;
}

DState* decoderState(Slot& s)
{
    return static_cast<DState*>(s.strm.state);
}

// Opens a decoder on the block whose marker is at `bit`: it is handed the stream's header
// and then the stream's own bits from that marker on, as if the block were the first.
void startBlock(BlockStream& b, Slot& s)
{
    s.symbolsDone = false;
    s.outcome = kStillDecoding;
    s.filled = 0;
    s.taken = 0;
    std::memset(&s.strm, 0, sizeof s.strm);
    if (BZ2_bzDecompressInit(&s.strm, 0, 1) != BZ_OK) {
        s.outcome = BZ_MEM_ERROR;
        return;
    }
    s.streamOpen = true;
    s.feed.at = b.streamOffset + s.start / 8;
    s.feed.shift = static_cast<unsigned>(s.start % 8);
    s.feed.carry = -1;
    s.feed.ended = false;
    const unsigned char header[4] = {'B', 'Z', 'h', static_cast<unsigned char>(b.level)};
    std::memcpy(s.input, header, sizeof header);
    s.strm.next_in = reinterpret_cast<char*>(s.input);
    s.strm.avail_in = sizeof header + fillFeed(s.feed, s.input + sizeof header);
}

// Reads the block's bits up to where its output begins, and so learns where it ends.
void decodeSymbols(Slot& s)
{
    char none = 0;
    // The symbols are most of a block's work: a worker hands a block over between two
    // pieces of input, and the reading thread goes on from there, so that it never waits
    // for a whole block's symbols.
    while (s.outcome == kStillDecoding && !s.cancel && !s.handOver) {
        s.strm.next_out = &none;
        s.strm.avail_out = 0;
        int r = BZ2_bzDecompress(&s.strm);
        if (r != BZ_OK) {
            s.outcome = r == BZ_STREAM_END ? BZ_DATA_ERROR : r;
            return;
        }
        DState* d = decoderState(s);
        if (d->state == BZ_X_OUTPUT) {
            // Bits taken into the decoder's buffer early are not yet used.
            std::uint64_t used = static_cast<std::uint64_t>(s.strm.total_in_lo32) * 8 - d->bsLive;
            s.end = s.start + used - kStreamHeaderBits;
            s.symbolsDone = true;
            s.strm.avail_in = 0;
            return;
        }
        std::uint32_t got = fillFeed(s.feed, s.input);
        if (got == 0) {
            s.outcome = BZ_UNEXPECTED_EOF;
            return;
        }
        s.strm.next_in = reinterpret_cast<char*>(s.input);
        s.strm.avail_in = got;
    }
}

// Up to count bytes of the block's output into out. With count 0 it only learns whether
// the output is complete: the library then checks the block's CRC, and the block is whole.
std::uint32_t decodeOutput(Slot& s, unsigned char* out, std::uint32_t count)
{
    char none = 0;
    s.strm.next_out = count != 0 ? reinterpret_cast<char*>(out) : &none;
    s.strm.avail_out = count;
    s.strm.avail_in = 0;  // past the block's end it may read only what it holds already
    int r = BZ2_bzDecompress(&s.strm);
    std::uint32_t made = count - s.strm.avail_out;
    DState* d = decoderState(s);
    if (r != BZ_OK) {
        s.outcome = BZ_DATA_ERROR;
    } else if (d->state != BZ_X_OUTPUT) {
        s.outcome = kBlockWhole;
        s.blockCrc = d->storedBlockCRC;
    }
    return made;
}

void endDecoder(Slot& s)
{
    if (s.streamOpen) BZ2_bzDecompressEnd(&s.strm);
    s.streamOpen = false;
}

// ---- the workers --------------------------------------------------------------------

// Under the lock.
void spareBuffer(BlockStream& b, Slot& s)
{
    if (s.buffer) b.spareBuffers[b.spareCount++] = s.buffer;
    s.buffer = nullptr;
}

// Under the lock.
void releaseSlot(BlockStream& b, Slot& s)
{
    endDecoder(s);
    spareBuffer(b, s);
    s.owner = kFree;
}

Slot* freeSlot(BlockStream& b)
{
    for (int i = 0; i < b.slotCount; ++i) {
        if (b.slots[i].owner == kFree) return &b.slots[i];
    }
    return nullptr;
}

void claimSlot(Slot& s, int owner, std::uint64_t start)
{
    s.owner = owner;
    s.start = start;
    s.cancel = 0;
    s.handOver = 0;
    s.outcome = kStillDecoding;
}

// Under the lock: the next block a worker may decode, with a slot and a buffer for it.
// Workers take markers in order, and none at or before the reading thread's block.
Slot* claimNextBlock(BlockStream& b)
{
    while (b.claimNext < b.markers.size() &&
           (isEndMarker(b.markers[b.claimNext]) || markerBit(b.markers[b.claimNext]) <= b.readerAt))
        ++b.claimNext;
    if (b.claimNext >= b.markers.size() || b.spareCount == 0) return nullptr;
    Slot* s = freeSlot(b);
    if (!s) return nullptr;
    claimSlot(*s, kWorker, markerBit(b.markers[b.claimNext++]));
    s->buffer = b.spareBuffers[--b.spareCount];
    return s;
}

// A worker reads the block's bits and the first part of its output, then leaves the
// rest to the reading thread. A marker found by chance inside compressed data makes a
// block that breaks or is never asked for: it costs this time and nothing else.
void decodeAhead(BlockStream& b, Slot& s)
{
    startBlock(b, s);
    decodeSymbols(s);
    while (s.outcome == kStillDecoding && s.filled < kAheadBytes && !s.cancel && !s.handOver) {
        std::uint32_t room = std::min(kAheadPiece, kAheadBytes - s.filled);
        s.filled += decodeOutput(s, s.buffer + s.filled, room);
    }
    // A finished block needs its decoder no more; its memory is the largest part.
    if (s.outcome != kStillDecoding) endDecoder(s);
}

// Under the lock, once every marker found before has been taken or passed: looks at the
// next piece of the stream, from the reading thread's block on. The workers find the
// blocks as they go, so that the window shows without the stream being read first and the
// reading thread never scans; a piece takes a fraction of a millisecond.
void scanNextPiece(BlockStream& b)
{
    std::uint64_t from = std::max(b.scannedTo, b.readerAt / 8);
    b.markers.clear();
    b.claimNext = 0;
    b.scanEnded = !scanPiece(b, from, b.scanBytes, b.markers);
    b.scannedTo = from + kScanBytes;
}

DWORD WINAPI runWorker(void* param)
{
    BlockStream& b = *static_cast<BlockStream*>(param);
    EnterCriticalSection(&b.lock);
    while (!b.quit) {
        Slot* s = claimNextBlock(b);
        if (!s) {
            if (b.claimNext >= b.markers.size() && !b.scanEnded) {
                scanNextPiece(b);
            } else {
                SleepConditionVariableCS(&b.changed, &b.lock, INFINITE);
            }
            continue;
        }
        LeaveCriticalSection(&b.lock);
        decodeAhead(b, *s);
        EnterCriticalSection(&b.lock);
        if (s->cancel) {
            releaseSlot(b, *s);
        } else {
            s->owner = kParked;
        }
        WakeAllConditionVariable(&b.changed);
    }
    LeaveCriticalSection(&b.lock);
    return 0;
}

// ---- the reading thread -------------------------------------------------------------

// Under the lock: blocks that begin before `bit` were started at a marker that is no
// block start, or are behind the reader: they go.
void dropBlocksBefore(BlockStream& b, std::uint64_t bit)
{
    for (int i = 0; i < b.slotCount; ++i) {
        Slot& s = b.slots[i];
        if (s.owner == kFree || s.owner == kReader || s.start >= bit) continue;
        if (s.owner == kParked) {
            releaseSlot(b, s);
        } else {
            InterlockedExchange(&s.cancel, 1);
        }
    }
}

// Once what a worker decoded ahead has been taken, or when it was handed the block over
// before any output, its buffer can serve the next block while the rest of this one is
// decoded here.
void returnTakenBuffer(BlockStream& b, Slot& s)
{
    if (!s.buffer || s.taken != s.filled) return;
    EnterCriticalSection(&b.lock);
    spareBuffer(b, s);
    WakeAllConditionVariable(&b.changed);
    LeaveCriticalSection(&b.lock);
}

// The slot of the block at `bit`, from the worker that decodes it, or a free one in
// which the reading thread decodes it itself.
Slot* takeBlock(BlockStream& b, std::uint64_t bit)
{
    Slot* taken = nullptr;
    EnterCriticalSection(&b.lock);
    b.readerAt = bit;
    while (!taken) {
        dropBlocksBefore(b, bit);
        Slot* ahead = nullptr;
        for (int i = 0; i < b.slotCount; ++i) {
            Slot& s = b.slots[i];
            if ((s.owner == kWorker || s.owner == kParked) && s.start == bit) ahead = &s;
        }
        if (ahead && ahead->owner == kParked) {
            ahead->owner = kReader;
            ahead->handOver = 0;
            taken = ahead;
            ++blocksFromWorkers;
        } else if (ahead) {
            InterlockedExchange(&ahead->handOver, 1);
        } else if (Slot* s = freeSlot(b)) {
            // A free slot's decoder has been ended; startBlock sets the rest.
            claimSlot(*s, kReader, bit);
            taken = s;
            WakeAllConditionVariable(&b.changed);
            LeaveCriticalSection(&b.lock);
            startBlock(b, *s);
            decodeSymbols(*s);
            return taken;
        }
        if (!taken) SleepConditionVariableCS(&b.changed, &b.lock, INFINITE);
    }
    WakeAllConditionVariable(&b.changed);
    LeaveCriticalSection(&b.lock);
    // A block handed over before its symbols were all read goes on from where it stopped.
    returnTakenBuffer(b, *taken);
    if (!taken->symbolsDone) decodeSymbols(*taken);
    return taken;
}

void giveBack(BlockStream& b, Slot& s)
{
    EnterCriticalSection(&b.lock);
    releaseSlot(b, s);
    WakeAllConditionVariable(&b.changed);
    LeaveCriticalSection(&b.lock);
}

// The stream has ended or broken: whatever the workers hold goes.
void dropAllBlocks(BlockStream& b)
{
    EnterCriticalSection(&b.lock);
    b.claimNext = b.markers.size();
    b.scanEnded = true;
    dropBlocksBefore(b, ~0ULL);
    WakeAllConditionVariable(&b.changed);
    LeaveCriticalSection(&b.lock);
}

// What follows a block: another block, or the end marker with the CRC of all blocks.
// Anything else, or a file that ends first, breaks the stream there, as it would for a
// reader that reads it straight through.
void lookAtNextMarker(BlockStream& b)
{
    std::uint64_t magic = 0;
    if (!streamBitsAt(b, b.nextStart, kMagicBits, &magic)) {
        b.status = BZ_UNEXPECTED_EOF;
    } else if (magic == kEndMagic) {
        std::uint64_t stored = 0;
        if (!streamBitsAt(b, b.nextStart + kMagicBits, 32, &stored)) {
            b.status = BZ_UNEXPECTED_EOF;
        } else {
            b.status = stored == b.combinedCrc ? BZ_STREAM_END : BZ_DATA_ERROR;
        }
    } else if (magic != kBlockMagic) {
        b.status = BZ_DATA_ERROR;
    }
    if (b.status != BZ_OK) dropAllBlocks(b);
}

bool blockDelivered(const Slot& s)
{
    return s.taken == s.filled && s.outcome != kStillDecoding;
}

void finishBlock(BlockStream& b)
{
    Slot& s = *b.current;
    b.current = nullptr;
    if (s.outcome == kBlockWhole) {
        b.combinedCrc = (b.combinedCrc << 1 | b.combinedCrc >> 31) ^ s.blockCrc;
        b.nextStart = s.end;
    } else {
        b.status = s.outcome;
    }
    giveBack(b, s);
    if (b.status == BZ_OK) {
        lookAtNextMarker(b);
    } else {
        dropAllBlocks(b);
    }
}

std::uint32_t takeBytes(BlockStream& b, Slot& s, unsigned char* out, std::uint32_t count)
{
    std::uint32_t n = std::min(count, s.filled - s.taken);
    if (n != 0) {
        std::memcpy(out, s.buffer + s.taken, n);
        s.taken += n;
    }
    returnTakenBuffer(b, s);
    if (n != 0) return n;
    if (s.outcome == kStillDecoding && s.symbolsDone) return decodeOutput(s, out, count);
    return 0;
}

int wantedThreads()
{
#ifdef WB_DECODE_ONE_THREAD
    return 1;
#else
    return decodeThreadCount();
#endif
}

void startWorkers(BlockStream& b, int threads)
{
    b.scanBytes = static_cast<unsigned char*>(std::malloc(kScanBytes + 14));
    if (!b.scanBytes) return;
    buildMarkerHints();
    for (int i = 1; i < threads; ++i) {
        unsigned char* buffer = static_cast<unsigned char*>(std::malloc(kAheadBytes));
        if (!buffer) break;
        HANDLE thread = CreateThread(nullptr, 64 * 1024, runWorker, &b, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) {
            std::free(buffer);
            break;
        }
        b.spareBuffers[b.spareCount++] = buffer;
        b.threads[b.threadCount++] = thread;
    }
}

void closeAtExit()
{
    closeBlockStream();
}

}  // namespace

void setDecodeThreads(int threads)
{
    forcedThreads = threads;
}

std::uint32_t blocksTakenFromWorkers()
{
    return blocksFromWorkers;
}

int decodeThreadCount()
{
    if (forcedThreads > 0) return std::min(forcedThreads, kMaxDecodeThreads);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    int cores = static_cast<int>(info.dwNumberOfProcessors);
    return std::max(1, std::min(cores, kMaxDecodeThreads));
}

std::vector<std::uint64_t> findStreamMarkers(const unsigned char* bytes, std::size_t length)
{
    buildMarkerHints();
    std::vector<std::uint64_t> found;
    std::vector<unsigned char> padded(bytes, bytes + length);
    padded.resize(length + 7, 0);
    scanWindows(found, padded.data(), padded.size(), 0, static_cast<std::uint64_t>(length) * 8);
    return found;
}

// A handle of a synchronous file reads at the offset given in its OVERLAPPED record and
// returns when the read is done.
bool readFileAt(HANDLE file, std::uint64_t offset, void* dest, DWORD count, DWORD* got)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    *got = 0;
    return ReadFile(file, dest, count, got, &at) != 0;
}

bool openBlockStream(HANDLE file, std::uint32_t streamOffset)
{
    closeBlockStream();
    BlockStream* b = new BlockStream();
    b->file = file;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(b->file, &size)) {
        delete b;
        return false;
    }
    b->streamOffset = streamOffset;
    std::uint64_t fileSize = static_cast<std::uint64_t>(size.QuadPart);
    b->streamBits = fileSize > streamOffset ? (fileSize - streamOffset) * 8 : 0;
    InitializeCriticalSection(&b->lock);
    InitializeConditionVariable(&b->changed);
    stream = b;
    static bool closeRegistered = false;
    if (!closeRegistered) closeRegistered = std::atexit(closeAtExit) == 0;

    int threads = wantedThreads();
    for (int i = 0; i < threads; ++i) {
        Slot& s = b->slots[i];
        s.input = static_cast<unsigned char*>(std::malloc(4 + kFeedBytes));
        s.feed.file = file;
        if (!s.input) {
            if (i == 0) {
                closeBlockStream();
                return false;
            }
            break;
        }
        b->slotCount = i + 1;
    }
    threads = b->slotCount;

    std::uint64_t header = 0;
    b->nextStart = kStreamHeaderBits;
    b->status = BZ_OK;
    if (!streamBitsAt(*b, 0, 32, &header)) {
        b->status = BZ_UNEXPECTED_EOF;
    } else if (header >> 8 != 0x425A68 || (header & 0xFF) < '1' || (header & 0xFF) > '9') {
        b->status = BZ_DATA_ERROR_MAGIC;
    } else {
        b->level = static_cast<char>(header & 0xFF);
        lookAtNextMarker(*b);
    }
    // One thread needs no markers: each block's end is found by decoding it. A worker may
    // start on the first block too, before the reading thread asks for it; it then hands
    // the block over at once.
    if (b->status == BZ_OK && threads > 1) startWorkers(*b, threads);
    return true;
}

std::uint32_t readBlockStream(void* dest, std::uint32_t count, int* status)
{
    if (!stream) {
        *status = BZ_SEQUENCE_ERROR;
        return 0;
    }
    BlockStream& b = *stream;
    unsigned char* out = static_cast<unsigned char*>(dest);
    std::uint32_t done = 0;
    while (done < count && b.status == BZ_OK) {
        if (!b.current) {
            b.current = takeBlock(b, b.nextStart);
            continue;
        }
        std::uint32_t got = takeBytes(b, *b.current, out + done, count - done);
        done += got;
        if (blockDelivered(*b.current)) {
            finishBlock(b);
        } else if (got == 0) {
            b.status = BZ_DATA_ERROR;  // no output and no outcome: never left in this state
        }
    }
    // A read that ends with a block's last byte learns at once whether the stream ends
    // there or the block is damaged, as one that asked for more would.
    if (b.status == BZ_OK && b.current && b.current->taken == b.current->filled &&
        b.current->outcome == kStillDecoding && b.current->symbolsDone) {
        decodeOutput(*b.current, nullptr, 0);
        if (blockDelivered(*b.current)) finishBlock(b);
    }
    *status = b.status;
    return b.status == BZ_OK || b.status == BZ_STREAM_END ? done : 0;
}

void closeBlockStream()
{
    if (!stream) return;
    BlockStream& b = *stream;
    EnterCriticalSection(&b.lock);
    b.quit = true;
    for (int i = 0; i < b.slotCount; ++i) InterlockedExchange(&b.slots[i].cancel, 1);
    WakeAllConditionVariable(&b.changed);
    LeaveCriticalSection(&b.lock);
    if (b.threadCount > 0) WaitForMultipleObjects(static_cast<DWORD>(b.threadCount), b.threads, TRUE, INFINITE);
    for (int i = 0; i < b.threadCount; ++i) CloseHandle(b.threads[i]);
    for (int i = 0; i < b.slotCount; ++i) {
        Slot& s = b.slots[i];
        releaseSlot(b, s);
        std::free(s.input);
    }
    for (int i = 0; i < b.spareCount; ++i) std::free(b.spareBuffers[i]);
    std::free(b.scanBytes);
    DeleteCriticalSection(&b.lock);
    stream = nullptr;
    delete &b;
}
