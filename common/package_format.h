// The appended package's format, shared by the installer (which reads it) and the
// package builder (which writes it). Everything here is plain data: no Windows headers,
// so the builder and the host tests include it too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wbformat {

// The installer finds its package through this record in its initialised data: the
// marker's 8 ASCII bytes followed at once by four little-endian words: the package offset
// (where the package total begins), the package length (the total and the stream), the
// CRC-32 of exactly those bytes, and the Windows code page of the package's strings; then
// the SHA-256 of the same bytes. A bare stub carries kNoPackage and zeros, which makes the
// installer report "Missing data". A length of 0 means the package was attached by a tool
// that wrote only the offset: it is installed unchecked. A digest of zeros was written by
// a tool that predates it: only the CRC-32 is checked. The record lies in the signed part
// of the file, so the digest binds the package to the signature; a CRC-32 could be forged
// for another package. Bytes after the length (a signature) belong to none.
constexpr char kOffsetMarker[] = "WBPKGOFS";
constexpr std::size_t kOffsetMarkerSize = 8;
constexpr std::size_t kRecordOffsetAt = kOffsetMarkerSize;
constexpr std::size_t kRecordLengthAt = kOffsetMarkerSize + 4;
constexpr std::size_t kRecordCrcAt = kOffsetMarkerSize + 8;
constexpr std::size_t kRecordCodePageAt = kOffsetMarkerSize + 12;
constexpr std::size_t kRecordDigestAt = kOffsetMarkerSize + 16;
constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kOffsetRecordSize = kRecordDigestAt + kDigestSize;
constexpr std::uint32_t kNoPackage = 0xFFFFFFFFu;

// An install directory that begins with this macro installs for the current user alone:
// it stands for the user's local application data folder ($L\Programs\Name). Such an
// installer asks for no administrator rights and registers for that user only; shortcut
// texts may begin with it too. The builder writes into a per-user package's stub the
// execution level kPerUserLevel over kMachineLevel, which has the same length.
constexpr char kPerUserMacro[] = "$L";
constexpr char kMachineLevel[] = "level=\"requireAdministrator\"";
constexpr char kPerUserLevel[] = "level=\"asInvoker\"           ";
static_assert(sizeof kMachineLevel == sizeof kPerUserLevel, "the level is rewritten in place");

// True when text begins with the per-user macro followed by a backslash or its end.
inline bool beginsWithPerUserMacro(const char* text)
{
    return text[0] == '$' && text[1] == 'L' && (text[2] == '\\' || text[2] == '\0');
}

// The code page of a manifest that names none: Windows' Western one.
constexpr std::uint32_t kDefaultCodePage = 1252;

// The installer's words to a user whose download was cut short or damaged.
constexpr char kDamagedText[] = "This installer is damaged or incomplete. Please download it again.";

// CRC-32 with the polynomial zlib uses (reflected 0xEDB88320), so that any tool can
// compute the record's checksum. Eight bytes are taken per step through eight tables
// (the byte-wise method is several times slower, too slow beside a fast installation).
// The tables are built on first use: 8 KiB of zero-initialised data cost the installer
// nothing in its file. Feed consecutive pieces by passing the previous result as crc;
// start with 0.
struct Crc32Table {
    std::uint32_t entries[8][256];
    bool built;
};

inline void buildCrc32Table(Crc32Table& table)
{
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entries[0][n] = c;
    }
    // entries[k][n]: the CRC of byte n followed by k zero bytes.
    for (std::uint32_t n = 0; n < 256; ++n) {
        for (int k = 1; k < 8; ++k) {
            std::uint32_t previous = table.entries[k - 1][n];
            table.entries[k][n] = (previous >> 8) ^ table.entries[0][previous & 0xFF];
        }
    }
    table.built = true;
}

inline std::uint32_t updateCrc32(Crc32Table& table, std::uint32_t crc, const void* data, std::size_t size)
{
    if (!table.built) buildCrc32Table(table);
    const std::uint32_t(&t)[8][256] = table.entries;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t c = crc ^ 0xFFFFFFFFu;
    for (; size >= 8; p += 8, size -= 8) {
        std::uint32_t low = c ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        std::uint32_t high = p[4] | p[5] << 8 | p[6] << 16 | static_cast<std::uint32_t>(p[7]) << 24;
        c = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^
            t[3][high & 0xFF] ^ t[2][high >> 8 & 0xFF] ^ t[1][high >> 16 & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; --size) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Entry stream tags.
constexpr unsigned char kTagFile = 0;
constexpr unsigned char kTagEnterDir = 1;
constexpr unsigned char kTagLeaveDir = 2;

// Limits of the format.
constexpr int kMaxShortcuts = 256;
constexpr std::uint32_t kMaxCountedString = 0xFFFF;
constexpr int kShortcutFields = 5;
constexpr std::size_t kPackageTotalSize = 4;

// The uninstaller travels as an ordinary file; the engine extracts it but never logs it.
constexpr char kUninstallerName[] = "__uninst.exe";
constexpr char kUninstallLogName[] = "__uninst.dat";

// Uninstall log record types.
constexpr int kLogFile = 0;
constexpr int kLogDirectory = 1;
constexpr int kLogInstallRoot = 3;
constexpr int kLogShortcutFolder = 4;

// File data moves in chunks of at most this many bytes, one progress redraw per chunk.
constexpr std::uint32_t kChunkSize = 32768;

static_assert(sizeof(kOffsetMarker) == kOffsetMarkerSize + 1, "marker is 8 bytes");
static_assert(kOffsetRecordSize == 56, "offset record is marker + four 32-bit words + SHA-256");

// True for a device name that Windows opens as the device in any folder: CON, PRN, AUX,
// NUL, COM0-COM9, LPT0-LPT9 (also with the superscript digits 1, 2 and 3), CONIN$ and
// CONOUT$, in any case, and also with an extension ("nul.txt") or blanks before it
// ("con .txt"), which Windows drops.
inline bool isDeviceName(const char* name, std::size_t length)
{
    std::size_t base = 0;
    while (base < length && name[base] != '.') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    char upper[8];
    if (base < 3 || base > 7) return false;
    for (std::size_t i = 0; i < base; ++i) {
        char c = name[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    auto is = [&](const char* device) {
        std::size_t i = 0;
        while (device[i] && i < base && device[i] == upper[i]) ++i;
        return device[i] == '\0' && i == base;
    };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) return true;
    // Windows takes the superscripts 1, 2 and 3 for digits too: COM\xB9 is a device in code
    // page 1252 (other code pages' characters at those bytes are refused with them).
    unsigned char digit = static_cast<unsigned char>(upper[3]);
    bool numbered = base == 4 && ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
    return numbered && ((upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                        (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T'));
}

// True for a name that is one safe path component: not empty, without a separator, a
// drive colon or a zero byte, not ending in a dot or a blank, and not a device name.
// Windows drops a name's trailing dots and blanks, so "..", "..." or "a. " would name the
// folder itself, its parent or another entry: the installer would stay where it is, or
// climb, while its record of where it stands went one level down. A device name would
// write the file's data to a device instead of a file.
inline bool isSafeEntryName(const char* name, std::size_t length)
{
    if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
    for (std::size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c == '\\' || c == '/' || c == ':' || c == '\0') return false;
    }
    return !isDeviceName(name, length);
}

}  // namespace wbformat
