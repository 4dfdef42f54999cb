// The appended package's format, shared by the installer (which reads it) and the
// package builder (which writes it). Everything here is plain data: no Windows headers,
// so the builder and the host tests include it too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wbformat {

// The installer finds its package through this record in its initialised data: the
// marker's 8 ASCII bytes followed at once by the little-endian package offset word.
// A bare stub carries kNoPackage, which makes the installer report "Missing data".
constexpr char kOffsetMarker[] = "WBPKGOFS";
constexpr std::size_t kOffsetMarkerSize = 8;
constexpr std::size_t kOffsetRecordSize = kOffsetMarkerSize + 4;
constexpr std::uint32_t kNoPackage = 0xFFFFFFFFu;

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
static_assert(kOffsetRecordSize == 12, "offset record is marker + 32-bit word");

// True for a device name that Windows opens as the device in any folder: CON, PRN, AUX,
// NUL, COM0-COM9, LPT0-LPT9, CONIN$ and CONOUT$, in any case, and also with an extension
// ("nul.txt") or blanks before it ("con .txt"), which Windows drops.
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
    bool numbered = base == 4 && upper[3] >= '0' && upper[3] <= '9';
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
