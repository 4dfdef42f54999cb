#include "uninstaller/removal.h"

#include <windows.h>

#include <cstring>

#include "uninstaller/uninstall_plan.h"

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUserShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// A REG_SZ as it stands, a REG_EXPAND_SZ with its %USERPROFILE% and the like expanded.
void addFolderValue(DWORD type, char* data, DWORD dataSize, std::vector<std::string>& folders)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    data[dataSize] = '\0';
    if (type == REG_SZ) {
        if (data[0]) folders.push_back(data);
        return;
    }
    char expanded[4096];
    DWORD length = ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
    if (length > 1 && length <= sizeof expanded) folders.push_back(expanded);
}

void collectFolders(HKEY root, const char* keyPath, std::vector<std::string>& folders)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        char name[1024];
        DWORD nameSize = sizeof name;
        char data[4096];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) addFolderValue(type, data, dataSize, folders);
    }
    RegCloseKey(key);
}

bool isGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool holdsAnything(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool any = false;
    do {
        std::string name = found.cFileName;
        any = name != "." && name != "..";
    } while (!any && FindNextFileA(search, &found));
    FindClose(search);
    return any;
}

typedef BOOL(WINAPI* SetInformationCall)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Windows before Vista has no deletion through a handle; there the uninstaller works by
// path, as it always did.
SetInformationCall setInformationCall()
{
    return reinterpret_cast<SetInformationCall>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
}

// The item itself, never what a link points to, shared with every other opener as
// DeleteFile would: whoever holds it without sharing deletion still keeps it.
HANDLE openForDeletion(const std::string& path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    HANDLE item = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share, nullptr,
                              OPEN_EXISTING, flags, nullptr);
    // Changing attributes is needed only for a read-only file, and deleting may be allowed
    // where that is not.
    if (item == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        item = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    return item;
}

// The name Windows knows the open item by, through whatever links led to it, without the
// \\?\ prefix that it adds; empty when unknown.
std::string nameThroughHandle(HANDLE item)
{
    char name[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(item, name, sizeof name, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof name) return std::string();
    return withoutLongPathPrefix(std::string(name, length));
}

// A link of any kind: a junction, a symbolic link or a mount point names another place.
// Other reparse points (a file kept in the cloud, a deduplicated or compressed one) are
// the file itself and are removed like any other.
bool isLink(HANDLE item, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    return IsReparseTagNameSurrogate(tag.ReparseTag) != 0;
}

// Two names Windows gave, equal as its file systems compare them: every letter's case,
// not only ASCII's (a folder made as "Überblick" is the log's "überblick").
bool sameFinalName(const std::string& a, const std::string& b)
{
    if (samePath(a, b)) return true;
    wchar_t wideA[MAX_PATH * 4];
    wchar_t wideB[MAX_PATH * 4];
    int lengthA = MultiByteToWideChar(CP_ACP, 0, a.data(), static_cast<int>(a.size()), wideA, MAX_PATH * 4);
    int lengthB = MultiByteToWideChar(CP_ACP, 0, b.data(), static_cast<int>(b.size()), wideB, MAX_PATH * 4);
    return lengthA > 0 && lengthB > 0 && CompareStringOrdinal(wideA, lengthA, wideB, lengthB, TRUE) == CSTR_EQUAL;
}

bool linkOnTheWay(const std::string& path, const std::string& base);

// True when the open item is what path names below base with no link on the way: Windows'
// own name for it must be its name for base followed by the rest of path. base itself may
// lie behind links (a user's desktop may), which are not the log's to judge; nor is the
// way to base, when base is the item.
bool reachedDirectly(HANDLE item, const BY_HANDLE_FILE_INFORMATION& info, const std::string& path,
                     const std::string& base)
{
    if (isLink(item, info.dwFileAttributes)) return false;
    if (samePath(path, base)) return true;
    if (pathsBelow(base, path).empty()) return false;
    HANDLE top = CreateFileA(base.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (top == INVALID_HANDLE_VALUE) return false;
    std::string topName = withoutTrailingSeparator(nameThroughHandle(top));
    CloseHandle(top);
    std::string itemName = nameThroughHandle(item);
    // A file system or redirector that cannot name an open file (some network ones): the
    // way is judged by path, as where deletion through a handle is missing.
    if (topName.empty() || itemName.empty()) return !linkOnTheWay(path, base);
    std::string rest = withoutTrailingSeparator(path).substr(withoutTrailingSeparator(base).size());
    // Below a drive's root the rest begins without a separator ("C:\" and "App").
    if (lastSeparator(topName) != topName.size() - 1 && !rest.empty() && rest[0] != '\\' && rest[0] != '/') {
        topName += '\\';
    }
    return sameFinalName(itemName, topName + rest);
}

bool setAttributes(HANDLE item, DWORD attributes, SetInformationCall setInformation)
{
    FILE_BASIC_INFO basic;
    std::memset(&basic, 0, sizeof basic);  // times of 0 stay as they are
    // Attributes of 0 would mean "unchanged" too.
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return setInformation(item, FileBasicInfo, &basic, sizeof basic);
}

// Deletes the item. From Windows 10 on, its name goes at once (as DeleteFile's does there),
// even while an indexer or a virus scanner still has the file open, so that its folder
// can go too, and a read-only file goes without touching its attribute. Before that, and
// where a file system knows no such deletion, it is marked deleted and goes when the last
// handle closes. False, with Windows' reason in GetLastError, when it refuses.
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDeleteNow = 0x1 | 0x2 | 0x10;  // delete, POSIX semantics, ignore read-only

bool deleteThrough(HANDLE item, SetInformationCall setInformation)
{
    DWORD flags = kDeleteNow;
    if (setInformation(item, kDispositionInfoEx, &flags, sizeof flags)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return setInformation(item, FileDispositionInfo, &disposition, sizeof disposition);
}

bool linkOnTheWay(const std::string& path, const std::string& base)
{
    std::vector<std::string> steps = pathsBelow(base, path);
    for (const std::string& step : steps) {
        DWORD attributes = GetFileAttributesA(step.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    }
    return steps.empty() && !samePath(path, base);
}

Removal removeFileByPath(const std::string& path, const std::string& base)
{
    if (linkOnTheWay(path, base)) return Removal::throughLink;
    if (DeleteFileA(path.c_str())) return Removal::done;
    DWORD error = GetLastError();
    if (isGone(error)) return Removal::done;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return Removal::failed;
    }
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path.c_str())) return Removal::done;
    SetFileAttributesA(path.c_str(), attributes);
    return Removal::failed;
}

Removal removeFolderByPath(const std::string& path, const std::string& base)
{
    if (linkOnTheWay(path, base)) return Removal::throughLink;
    if (RemoveDirectoryA(path.c_str())) return Removal::done;
    DWORD error = GetLastError();
    if (isGone(error) || error == ERROR_DIR_NOT_EMPTY || error == ERROR_DIRECTORY) return Removal::done;
    return holdsAnything(path) ? Removal::done : Removal::failed;
}

}  // namespace

std::vector<std::string> readShellFolders()
{
    std::vector<std::string> folders;
    collectFolders(HKEY_CURRENT_USER, kShellFoldersKey, folders);
    collectFolders(HKEY_CURRENT_USER, kUserShellFoldersKey, folders);
    collectFolders(HKEY_LOCAL_MACHINE, kShellFoldersKey, folders);
    collectFolders(HKEY_LOCAL_MACHINE, kUserShellFoldersKey, folders);
    return folders;
}

Removal removeLoggedFile(const std::string& path, const std::string& base)
{
    SetInformationCall setInformation = setInformationCall();
    if (!setInformation) return removeFileByPath(path, base);
    HANDLE item = openForDeletion(path);
    if (item == INVALID_HANDLE_VALUE) return isGone(GetLastError()) ? Removal::done : Removal::failed;
    Removal result = Removal::failed;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(item, &info)) {
        result = Removal::failed;
    } else if (!reachedDirectly(item, info, path, base)) {
        result = Removal::throughLink;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A file record never removes a folder, not even an empty one.
        result = Removal::failed;
    } else if (deleteThrough(item, setInformation)) {
        result = Removal::done;
    } else if (GetLastError() == ERROR_ACCESS_DENIED && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        // Windows refuses to delete a read-only file; the attribute does not make it the
        // user's. Cleared through the same handle, and set again when deleting still fails.
        DWORD attributes = info.dwFileAttributes;
        if (setAttributes(item, attributes & ~FILE_ATTRIBUTE_READONLY, setInformation)) {
            if (deleteThrough(item, setInformation)) {
                result = Removal::done;
            } else {
                setAttributes(item, attributes, setInformation);
            }
        }
    }
    CloseHandle(item);
    return result;
}

Removal removeEmptyFolder(const std::string& path, const std::string& base)
{
    SetInformationCall setInformation = setInformationCall();
    if (!setInformation) return removeFolderByPath(path, base);
    HANDLE item = openForDeletion(path);
    if (item == INVALID_HANDLE_VALUE) {
        if (isGone(GetLastError())) return Removal::done;
        // Other refusals (in use, no rights) matter only for an empty folder.
        return holdsAnything(path) ? Removal::done : Removal::failed;
    }
    Removal result = Removal::failed;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(item, &info)) {
        result = Removal::failed;
    } else if (!reachedDirectly(item, info, path, base)) {
        result = Removal::throughLink;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // A file where a folder was is the user's: kept, and not a failure either.
        result = Removal::done;
    } else if (deleteThrough(item, setInformation)) {
        result = Removal::done;
    } else {
        // Windows itself refuses to delete a folder that holds anything: that refusal is
        // what keeps the user's own files, so nothing here ever looks inside to delete.
        DWORD error = GetLastError();
        result = error == ERROR_DIR_NOT_EMPTY || holdsAnything(path) ? Removal::done : Removal::failed;
    }
    CloseHandle(item);
    return result;
}
