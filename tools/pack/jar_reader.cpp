// Reading a Java archive far enough to know which Java it needs: the zip's central
// directory, and the first bytes of each class file, whose major version says the oldest
// virtual machine that loads it. Deflate is decoded here (a small canonical-Huffman
// decoder) rather than through a compression library, so the builder needs nothing more
// than it already has.
#include <cstring>
#include <filesystem>

#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

// ---- Deflate -------------------------------------------------------------------------

struct Inflater {
    const unsigned char* in = nullptr;
    std::size_t inSize = 0;
    std::size_t inPos = 0;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    bool overrun = false;    // the input ended inside the stream
    std::string out;
    std::size_t limit = 0;   // enough output: stop early
};

int takeBits(Inflater& s, int need)
{
    std::uint32_t value = s.bitBuffer;
    while (s.bitCount < need) {
        if (s.inPos == s.inSize) {
            s.overrun = true;
            return 0;
        }
        value |= static_cast<std::uint32_t>(s.in[s.inPos++]) << s.bitCount;
        s.bitCount += 8;
    }
    s.bitBuffer = value >> need;
    s.bitCount -= need;
    return static_cast<int>(value & ((1u << need) - 1));
}

constexpr int kMaxBits = 15;

struct Huffman {
    short count[kMaxBits + 1];
    short symbol[288];
};

// Canonical codes from their lengths; false for an over-subscribed set.
bool buildHuffman(Huffman& h, const short* lengths, int n)
{
    std::memset(h.count, 0, sizeof h.count);
    for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
    if (h.count[0] == n) return true;   // no codes: only an unused distance table is like this
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = left * 2 - h.count[len];
        if (left < 0) return false;
    }
    short offsets[kMaxBits + 1];
    offsets[1] = 0;
    for (int len = 1; len < kMaxBits; ++len) offsets[len + 1] = offsets[len] + h.count[len];
    for (int i = 0; i < n; ++i) {
        if (lengths[i] != 0) h.symbol[offsets[lengths[i]]++] = static_cast<short>(i);
    }
    return true;
}

int decodeSymbol(Inflater& s, const Huffman& h)
{
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        code |= takeBits(s, 1);
        if (s.overrun) return -1;
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

const short kLengthBase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                             35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const short kDistanceBase[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const short kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool inflateCodes(Inflater& s, const Huffman& lengths, const Huffman& distances)
{
    for (;;) {
        if (s.out.size() >= s.limit) return true;
        int symbol = decodeSymbol(s, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            s.out += static_cast<char>(symbol);
        } else if (symbol == 256) {
            return true;
        } else {
            symbol -= 257;
            if (symbol >= 29) return false;
            int length = kLengthBase[symbol] + takeBits(s, kLengthExtra[symbol]);
            int d = decodeSymbol(s, distances);
            if (d < 0 || d >= 30) return false;
            std::size_t distance = kDistanceBase[d] + takeBits(s, kDistanceExtra[d]);
            if (s.overrun || distance > s.out.size()) return false;
            for (int i = 0; i < length; ++i) s.out += s.out[s.out.size() - distance];
        }
    }
}

bool inflateStored(Inflater& s)
{
    s.bitBuffer = 0;
    s.bitCount = 0;
    if (s.inPos + 4 > s.inSize) return false;
    unsigned length = s.in[s.inPos] | s.in[s.inPos + 1] << 8;
    unsigned check = s.in[s.inPos + 2] | s.in[s.inPos + 3] << 8;
    s.inPos += 4;
    if (length != (~check & 0xFFFFu) || s.inPos + length > s.inSize) return false;
    s.out.append(reinterpret_cast<const char*>(s.in + s.inPos), length);
    s.inPos += length;
    return true;
}

bool inflateFixed(Inflater& s)
{
    static Huffman lengths, distances;
    static bool built = false;
    if (!built) {
        short l[288];
        for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        buildHuffman(lengths, l, 288);
        for (int i = 0; i < 30; ++i) l[i] = 5;
        buildHuffman(distances, l, 30);
        built = true;
    }
    return inflateCodes(s, lengths, distances);
}

bool inflateDynamic(Inflater& s)
{
    static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen = takeBits(s, 5) + 257, ndist = takeBits(s, 5) + 1, ncode = takeBits(s, 4) + 4;
    if (s.overrun || nlen > 286 || ndist > 30) return false;
    short l[320] = {0};
    for (int i = 0; i < ncode; ++i) l[order[i]] = static_cast<short>(takeBits(s, 3));
    Huffman codes, lengths, distances;
    if (s.overrun || !buildHuffman(codes, l, 19)) return false;
    for (int i = 0; i < nlen + ndist;) {
        int symbol = decodeSymbol(s, codes);
        if (symbol < 0) return false;
        if (symbol < 16) {
            l[i++] = static_cast<short>(symbol);
            continue;
        }
        short repeated = 0;
        int times;
        if (symbol == 16) {
            if (i == 0) return false;
            repeated = l[i - 1];
            times = 3 + takeBits(s, 2);
        } else {
            times = symbol == 17 ? 3 + takeBits(s, 3) : 11 + takeBits(s, 7);
        }
        if (s.overrun || i + times > nlen + ndist) return false;
        while (times--) l[i++] = repeated;
    }
    if (l[256] == 0) return false;
    return buildHuffman(lengths, l, nlen) && buildHuffman(distances, l + nlen, ndist) &&
           inflateCodes(s, lengths, distances);
}

// Raw deflate, stopping once `limit` bytes are out.
bool inflateRaw(const unsigned char* data, std::size_t size, std::size_t limit, std::string& out)
{
    Inflater s{};
    s.in = data;
    s.inSize = size;
    s.limit = limit;
    int last;
    do {
        last = takeBits(s, 1);
        int type = takeBits(s, 2);
        if (s.overrun) return false;
        bool ok = type == 0 ? inflateStored(s) : type == 1 ? inflateFixed(s) : type == 2 ? inflateDynamic(s) : false;
        if (!ok || s.overrun) return false;
    } while (!last && s.out.size() < limit);
    out = s.out.substr(0, std::min(limit, s.out.size()));
    return true;
}

// ---- Zip ---------------------------------------------------------------------------------

std::uint32_t le16(const std::string& b, std::size_t at)
{
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

std::uint32_t le32(const std::string& b, std::size_t at)
{
    return le16(b, at) | le16(b, at + 2) << 16;
}

struct ZipEntry {
    std::string name;
    std::uint32_t method, compressedSize, size, localOffset;
};

bool readCentralDirectory(const std::string& zip, std::vector<ZipEntry>& entries)
{
    if (zip.size() < 22) return false;
    std::size_t end = std::string::npos;
    std::size_t lowest = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
    for (std::size_t at = zip.size() - 22 + 1; at-- > lowest;) {
        if (le32(zip, at) == 0x06054b50) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos) return false;
    std::size_t count = le16(zip, end + 10), at = le32(zip, end + 16);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || le32(zip, at) != 0x02014b50) return false;
        std::size_t nameLength = le16(zip, at + 28), next = at + 46 + nameLength + le16(zip, at + 30) + le16(zip, at + 32);
        if (next > zip.size()) return false;
        entries.push_back({zip.substr(at + 46, nameLength), le16(zip, at + 10), le32(zip, at + 20), le32(zip, at + 24),
                           le32(zip, at + 42)});
        at = next;
    }
    return true;
}

// The entry's first `limit` bytes (all of them for a limit of its size).
bool readZipEntry(const std::string& zip, const ZipEntry& e, std::size_t limit, std::string& out)
{
    std::size_t at = e.localOffset;
    if (at + 30 > zip.size() || le32(zip, at) != 0x04034b50) return false;
    std::size_t data = at + 30 + le16(zip, at + 26) + le16(zip, at + 28);
    if (data > zip.size() || e.compressedSize > zip.size() - data) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(zip.data() + data);
    if (e.method == 0) {
        out = zip.substr(data, std::min<std::size_t>(limit, e.compressedSize));
        return true;
    }
    return e.method == 8 && inflateRaw(bytes, e.compressedSize, limit, out);
}

}  // namespace

bool readJarFacts(const std::string& jarPath, JarFacts& facts, std::string& error)
{
    std::string zip;
    if (!readTextFile(jarPath, jarPath, std::size_t(1) << 31, zip, error)) return false;
    std::vector<ZipEntry> entries;
    if (!readCentralDirectory(zip, entries)) {
        error = jarPath + ": not a jar (no readable zip directory)";
        return false;
    }
    facts = JarFacts();
    for (const ZipEntry& e : entries) {
        // The versioned folders of a multi-release jar are read only by newer machines.
        bool versioned = e.name.compare(0, 9, "META-INF/") == 0;
        if (e.name == "META-INF/MANIFEST.MF") {
            std::string manifest;
            if (!readZipEntry(zip, e, e.size, manifest)) {
                error = jarPath + ": " + e.name + " cannot be read";
                return false;
            }
            facts.hasMainClass = manifest.find("\nMain-Class:") != std::string::npos ||
                                 manifest.compare(0, 11, "Main-Class:") == 0;
            continue;
        }
        if (versioned || e.name.size() < 6 || e.name.compare(e.name.size() - 6, 6, ".class") != 0) continue;
        std::string head;
        if (!readZipEntry(zip, e, 8, head) || head.size() < 8 || le32(head, 0) != 0xBEBAFECAu) {
            error = jarPath + ": " + printableUtf8(e.name) + " is not a readable class file";
            return false;
        }
        int major = static_cast<unsigned char>(head[6]) << 8 | static_cast<unsigned char>(head[7]);
        if (major > facts.classMajor) {
            facts.classMajor = major;
            facts.newestClass = e.name;
        }
    }
    if (facts.classMajor == 0) {
        error = jarPath + ": holds no class file, so the Java version it needs is unknown; give it with --java";
        return false;
    }
    return true;
}

std::string javaVersionOfClassMajor(int major)
{
    // 45 is Java 1.1 (and 1.0); from 49 on, 49 is Java 5 and each release adds one.
    int release = major <= 45 ? 1 : major - 44;
    return release < 9 ? "1." + std::to_string(release) : std::to_string(release);
}

}  // namespace wbpack
