#include "uninstaller/uninstall_plan.h"

#include <algorithm>
#include <cstdlib>

#include "common/package_format.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The form in which two paths are compared: the path rule's, except that a drive root
// keeps its separator ("C:" alone is the drive's current folder).
std::string comparable(const std::string& path)
{
    std::string kept = withoutTrailingSeparator(path);
    std::string key = comparablePath(kept);
    if (!kept.empty() && lastSeparator(kept) == kept.size() - 1) key += '\\';
    return key;
}

// Separators that are characters of their own: in a double-byte code page a character's
// second byte may be a backslash.
int depthOf(const std::string& key)
{
    int depth = 0;
    for (std::size_t i = 0; i < key.size(); i += characterLength(key, i)) depth += key[i] == '\\';
    return depth;
}

bool contains(const std::vector<std::string>& keys, const std::string& key)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

}  // namespace

std::string withoutTrailingSeparator(const std::string& path)
{
    std::string result = path;
    while (!result.empty() && lastSeparator(result) == result.size() - 1) result.pop_back();
    if (result.size() == 2 && isDriveLetter(result[0]) && result[1] == ':' && path.size() > 2) {
        result += path[2];
    }
    return result;
}

bool samePath(const std::string& a, const std::string& b)
{
    return comparable(a) == comparable(b);
}

std::string withoutLongPathPrefix(const std::string& path)
{
    auto separatorAt = [&](std::size_t at) { return at < path.size() && (path[at] == '\\' || path[at] == '/'); };
    if (!(separatorAt(0) && separatorAt(1) && path.size() > 3 && path[2] == '?' && separatorAt(3))) return path;
    bool share = path.size() >= 8 && (path[4] | 0x20) == 'u' && (path[5] | 0x20) == 'n' && (path[6] | 0x20) == 'c' &&
                 separatorAt(7);
    return share ? "\\\\" + path.substr(8) : path.substr(4);
}

bool isDriveRoot(const std::string& path)
{
    std::string key = comparable(withoutLongPathPrefix(path));
    if (key.size() >= 2 && isDriveLetter(key[0]) && key[1] == ':') {
        return key.size() == 2 || (key.size() == 3 && key[2] == '\\');
    }
    if (key.compare(0, 2, "\\\\") == 0) {
        // \\server\share: one separator between the two names, none after.
        std::string rest = key.substr(2);
        return depthOf(rest) <= 1;
    }
    return false;
}

std::string folderOf(const std::string& path)
{
    std::size_t last = lastSeparator(path);
    if (last == std::string::npos) return std::string();
    return path.substr(0, last);
}

RemovalPlan planRemoval(const std::vector<LogEntry>& entries,
                        const std::vector<std::string>& protectedFolders,
                        const std::string& ownFolder)
{
    RemovalPlan plan;
    std::string ownKey = comparable(ownFolder);
    // "C:\" already ends with its separator: "C:\\__uninst.dat" would be another text.
    std::string inOwnFolder = ownFolder;
    if (inOwnFolder.empty() || lastSeparator(inOwnFolder) != inOwnFolder.size() - 1) inOwnFolder += '\\';
    std::vector<std::string> ownFiles = {comparable(inOwnFolder + wbformat::kUninstallerName),
                                         comparable(inOwnFolder + wbformat::kUninstallLogName)};
    std::vector<std::string> protectedKeys;
    for (const std::string& folder : protectedFolders) {
        if (!folder.empty()) protectedKeys.push_back(comparable(folder));
    }

    std::vector<std::string> fileKeys;
    struct Folder {
        std::string key;
        std::string path;
    };
    std::vector<Folder> folders;
    std::string rootKey;
    for (const LogEntry& entry : entries) {
        if (entry.type == wbformat::kLogFile) {
            std::string key = comparable(entry.path);
            if (contains(ownFiles, key) || contains(fileKeys, key)) continue;
            fileKeys.push_back(key);
            plan.files.push_back(entry.path);
            continue;
        }
        std::string path = withoutTrailingSeparator(entry.path);
        std::string key = comparable(path);
        if (entry.type == wbformat::kLogInstallRoot) {
            plan.installRoot = path;
            rootKey = key;
        }
        if (path.empty() || isDriveRoot(path) || contains(protectedKeys, key)) continue;
        bool seen = false;
        for (const Folder& folder : folders) seen = seen || folder.key == key;
        if (!seen) folders.push_back({key, path});
    }

    // Deepest first, so a folder is tried only after everything that was below it; the
    // order of the records then does not matter. Equal depths in a fixed order, so the
    // same log always gives the same plan.
    std::sort(folders.begin(), folders.end(), [&](const Folder& a, const Folder& b) {
        bool aRoot = a.key == rootKey, bRoot = b.key == rootKey;
        if (aRoot != bRoot) return bRoot;
        int da = depthOf(a.key), db = depthOf(b.key);
        if (da != db) return da > db;
        return a.key < b.key;
    });
    for (const Folder& folder : folders) {
        if (folder.key == ownKey) {
            plan.removeOwnFolder = true;
            continue;
        }
        plan.folders.push_back(folder.path);
    }
    return plan;
}

std::string removeQuestion(const std::string& installRoot)
{
    return "Do you want to remove the program installed at `" + installRoot + "'?";
}

std::string removedNotice(const std::string& productName)
{
    if (productName.empty()) return "The program has been removed.";
    return "`" + productName + "' has been removed.";
}

namespace {

void appendList(std::string& text, const std::vector<std::string>& items)
{
    std::size_t listed = std::min(items.size(), kListedFailures);
    for (std::size_t i = 0; i < listed; ++i) text += items[i] + "\n";
    if (items.size() > listed) {
        text += "and " + decimalText(static_cast<unsigned long>(items.size() - listed)) + " more\n";
    }
}

}  // namespace

std::string failuresNotice(const std::vector<std::string>& failures, const std::vector<std::string>& linked)
{
    std::string text = "Not everything could be removed.";
    if (!failures.empty()) {
        text += " Still in place:\n\n";
        appendList(text, failures);
        text += "\nA running program may be using them. Close it and run the uninstaller again.";
    }
    if (!linked.empty()) {
        text += failures.empty() ? "" : "\n\n";
        text += failures.empty() ? " Left untouched" : "Left untouched";
        text += ", because a junction or symbolic link lies on the way to them:\n\n";
        appendList(text, linked);
        text.pop_back();
    }
    return text;
}

std::vector<std::string> pathsBelow(const std::string& base, const std::string& item)
{
    std::vector<std::string> steps;
    std::string top = withoutTrailingSeparator(base), path = withoutTrailingSeparator(item);
    if (path.size() <= top.size() || !isPathAtOrBelow(path, top)) return steps;
    for (std::size_t i = 0; i < path.size(); i += characterLength(path, i)) {
        if (i > top.size() && isSeparator(path[i])) steps.push_back(path.substr(0, i));
    }
    steps.push_back(path);
    return steps;
}

std::string unreadableLogNotice(const std::string& logPath)
{
    return "The uninstall log `" + logPath + "' cannot be read.\n\nNothing has been removed.";
}

std::string damagedLogNotice(const std::string& logPath, const std::string& problem)
{
    return "The uninstall log `" + logPath + "' is damaged: it " + problem +
           ".\n\nNothing has been removed.";
}

std::string administratorRefusedNotice(const std::string& productName, bool declined)
{
    std::string what = productName.empty() ? std::string("the program") : "`" + productName + "'";
    return "Removing " + what + " needs administrator rights, " +
           (declined ? "which were not given" : "but the uninstaller could not ask for them") +
           ".\n\nNothing has been removed.";
}

std::string selfKeptNotice(const std::string& productName, const std::string& ownFolder)
{
    std::string removed = removedNotice(productName);
    removed.pop_back();
    return removed + ", but the uninstaller could not start the copy of itself that removes it. The folder `" +
           ownFolder + "' remains, with " + wbformat::kUninstallerName + " and " + wbformat::kUninstallLogName +
           " in it; you may delete it.";
}

std::string refusedLogNotice(const std::string& logPath, const std::string& problem)
{
    return "The uninstall log `" + logPath + "' is refused: it " + problem + ".\n\nNothing has been removed.";
}

std::string cleanupCommandLine(const std::string& copyPath, const CleanupRequest& request)
{
    return "\"" + copyPath + "\" /cleanup " + decimalText(request.waitHandle) + " " +
           (request.removeFolder ? "1" : "0") + " \"" + request.uninstallerPath + "\"";
}

namespace {

// The next argument: quoted (a Windows path holds no double quote) or up to a blank.
bool nextArgument(const std::string& line, std::size_t& position, std::string& argument)
{
    while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) ++position;
    if (position >= line.size()) return false;
    if (line[position] == '"') {
        std::size_t close = line.find('"', position + 1);
        if (close == std::string::npos) return false;
        argument = line.substr(position + 1, close - position - 1);
        position = close + 1;
        return true;
    }
    std::size_t end = line.find_first_of(" \t", position);
    if (end == std::string::npos) end = line.size();
    argument = line.substr(position, end - position);
    position = end;
    return true;
}

bool isNumber(const std::string& text)
{
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

bool parseCleanupCommandLine(const std::string& commandLine, CleanupRequest& request)
{
    std::size_t position = 0;
    std::string program, verb, handle, flag, path, extra;
    if (!nextArgument(commandLine, position, program) || !nextArgument(commandLine, position, verb) ||
        verb != "/cleanup" || !nextArgument(commandLine, position, handle) ||
        !nextArgument(commandLine, position, flag) || !nextArgument(commandLine, position, path) ||
        nextArgument(commandLine, position, extra)) {
        return false;
    }
    if (!isNumber(handle) || (flag != "0" && flag != "1")) return false;
    // The copy deletes what it is told; it is told only of an uninstaller, so a stray
    // command line cannot make it delete any other file.
    std::string folder = folderOf(path);
    if (folder.empty() || !isFullPath(path) || !samePath(path.substr(folder.size() + 1), wbformat::kUninstallerName)) {
        return false;
    }
    request.waitHandle = std::strtoul(handle.c_str(), nullptr, 10);
    request.removeFolder = flag == "1";
    request.uninstallerPath = path;
    return true;
}
