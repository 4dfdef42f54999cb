#include "installer/package_reader.h"

#include <windows.h>
#include <wincrypt.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/block_reader.h"
#include "installer/installer_state.h"

// The package builder finds this record by its marker and writes the length of the program
// part, the package's length, its CRC-32, its code page and its SHA-256 into it. Volatile,
// so that the compiler reads the words from the file's bytes instead of folding the
// placeholders into the code. The rest of the array is zero.
extern "C" volatile const unsigned char packageOffsetRecord[wbformat::kOffsetRecordSize] = {
    'W', 'B', 'P', 'K', 'G', 'O', 'F', 'S', 0xFF, 0xFF, 0xFF, 0xFF};

namespace {

[[noreturn]] void failPackage(const char* text)
{
    MessageBoxA(nullptr, text, "Setup", MB_ICONERROR);
    std::exit(1);
}

// A bare stub still carries the placeholder, and an offset beyond a signed 32-bit file
// position cannot be the start of a package either: both mean there is no package.
bool isPackageOffset(std::uint32_t offset)
{
    return offset != wbformat::kNoPackage && offset <= static_cast<std::uint32_t>(LONG_MAX);
}

// Reads exactly count bytes at offset of the file; the file's own position is not used.
bool readWholeAt(HANDLE file, std::uint32_t offset, void* dest, DWORD count)
{
    DWORD got;
    return readFileAt(file, offset, dest, count, &got) && got == count;
}

bool isRecorded(const unsigned char* digest)
{
    if (!digest) return false;
    for (std::size_t i = 0; i < wbformat::kDigestSize; ++i) {
        if (digest[i] != 0) return true;
    }
    return false;
}

}  // namespace

HANDLE openInstallerFile(const char* path)
{
    // Shared for reading alone: while the installer holds its file, nobody can write to
    // it, rename it or put another file in its place, so what was checked is what installs.
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The SHA-256 of the record binds the package to the signed stub: a CRC-32 can be made to
// match by anyone, a SHA-256 cannot. It is computed by Windows' own provider. A record
// without one (a tool that predates it) is checked by its CRC-32, which tells a damaged
// download. Large reads keep this at the speed of the hash.
const char* checkPackage(HANDLE file, std::uint32_t offset, std::uint32_t length, std::uint32_t crc,
                         const unsigned char* digest)
{
    static unsigned char buffer[1 << 16];
    static wbformat::Crc32Table table;
    bool byDigest = isRecorded(digest);
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    if (byDigest && (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES,
                                           CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
                     !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))) {
        if (provider) CryptReleaseContext(provider, 0);
        return "This installer cannot check its package: Windows' SHA-256 provider is not available.";
    }
    std::uint32_t sum = 0;
    bool whole = true;
    for (std::uint32_t at = 0; whole && at < length;) {
        DWORD want = length - at < sizeof buffer ? length - at : sizeof buffer;
        whole = readWholeAt(file, offset + at, buffer, want) &&
                (byDigest ? CryptHashData(hash, buffer, want, 0) != 0
                          : (sum = wbformat::updateCrc32(table, sum, buffer, want), true));
        at += want;
    }
    if (byDigest) {
        unsigned char computed[wbformat::kDigestSize];
        DWORD size = sizeof computed;
        whole = whole && CryptGetHashParam(hash, HP_HASHVAL, computed, &size, 0) && size == sizeof computed &&
                std::memcmp(computed, digest, sizeof computed) == 0;
        CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
    } else {
        whole = whole && sum == crc;
    }
    return whole ? nullptr : wbformat::kDamagedText;
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

const char* loadPackage(HANDLE file, std::uint32_t offset, std::uint32_t length, std::uint32_t crc,
                        const unsigned char* digest)
{
    InstallerState& s = installerState;
    s.packageFile = file;
    if (file == INVALID_HANDLE_VALUE) return "Package error";
    if (!isPackageOffset(offset)) return "Missing data";
    // A download cut short or damaged on the way, or a package put in place of the one the
    // stub was made for, is told before any window shows.
    if (length != 0) {
        const char* problem = checkPackage(file, offset, length, crc, digest);
        if (problem) return problem;
    }
    unsigned char total[4];
    if (!readWholeAt(file, offset, total, sizeof total)) return "Data error";
    s.packageTotal = littleEndian32(total);
    // The blocks of the stream are decoded on every core, through the same handle; what
    // the reads deliver is the same as from one thread.
    if (!openBlockStream(file, offset + static_cast<std::uint32_t>(sizeof total))) return "Data error";
    if (!readPackageHeader()) return "Data error";
    return nullptr;
}

const char* loadPackage(const char* path, std::uint32_t offset, std::uint32_t length, std::uint32_t crc,
                        const unsigned char* digest)
{
    return loadPackage(openInstallerFile(path), offset, length, crc, digest);
}

void holdOwnFile()
{
    char self[4096];
    DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), self, sizeof self);
    // A name that filled the buffer may have been cut, and a cut name is some other file.
    if (length == 0 || length >= sizeof self) failPackage("Package error");
    HANDLE file = openInstallerFile(self);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        failPackage("Another program has this installer's file open and may still change it (a download that "
                    "has not finished?). Close that program, then start the installer again.");
    }
    installerState.packageFile = file;
}

void openPackage()
{
    unsigned char digest[wbformat::kDigestSize];
    for (std::size_t i = 0; i < sizeof digest; ++i) digest[i] = packageOffsetRecord[wbformat::kRecordDigestAt + i];
    const char* error = loadPackage(installerState.packageFile, packageOffset(),
                                    packageRecordWord(wbformat::kRecordLengthAt),
                                    packageRecordWord(wbformat::kRecordCrcAt), digest);
    if (error) failPackage(error);
}

void closePackage()
{
    closeBlockStream();
    if (installerState.packageFile != INVALID_HANDLE_VALUE && installerState.packageFile)
        CloseHandle(installerState.packageFile);
    installerState.packageFile = nullptr;
}
