#include "installer/package_reader.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "installer/block_reader.h"
#include "installer/installer_state.h"

// The package builder finds this record by its marker and writes the length of the program
// part, the package's length, its CRC-32 and its code page into the words. Volatile, so
// that the compiler reads the words from the file's bytes instead of folding the
// placeholders into the code.
extern "C" volatile const unsigned char packageOffsetRecord[wbformat::kOffsetRecordSize] = {
    'W', 'B', 'P', 'K', 'G', 'O', 'F', 'S', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

[[noreturn]] void failPackage(const char* text)
{
    MessageBoxA(nullptr, text, "Setup", MB_ICONERROR);
    std::exit(1);
}

// True when the file stands at the package offset after seeking there. A bare stub still
// carries the placeholder, and an offset beyond what fseek's signed long can reach cannot
// be the start of a package either: both mean there is no package.
bool seekToPackage(FILE* file, std::uint32_t offset)
{
    if (offset == wbformat::kNoPackage || offset > static_cast<std::uint32_t>(LONG_MAX)) return false;
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::ftell(file) == static_cast<long>(offset);
}

}  // namespace

// Large reads and a table keep this at the speed of memory, so that checking the whole
// package costs little beside installing it.
bool packageIsWhole(FILE* file, std::uint32_t offset, std::uint32_t length, std::uint32_t crc)
{
    static unsigned char buffer[1 << 16];
    static wbformat::Crc32Table table;
    std::uint32_t sum = 0;
    for (std::uint32_t left = length; left > 0;) {
        std::size_t want = left < sizeof buffer ? left : sizeof buffer;
        if (std::fread(buffer, 1, want, file) != want) return false;
        sum = wbformat::updateCrc32(table, sum, buffer, want);
        left -= static_cast<std::uint32_t>(want);
    }
    return sum == crc && std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

namespace {

// The six header texts, the shortcut count and the shortcut records, each of which must
// arrive whole: a text or count the stream did not deliver would be invented.
bool readPackageHeader()
{
    InstallerState& s = installerState;
    char** texts[] = {&s.productName, &s.installDir, &s.runCommand,
                      &s.webAddress, &s.publisher, &s.licenceText};
    for (char** text : texts) {
        *text = readCountedString();
        if (!*text) return false;
    }
    unsigned char count[4];
    if (readPackageBytes(count, sizeof count) != sizeof count) return false;
    s.shortcutCount = static_cast<std::int32_t>(littleEndian32(count));
    // The table has room for 256 records; a larger count is a package no builder may make.
    if (s.shortcutCount > wbformat::kMaxShortcuts) return false;
    for (std::int32_t i = 0; i < s.shortcutCount; ++i) {
        ShortcutRecord& r = s.shortcuts[i];
        char** fields[] = {&r.linkPath, &r.target, &r.workingDir, &r.arguments, &r.description};
        for (char** field : fields) {
            *field = readCountedString();
            if (!*field) return false;
        }
    }
    return true;
}

}  // namespace

std::uint32_t littleEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t packageRecordWord(std::size_t at)
{
    unsigned char bytes[4] = {packageOffsetRecord[at], packageOffsetRecord[at + 1], packageOffsetRecord[at + 2],
                              packageOffsetRecord[at + 3]};
    return littleEndian32(bytes);
}

std::uint32_t packageOffset()
{
    return packageRecordWord(wbformat::kRecordOffsetAt);
}

std::uint32_t readPackageBytes(void* dest, std::uint32_t count)
{
    // A read of nothing would set readError to BZ_OK and so hide that the stream has
    // already ended; the entry loop relies on seeing that.
    if (count == 0) return 0;
    // On an error nothing counts as delivered, whatever reached the buffer.
    return readBlockStream(dest, count, &installerState.readError);
}

char* readCountedString(std::uint32_t* length)
{
    unsigned char lengthBytes[2];
    if (readPackageBytes(lengthBytes, sizeof lengthBytes) != sizeof lengthBytes) return nullptr;
    std::uint32_t n = static_cast<std::uint32_t>(lengthBytes[0]) | static_cast<std::uint32_t>(lengthBytes[1]) << 8;
    char* text = static_cast<char*>(std::malloc(n + 1));
    if (!text) return nullptr;
    if (readPackageBytes(text, n) != n) {
        std::free(text);
        return nullptr;
    }
    text[n] = '\0';
    if (length) *length = n;
    return text;
}

const char* loadPackage(const char* path, std::uint32_t offset, std::uint32_t length, std::uint32_t crc)
{
    InstallerState& s = installerState;
    s.packageFile = std::fopen(path, "rb");
    if (!s.packageFile) return "Package error";
    if (!seekToPackage(s.packageFile, offset)) return "Missing data";
    // A download cut short or damaged on the way is told before any window shows, rather
    // than halfway through the installation.
    if (length != 0 && !packageIsWhole(s.packageFile, offset, length, crc)) return wbformat::kDamagedText;
    unsigned char total[4];
    if (std::fread(total, 1, sizeof total, s.packageFile) != sizeof total) return "Data error";
    s.packageTotal = littleEndian32(total);
    // The blocks of the stream are decoded on every core; what the reads deliver is the
    // same as from one thread.
    if (!openBlockStream(path, offset + static_cast<std::uint32_t>(sizeof total))) return "Data error";
    if (!readPackageHeader()) return "Data error";
    return nullptr;
}

void openPackage()
{
    char self[4096];
    DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), self, sizeof self);
    // A name that filled the buffer may have been cut, and a cut name is some other file.
    if (length == 0 || length >= sizeof self) failPackage("Package error");
    const char* error = loadPackage(self, packageOffset(), packageRecordWord(wbformat::kRecordLengthAt),
                                    packageRecordWord(wbformat::kRecordCrcAt));
    if (error) failPackage(error);
}

void closePackage()
{
    closeBlockStream();
    if (installerState.packageFile) std::fclose(installerState.packageFile);
    installerState.packageFile = nullptr;
}
