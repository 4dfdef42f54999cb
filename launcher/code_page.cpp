#include "launcher/code_page.h"

#include <windows.h>

#include <climits>

std::size_t wideLength(unsigned codePage, const char* text, std::size_t length)
{
    if (length == 0 || length > INT_MAX) return length;
    int characters = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    return characters > 0 ? static_cast<std::size_t>(characters) : length;
}
