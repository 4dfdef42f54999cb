#include "launcher/version.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::int64_t kInt32Max = INT32_MAX;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The white space of the C library's number conversion in the "C" locale.
bool isNumberSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::int32_t readVersionPart(const char* text, int& position)
{
    while (text[position] != '\0' && !isDigit(text[position])) ++position;
    std::int64_t value = 0;
    while (isDigit(text[position])) {
        // Keep consuming the digits after saturating, so the next component starts after
        // this one and not in the middle of it.
        if (value <= kInt32Max) value = value * 10 + (text[position] - '0');
        ++position;
    }
    return static_cast<std::int32_t>(value > kInt32Max ? kInt32Max : value);
}

std::int64_t packVersion(std::int32_t major, std::int32_t minor, std::int32_t sub, std::int32_t update)
{
    return std::int64_t{major} * 1000000 + std::int64_t{minor} * 10000 + std::int64_t{sub} * 100 +
           std::int64_t{update};
}

std::int64_t packVersionText(const char* text)
{
    int position = 0;
    std::int32_t major = readVersionPart(text, position);
    std::int32_t minor = readVersionPart(text, position);
    std::int32_t sub = readVersionPart(text, position);
    std::int32_t update = readVersionPart(text, position);
    return packVersion(major, minor, sub, update);
}

std::int32_t readConfigNumber(const char* text)
{
    int position = 0;
    while (isNumberSpace(text[position])) ++position;
    bool negative = false;
    if (text[position] == '+' || text[position] == '-') {
        negative = text[position] == '-';
        ++position;
    }
    // The magnitude may reach one more than INT32_MAX, which is INT32_MIN's.
    const std::int64_t limit = negative ? kInt32Max + 1 : kInt32Max;
    std::int64_t value = 0;
    while (isDigit(text[position])) {
        if (value < limit) value = value * 10 + (text[position] - '0');
        ++position;
    }
    if (value > limit) value = limit;
    return static_cast<std::int32_t>(negative ? -value : value);
}

void considerRuntime(RuntimeChoice& choice, const char* name, std::int64_t requiredVersion)
{
    choice.anySeen = true;
    if (packVersionText(name) < requiredVersion) return;
    choice.anySuitable = true;
    std::size_t length = std::strlen(name);
    if (length >= sizeof choice.name) length = sizeof choice.name - 1;
    std::memcpy(choice.name, name, length);
    choice.name[length] = '\0';
}
