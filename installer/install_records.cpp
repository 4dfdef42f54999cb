#include "installer/install_records.h"

#include <windows.h>

#include <io.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/package_format.h"
#include "common/uninstall_log.h"
#include "installer/installer_state.h"

char* joinText(const char* first, const char* second)
{
    std::size_t a = std::strlen(first);
    std::size_t b = std::strlen(second);
    char* text = static_cast<char*>(std::malloc(a + b + 1));
    if (!text) return nullptr;
    std::memcpy(text, first, a);
    std::memcpy(text + a, second, b + 1);
    return text;
}

bool closeWrittenFile(FILE* file)
{
    bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    return std::fclose(file) == 0 && flushed;
}

void logUninstallRecord(int type, const char* prefix, const char* name)
{
    LogRecord* record = static_cast<LogRecord*>(std::malloc(sizeof(LogRecord)));
    char* path = joinText(prefix, name);
    if (!record || !path) {
        std::free(record);
        std::free(path);
        return;
    }
    record->type = type;
    record->path = path;
    record->next = installerState.uninstallLog;
    installerState.uninstallLog = record;
}

namespace {

std::vector<LogEntry> entriesOf(const LogRecord* records)
{
    std::vector<LogEntry> entries;
    for (const LogRecord* r = records; r; r = r->next) {
        LogEntry entry = {r->type, r->path};
        entries.push_back(entry);
    }
    return entries;
}

// A file record's item must still be a file, a folder record's a folder: a name that
// now stands for something else is no longer what the earlier installation made.
bool itemStillThere(const LogEntry& entry)
{
    DWORD attributes = GetFileAttributesA(entry.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return entry.type == wbformat::kLogFile ? !folder : folder;
}

}  // namespace

void readEarlierUninstallLog(const std::vector<std::string>& shortcutRoots)
{
    std::string root = installerState.installDir;
    std::string bytes, problem;
    std::vector<LogEntry> earlier;
    if (!readUninstallLogFile(root + wbformat::kUninstallLogName, bytes)) return;
    // The uninstaller's rules: a record it would refuse would make it refuse the new log
    // whole.
    if (!parseUninstallLog(bytes, shortcutRoots, earlier, problem)) return;
    std::vector<LogEntry> kept = earlierRecordsToKeep(earlier, root, itemStillThere);
    if (!kept.empty()) installerState.earlierLog = new std::vector<LogEntry>(kept);
}

bool writeUninstallLog(const char* path)
{
    std::string bytes;
    bool complete = true;
    std::vector<LogEntry> fresh = entriesOf(installerState.uninstallLog);
    std::vector<LogEntry> records = fresh;
    if (installerState.earlierLog) records = mergedUninstallLog(fresh, *installerState.earlierLog);
    for (const LogEntry& entry : records) {
        if (!appendLogRecordBytes(bytes, entry.type, entry.path.c_str())) complete = false;
    }
    // The uninstaller reads no larger log. The earlier installation's records are what
    // can be left out; the new installation's own never are.
    if (bytes.size() > kMaxUninstallLogSize && records.size() != fresh.size()) {
        bytes.clear();
        for (const LogEntry& entry : fresh) appendLogRecordBytes(bytes, entry.type, entry.path.c_str());
        complete = false;
    }
    if (bytes.size() > kMaxUninstallLogSize) return false;
    std::string temporary = std::string(path) + ".new";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    // On the disk before the move: after a power loss the move may otherwise be there and
    // the data not, which leaves an empty log in place of the one it replaced.
    written = std::fflush(out) == 0 && written &&
              FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)))) != FALSE;
    if (!closeWrittenFile(out)) written = false;
    if (!written || !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return complete;
}

void keepLogCurrent()
{
    InstallerState& s = installerState;
    if (!s.installDir || !s.uninstallLog) return;
    DWORD now = GetTickCount();
    if (now - s.logWrittenAt < kLogRewritePeriodMs) return;
    std::string path = std::string(s.installDir);
    if (path.empty() || path.back() != '\\') return;  // only while installDir ends with its backslash
    path += wbformat::kUninstallLogName;
    writeUninstallLog(path.c_str());
    s.logWrittenAt = now;
}

void noteInstallFailure(const char* path)
{
    installerState.failedCount += 1;
    if (!installerState.firstFailedPath) installerState.firstFailedPath = joinText(path, "");
}
