// A zero-terminated text on the heap that grows as it is appended to. The launcher builds
// its command lines and messages with it, so that no configured value, argument or
// registry value is ever cut or overruns a buffer. (std::string would do the same, but
// it brings the C++ exception machinery along and makes the launcher several times
// larger.)
//
// Plain C++ without Windows headers. Out of memory ends the process with abort(): the
// launcher's texts are a few kilobytes, and a machine that cannot give those could not
// start a Java virtual machine either.
#pragma once

#include <cstddef>
#include <cstdint>

struct TextBuffer {
    char* bytes;            // nullptr until something is appended
    std::size_t length;     // without the terminator
    std::size_t capacity;   // bytes allocated, terminator included
};

void appendText(TextBuffer& text, const char* zeroTerminated);
void appendBytes(TextBuffer& text, const char* bytes, std::size_t count);
void appendRepeated(TextBuffer& text, char c, std::size_t count);
// value in decimal as printf's "%0<width>i" writes it: a minus sign, then digits padded
// with zeros to width characters in all.
void appendDecimal(TextBuffer& text, std::int32_t value, int width = 0);

// The text so far; "" while nothing was appended. Valid until the next append or free.
const char* textOf(const TextBuffer& text);

// Hands the text over as a heap string of its own (never nullptr), to be freed with
// free(), and leaves the buffer empty.
char* takeText(TextBuffer& text);

void freeText(TextBuffer& text);
