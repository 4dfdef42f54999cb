// Lead bytes on Windows: asked of Windows itself, for the code page of the paths (0: the
// system's own, which is what the file system reads the program's ANSI paths in).
#include <windows.h>

#include "common/path_rule.h"

bool isLeadByte(unsigned codePage, unsigned char byte)
{
    if (codePage == 0) codePage = pathCodePage();
    return IsDBCSLeadByteEx(codePage == 0 ? CP_ACP : codePage, byte) != FALSE;
}
