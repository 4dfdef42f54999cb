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

// True for a name that is one safe path component: not empty, without a separator or a
// drive colon, and not made of dots and blanks only. Windows drops a name's trailing dots
// and blanks, so such a name ("." and ".." among them, but also "...", ". " or ".. ")
// names the directory it stands in or its parent: the installer would stay where it is, or
// climb, while its record of where it stands went one level down.
inline bool isSafeEntryName(const char* name, std::size_t length)
{
    bool onlyDotsAndBlanks = true;
    for (std::size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c == '\\' || c == '/' || c == ':' || c == '\0') return false;
        if (c != '.' && c != ' ') onlyDotsAndBlanks = false;
    }
    return !onlyDotsAndBlanks;
}

}  // namespace wbformat
