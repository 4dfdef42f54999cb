#include "common/uninstall_log.h"

#include <cstring>

#include "common/package_format.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\A\..\Windows" would name a folder the installer never made.
bool hasDotPart(const std::string& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        std::string part = path.substr(start, end - start);
        if (part == "." || part == "..") return true;
        start = end + 1;
    }
    return false;
}

std::string checkPath(int type, const std::string& path)
{
    if (path.empty()) {
        return type == wbformat::kLogShortcutFolder ? std::string() : "holds a record with an empty path";
    }
    if (path.find('\0') != std::string::npos) return "holds a path with a zero byte";
    if (!isFullPath(path)) return "holds a path that is not a full path: `" + path + "'";
    if (hasDotPart(path)) return "holds a path with a `.' or `..' part: `" + path + "'";
    return std::string();
}

}  // namespace

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

std::string decimalText(unsigned long value)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

bool isFullPath(const std::string& path)
{
    bool drive = path.size() >= 3 &&
                 ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && isSeparator(path[2]);
    bool network = path.size() >= 3 && isSeparator(path[0]) && isSeparator(path[1]) &&
                   !isSeparator(path[2]);
    return drive || network;
}

bool parseUninstallLog(const std::string& bytes, std::vector<LogEntry>& entries, std::string& problem)
{
    entries.clear();
    problem.clear();
    if (bytes.empty()) {
        problem = "is empty";
        return false;
    }
    if (bytes.size() > kMaxUninstallLogSize) {
        problem = "is too large to be an uninstall log";
        return false;
    }
    std::vector<LogEntry> read;
    std::size_t position = 0;
    while (position < bytes.size()) {
        if (bytes.size() - position < 3) {
            problem = "ends in the middle of a record";
            return false;
        }
        int type = static_cast<unsigned char>(bytes[position]);
        std::size_t length = static_cast<unsigned char>(bytes[position + 1]) |
                             (static_cast<std::size_t>(static_cast<unsigned char>(bytes[position + 2])) << 8);
        position += 3;
        if (bytes.size() - position < length) {
            problem = "ends in the middle of a record";
            return false;
        }
        if (type != wbformat::kLogFile && type != wbformat::kLogDirectory &&
            type != wbformat::kLogInstallRoot && type != wbformat::kLogShortcutFolder) {
            problem = "holds a record of unknown type " + decimalText(static_cast<unsigned long>(type));
            return false;
        }
        LogEntry entry{type, bytes.substr(position, length)};
        position += length;
        problem = checkPath(entry.type, entry.path);
        if (!problem.empty()) return false;
        if (entry.type == wbformat::kLogInstallRoot && position != bytes.size()) {
            problem = "has the install folder's record before its end";
            return false;
        }
        read.push_back(entry);
    }
    if (read.back().type != wbformat::kLogInstallRoot) {
        problem = "does not end with the install folder's record, so it was cut short";
        return false;
    }
    entries.swap(read);
    return true;
}
