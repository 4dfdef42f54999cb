// The reader of the package appended to the installer's own file: the package total, then
// one bzip2 stream with the header, the shortcut table and the entry stream.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Finds the package in the installer's own file, opens the bzip2 reader on it and reads
// the header and the shortcut table into the installer state, leaving the reader at the
// first entry. Returns only on success: otherwise it shows the "Setup" error box and ends
// the process with exit status 1, before any window exists.
void openPackage();

// Opens the installer's own file, first thing, into installerState.packageFile: every
// byte of the package is read through this one handle, which lets nobody else write,
// rename or delete the file while the installer runs. A file another program holds open
// for writing shows the "Setup" box and ends the process with exit status 1.
void holdOwnFile();

// The installer's file opened as holdOwnFile opens it; INVALID_HANDLE_VALUE on failure.
HANDLE openInstallerFile(const char* path);

// The work of openPackage on a given file whose package begins at packageOffset. When
// packageLength is not 0, the file must hold that many bytes there with the SHA-256
// packageDigest (or, when the digest is null or all zeros, the CRC-32 packageCrc) before
// anything is decompressed. Returns nullptr on success, or the text of the error box:
// "Package error", "Missing data", "Data error", wbformat::kDamagedText, or that Windows
// offers no SHA-256. The handle form keeps the handle in the installer state.
const char* loadPackage(HANDLE file, std::uint32_t packageOffset, std::uint32_t packageLength = 0,
                        std::uint32_t packageCrc = 0, const unsigned char* packageDigest = nullptr);
const char* loadPackage(const char* path, std::uint32_t packageOffset, std::uint32_t packageLength = 0,
                        std::uint32_t packageCrc = 0, const unsigned char* packageDigest = nullptr);

// Stops the package's decoding threads and closes the installer's file.
void closePackage();

// The check loadPackage makes: nullptr when `file` holds `length` bytes at `offset` with
// the SHA-256 `digest` (the CRC-32 `crc` when the digest is null or zeros), else the text
// of the error box. The file's position is not used.
const char* checkPackage(HANDLE file, std::uint32_t offset, std::uint32_t length, std::uint32_t crc,
                         const unsigned char* digest);

// The package offset word of the offset record, as the package builder set it.
std::uint32_t packageOffset();

// The little-endian word at byte `at` of the offset record (wbformat::kRecord...At).
std::uint32_t packageRecordWord(std::size_t at);

// Reads one counted string from the package reader. Returns a new zero-terminated text of
// n + 1 bytes that the caller frees, or nullptr when the string did not arrive whole. With
// length, n is stored there: a zero byte inside the text would end it early for every
// function that takes it, so whoever must refuse such a text needs the counted length.
char* readCountedString(std::uint32_t* length = nullptr);

// Reads up to count bytes of the package into dest and returns how many arrived; fewer
// than count means the stream is damaged or cut short. readError keeps the reader's
// status, so BZ_STREAM_END there tells that the stream has been read to its end.
std::uint32_t readPackageBytes(void* dest, std::uint32_t count);

// A 32-bit little-endian word from four bytes.
std::uint32_t littleEndian32(const unsigned char* bytes);
