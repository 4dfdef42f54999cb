// Lengths as Windows counts them once an ANSI text is converted to UTF-16.
#pragma once

#include <cstddef>

// The UTF-16 characters that length bytes of text in codePage become: what CreateProcessA,
// which converts its command line, measures against its limit. In a double-byte code page
// that is fewer than the bytes. The byte count when the text cannot be converted.
std::size_t wideLength(unsigned codePage, const char* text, std::size_t length);
