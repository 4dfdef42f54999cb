// Lead bytes on the host: the ranges Windows' own tables give the four double-byte ANSI
// code pages the builder offers. Every other code page has one byte per character.
#include "common/path_rule.h"

bool isLeadByte(unsigned codePage, unsigned char byte)
{
    if (codePage == 0) codePage = pathCodePage();
    switch (codePage) {
    case 932:  // Japanese (Shift JIS)
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:  // Simplified Chinese (GBK)
    case 949:  // Korean (Unified Hangul Code)
    case 950:  // Traditional Chinese (Big5)
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return false;
    }
}
