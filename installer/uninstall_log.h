// The bytes of the uninstall log __uninst.dat, which the uninstaller reads: records one
// after another, newest first, with no header, count or trailer.
#pragma once

#include <string>

// Appends one record: the low byte of the type, the path's length as 16-bit little-endian,
// the path's bytes without terminator. A path longer than 65535 bytes cannot be described
// by the length field; it appends nothing and returns false, since a cut length would make
// the uninstaller misread every record after it.
bool appendLogRecordBytes(std::string& out, int type, const char* path);
