#include "common/uninstall_log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/package_format.h"
#include "common/path_rule.h"

namespace {

bool samePathKey(const std::string& a, const std::string& b)
{
    return comparablePath(a) == comparablePath(b);
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
        problem = logPathProblem(entry.type, entry.path);
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

namespace {

// The install root or the deepest shortcut root that holds the record; empty when none.
std::string namedScopeOf(const LogEntry& entry, const std::string& installRoot,
                         const std::vector<std::string>& shortcutRoots)
{
    bool atRoot = samePathKey(entry.path, installRoot);
    if (entry.type == wbformat::kLogInstallRoot) return installRoot;
    if (isPathAtOrBelow(entry.path, installRoot) && (!atRoot || entry.type == wbformat::kLogShortcutFolder)) {
        return installRoot;
    }
    if (entry.type == wbformat::kLogDirectory) return std::string();
    // The deepest shell folder that holds it: the shell folder itself may be a link (a
    // redirected folder), what lies below it must not be.
    std::string best;
    for (const std::string& root : shortcutRoots) {
        bool fits = isPathAtOrBelow(entry.path, root) &&
                    (entry.type == wbformat::kLogShortcutFolder || !samePathKey(entry.path, root));
        if (fits && comparablePath(root).size() > comparablePath(best).size()) best = root;
    }
    return best;
}

}  // namespace

std::string logScopeOf(const LogEntry& entry, const std::string& installRoot,
                       const std::vector<std::string>& shortcutRoots)
{
    // A link placed directly in a drive root logs an empty folder: nothing to remove.
    if (entry.type == wbformat::kLogShortcutFolder && entry.path.empty()) return installRoot;
    std::string scope = namedScopeOf(entry, installRoot, shortcutRoots);
    if (!scope.empty()) return scope;
    // A link may lie anywhere; nothing on its way from the drive's root may be a link.
    bool link = entry.type == wbformat::kLogFile && isLinkFile(entry.path);
    if (link || entry.type == wbformat::kLogShortcutFolder) return pathRoot(entry.path);
    return std::string();
}

bool checkLogScope(const std::vector<LogEntry>& entries, const std::vector<std::string>& shortcutRoots,
                   std::string& problem)
{
    problem.clear();
    if (entries.empty()) return true;
    const std::string& root = entries.back().path;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LogEntry& entry = entries[i];
        bool inScope = !logScopeOf(entry, root, shortcutRoots).empty();
        // A link's folder outside the named folders is the folder of the link file logged
        // just before it (the log is newest first, the installer pushes the folder first).
        if (inScope && entry.type == wbformat::kLogShortcutFolder && !entry.path.empty() &&
            namedScopeOf(entry, root, shortcutRoots).empty()) {
            const LogEntry* link = i > 0 ? &entries[i - 1] : nullptr;
            inScope = link && link->type == wbformat::kLogFile && isLinkFile(link->path) &&
                      samePathKey(folderHolding(link->path), entry.path);
        }
        if (inScope) continue;
        if (entry.type == wbformat::kLogDirectory || shortcutRoots.empty()) {
            problem = "names `" + entry.path + "', which is outside the install folder `" + root + "'";
        } else {
            problem = "names `" + entry.path + "', which is outside the install folder `" + root +
                      "' and outside the desktop, the programs menu, the start menu and the start-up folder";
        }
        return false;
    }
    return true;
}

bool parseUninstallLog(const std::string& bytes, const std::vector<std::string>& shortcutRoots,
                       std::vector<LogEntry>& entries, std::string& problem)
{
    if (!parseUninstallLog(bytes, entries, problem)) return false;
    if (checkLogScope(entries, shortcutRoots, problem)) return true;
    entries.clear();
    return false;
}

bool readUninstallLogFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[32768];
    bool ok = true;
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        bytes.append(buffer, got);
        if (bytes.size() > kMaxUninstallLogSize) break;  // the parser refuses it by its size
        if (got < sizeof buffer) {
            ok = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    return ok;
}

std::vector<LogEntry> earlierRecordsToKeep(const std::vector<LogEntry>& earlier, const std::string& newRoot,
                                           bool (*exists)(const LogEntry& entry))
{
    std::vector<LogEntry> kept;
    if (earlier.empty() || earlier.back().type != wbformat::kLogInstallRoot ||
        !samePathKey(earlier.back().path, newRoot)) {
        return kept;
    }
    for (const LogEntry& entry : earlier) {
        if (entry.type != wbformat::kLogInstallRoot && exists(entry)) kept.push_back(entry);
    }
    return kept;
}

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// FNV-1a of the path as samePathKey compares it, computed without a copy: the new paths'
// table needs a hash, and this one is a few instructions. It folds every byte, trail bytes
// of double-byte characters too: paths that compare equal still hash equal, and the few
// that only hash equal are told apart by the comparison.
std::size_t pathHash(const std::string& path)
{
    std::size_t end = path.size();
    while (end > 0 && isSeparator(path[end - 1])) --end;
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < end; ++i) {
        char c = isSeparator(path[i]) ? '\\' : path[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

}  // namespace

std::vector<LogEntry> mergedUninstallLog(const std::vector<LogEntry>& fresh, const std::vector<LogEntry>& kept)
{
    std::vector<LogEntry> merged = fresh;
    if (kept.empty() || merged.empty() || merged.back().type != wbformat::kLogInstallRoot) return merged;
    merged.pop_back();
    // The new paths in an open-addressed table at most half full, so that each earlier
    // record costs about one comparison: the log is rewritten again and again while a
    // large package installs. A slot holds a new record's index plus one; zero is free.
    std::size_t mask = 1;
    while (mask < 2 * fresh.size()) mask <<= 1;
    std::vector<std::size_t> slots(mask--);
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        std::size_t slot = pathHash(fresh[i].path) & mask;
        while (slots[slot] != 0) slot = (slot + 1) & mask;
        slots[slot] = i + 1;
    }
    for (const LogEntry& entry : kept) {
        std::size_t slot = pathHash(entry.path) & mask;
        while (slots[slot] != 0 && !samePathKey(fresh[slots[slot] - 1].path, entry.path)) slot = (slot + 1) & mask;
        if (slots[slot] == 0) merged.push_back(entry);
    }
    merged.push_back(fresh.back());
    return merged;
}
