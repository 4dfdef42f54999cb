#include "installer/uninstall_log.h"

#include <cstring>

bool appendLogRecordBytes(std::string& out, int type, const char* path)
{
    std::size_t length = std::strlen(path);
    if (length > 0xFFFF) return false;
    out += static_cast<char>(type & 0xFF);
    out += static_cast<char>(length & 0xFF);
    out += static_cast<char>((length >> 8) & 0xFF);
    out.append(path, length);
    return true;
}
