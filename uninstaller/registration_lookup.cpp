#include "uninstaller/registration_lookup.h"

#include "common/registration_key.h"

namespace {

// A text value, or empty when it is missing, too long or not text.
std::string readText(HKEY key, const char* name)
{
    char data[4096];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::string();
    }
    data[size] = '\0';
    return data;
}

std::string longFormOf(const std::string& path)
{
    char buffer[MAX_PATH * 4];
    DWORD length = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return path;
    return buffer;
}

}  // namespace

std::vector<UninstallEntry> findUninstallEntries(const std::vector<HKEY>& roots,
                                                 const std::string& exePath)
{
    std::vector<UninstallEntry> found;
    std::string longPath = longFormOf(exePath);
    for (HKEY root : roots) {
        HKEY list = nullptr;
        if (RegOpenKeyExA(root, kUninstallKeyPath, 0, KEY_READ, &list) != ERROR_SUCCESS) continue;
        // Collect first, then read: the list is not changed while it is enumerated.
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD size = sizeof name;
            LONG status = RegEnumKeyExA(list, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_SUCCESS) names.push_back(name);
            // A name too long for a key of ours is skipped; any other answer ends the list.
            else if (status != ERROR_MORE_DATA) break;
        }
        for (const std::string& name : names) {
            HKEY entry = nullptr;
            if (RegOpenKeyExA(list, name.c_str(), 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
            std::string command = readText(entry, "UninstallString");
            if (namesUninstaller(command, exePath) || namesUninstaller(command, longPath)) {
                found.push_back({root, name, readText(entry, "DisplayName")});
            }
            RegCloseKey(entry);
        }
        RegCloseKey(list);
    }
    return found;
}

bool deleteUninstallEntry(const UninstallEntry& entry)
{
    LONG status = RegDeleteKeyA(entry.root, uninstallKeyPath(entry.keyName).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
