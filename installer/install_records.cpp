#include "installer/install_records.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

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

bool writeUninstallLog(const char* path)
{
    std::string bytes;
    bool complete = true;
    for (const LogRecord* r = installerState.uninstallLog; r; r = r->next) {
        if (!appendLogRecordBytes(bytes, r->type, r->path)) complete = false;
    }
    std::string temporary = std::string(path) + ".new";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (!closeWrittenFile(out)) written = false;
    if (!written || !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return complete;
}

void noteInstallFailure(const char* path)
{
    installerState.failedCount += 1;
    if (!installerState.firstFailedPath) installerState.firstFailedPath = joinText(path, "");
}
