#include "launcher/text_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Room for count more bytes and the terminator, growing by half again each time so that
// a long run of appends stays linear.
void reserveMore(TextBuffer& text, std::size_t count)
{
    if (count > SIZE_MAX / 2 - text.length) std::abort();
    std::size_t needed = text.length + count + 1;
    if (needed <= text.capacity) return;
    std::size_t capacity = text.capacity + text.capacity / 2;
    if (capacity < needed) capacity = needed;
    if (capacity < 64) capacity = 64;
    char* bytes = static_cast<char*>(std::realloc(text.bytes, capacity));
    if (bytes == nullptr) std::abort();
    text.bytes = bytes;
    text.capacity = capacity;
}

}  // namespace

void appendBytes(TextBuffer& text, const char* bytes, std::size_t count)
{
    reserveMore(text, count);
    if (count > 0) std::memcpy(text.bytes + text.length, bytes, count);
    text.length += count;
    text.bytes[text.length] = '\0';
}

void appendText(TextBuffer& text, const char* zeroTerminated)
{
    appendBytes(text, zeroTerminated, std::strlen(zeroTerminated));
}

void appendRepeated(TextBuffer& text, char c, std::size_t count)
{
    reserveMore(text, count);
    std::memset(text.bytes + text.length, c, count);
    text.length += count;
    text.bytes[text.length] = '\0';
}

void appendDecimal(TextBuffer& text, std::int32_t value, int width)
{
    // Unsigned, because the smallest 32-bit value has no negation in 32 signed bits.
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    int used = count + (value < 0 ? 1 : 0);
    if (value < 0) appendRepeated(text, '-', 1);
    if (width > used) appendRepeated(text, '0', static_cast<std::size_t>(width - used));
    while (count > 0) appendBytes(text, &digits[--count], 1);
}

const char* textOf(const TextBuffer& text)
{
    return text.bytes != nullptr ? text.bytes : "";
}

char* takeText(TextBuffer& text)
{
    if (text.bytes == nullptr) appendBytes(text, "", 0);
    char* bytes = text.bytes;
    text.bytes = nullptr;
    text.length = text.capacity = 0;
    return bytes;
}

void freeText(TextBuffer& text)
{
    std::free(text.bytes);
    text.bytes = nullptr;
    text.length = text.capacity = 0;
}
