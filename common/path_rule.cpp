#include "common/path_rule.h"

#include "common/package_format.h"

namespace {

unsigned currentCodePage = 0;

bool isSlash(char c) { return c == '\\' || c == '/'; }

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The parts of a path between separators, in order; empty parts included.
std::vector<std::string> partsOf(const std::string& path)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < path.size();) {
        std::size_t length = characterLength(path, i);
        if (isSeparatorAt(path, i)) {
            parts.emplace_back();
        } else {
            parts.back().append(path, i, length);
        }
        i += length;
    }
    return parts;
}

bool hasDotPart(const std::string& path)
{
    for (const std::string& part : partsOf(path)) {
        if (part == "." || part == "..") return true;
    }
    return false;
}

// \\?\ and \\.\ hand the rest of the path to Windows unparsed: no "." or ".." folding, no
// trailing-dot trimming, and access to devices, so nothing the other rules check holds.
bool isDevicePath(const std::string& path)
{
    return path.size() >= 4 && isSlash(path[0]) && isSlash(path[1]) && (path[2] == '?' || path[2] == '.') &&
           isSlash(path[3]);
}

// A colon anywhere but after the drive letter names an alternate data stream of a file
// or folder ("C:\A\file:stream"), which is not what the installer made. A colon is never
// the second byte of a character.
bool hasStreamColon(const std::string& path)
{
    std::size_t first = path.find(':');
    if (first == std::string::npos) return false;
    bool drive = first == 1 && path.size() >= 3 && isSlash(path[2]);
    return !drive || path.find(':', first + 1) != std::string::npos;
}

bool hasDevicePart(const std::string& path)
{
    return !firstDevicePart(path).empty();
}

}  // namespace

std::string firstDevicePart(const std::string& path)
{
    for (const std::string& part : partsOf(path)) {
        if (wbformat::isDeviceName(part.data(), part.size())) return part;
    }
    return std::string();
}

void setPathCodePage(unsigned codePage) { currentCodePage = codePage; }

unsigned pathCodePage() { return currentCodePage; }

std::size_t characterLength(const std::string& text, std::size_t at)
{
    if (at + 1 < text.size() && isLeadByte(0, static_cast<unsigned char>(text[at]))) return 2;
    return 1;
}

std::string singleByteView(const std::string& name)
{
    std::string view;
    view.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        std::size_t length = characterLength(name, i);
        view += length == 2 ? '_' : name[i];
        i += length;
    }
    return view;
}

bool isSeparatorAt(const std::string& text, std::size_t at)
{
    if (at >= text.size() || !isSlash(text[at])) return false;
    // Whether it is a trail byte shows only from the start: walk to it.
    std::size_t i = 0;
    while (i < at) i += characterLength(text, i);
    return i == at;
}

std::size_t lastSeparator(const std::string& text)
{
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        if (isSlash(text[i])) last = i;
    }
    return last;
}

std::string comparablePath(const std::string& path)
{
    std::string key;
    key.reserve(path.size());
    std::size_t end = 0;   // after the last character that is no separator
    for (std::size_t i = 0; i < path.size();) {
        std::size_t length = characterLength(path, i);
        char c = path[i];
        if (length == 2) {
            key.append(path, i, 2);
        } else if (isSlash(c)) {
            key += '\\';
        } else {
            key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        i += length;
        if (length == 2 || !isSlash(c)) end = key.size();
    }
    key.resize(end);
    return key;
}

bool isSamePath(const std::string& a, const std::string& b)
{
    return comparablePath(a) == comparablePath(b);
}

bool isPathAtOrBelow(const std::string& path, const std::string& folder)
{
    std::string key = comparablePath(path), folderKey = comparablePath(folder);
    if (folderKey.empty()) return false;
    if (key == folderKey) return true;
    // The key is made of whole characters, so a backslash right after the folder's bytes
    // is a separator of its own.
    return key.size() > folderKey.size() && key.compare(0, folderKey.size(), folderKey) == 0 &&
           key[folderKey.size()] == '\\';
}

bool isFullPath(const std::string& path)
{
    bool drive = path.size() >= 3 && isDriveLetter(path[0]) && path[1] == ':' && isSlash(path[2]);
    bool network = path.size() >= 3 && isSlash(path[0]) && isSlash(path[1]) && !isSlash(path[2]);
    return drive || network;
}

std::string pathRoot(const std::string& path)
{
    if (!isFullPath(path)) return std::string();
    if (path[1] == ':') return path.substr(0, 2) + "\\";
    std::vector<std::string> parts = partsOf(path);
    // "", "", server, share, ...
    if (parts.size() < 4 || parts[2].empty() || parts[3].empty()) return std::string();
    return "\\\\" + parts[2] + "\\" + parts[3];
}

bool isPathRoot(const std::string& path)
{
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':') {
        return path.find_first_not_of("\\/", 2) == std::string::npos;
    }
    std::string root = pathRoot(path);
    return !root.empty() && comparablePath(root) == comparablePath(path);
}

std::string folderHolding(const std::string& filePath)
{
    std::size_t last = lastSeparator(filePath);
    if (last == std::string::npos) return std::string();
    std::string folder = filePath.substr(0, last);
    if (folder.size() == 2 && isDriveLetter(folder[0]) && folder[1] == ':') folder += '\\';
    return folder;
}

std::string trimmedPart(const std::string& part)
{
    // Walked forwards: a blank or dot is never the second byte of a character, but the
    // cut must still fall between characters.
    std::size_t keep = 0;
    for (std::size_t i = 0; i < part.size();) {
        std::size_t length = characterLength(part, i);
        if (length == 2 || (part[i] != ' ' && part[i] != '.')) keep = i + length;
        i += length;
    }
    return part.substr(0, keep);
}

std::string firstTrimmedPart(const std::string& path)
{
    for (const std::string& part : partsOf(path)) {
        if (part.empty() || part == "." || part == "..") continue;
        if (trimmedPart(part) != part) return part;
    }
    return std::string();
}

std::string logPathProblem(int type, const std::string& path)
{
    if (path.empty()) {
        return type == wbformat::kLogShortcutFolder ? std::string() : "holds a record with an empty path";
    }
    if (path.find('\0') != std::string::npos) return "holds a path with a zero byte";
    if (!isFullPath(path)) return "holds a path that is not a full path: `" + path + "'";
    if (isDevicePath(path)) return "holds a path that begins with `\\\\?\\' or `\\\\.\\': `" + path + "'";
    if (hasStreamColon(path)) return "holds a path with a colon after the drive: `" + path + "'";
    if (hasDotPart(path)) return "holds a path with a `.' or `..' part: `" + path + "'";
    if (hasDevicePart(path)) return "holds a path with a device name in it: `" + path + "'";
    return std::string();
}

bool isFullProgramPath(const std::string& path)
{
    return isFullPath(path) || (path.size() >= 2 && isSlash(path[0]) && isSlash(path[1]));
}

std::string runCommandInFolder(const std::string& command, const std::string& folder)
{
    if (command.empty()) return command;
    bool quoted = command[0] == '"';
    std::size_t end = quoted ? command.find('"', 1) : command.find_first_of(" \t");
    std::string program = command.substr(quoted, end == std::string::npos ? end : end - quoted);
    if (isFullProgramPath(program)) return command;
    std::string dir = folder;
    if (!dir.empty() && !isSeparatorAt(dir, dir.size() - 1)) dir += '\\';
    std::string rest = end == std::string::npos ? std::string() : command.substr(end + quoted);
    return "\"" + dir + program + "\"" + rest;
}

bool isLinkFile(const std::string& path)
{
    std::size_t last = lastSeparator(path);
    std::string name = last == std::string::npos ? path : path.substr(last + 1);
    if (name.size() <= 4) return false;
    // The four bytes must be characters of their own: after a lead byte they are not.
    std::size_t i = 0;
    while (i < name.size() - 4) i += characterLength(name, i);
    return i == name.size() - 4 && comparablePath(name.substr(i)) == ".lnk";
}

bool isAcceptableShortcutRoot(const std::string& root, const std::vector<std::string>& systemFolders)
{
    if (!logPathProblem(wbformat::kLogShortcutFolder, root).empty() || root.empty() || isPathRoot(root)) {
        return false;
    }
    for (const std::string& folder : systemFolders) {
        if (!folder.empty() && isPathAtOrBelow(folder, root)) return false;
    }
    return true;
}

std::vector<std::string> acceptableShortcutRoots(const std::vector<std::string>& candidates,
                                                 const std::vector<std::string>& systemFolders)
{
    std::vector<std::string> roots;
    for (const std::string& root : candidates) {
        if (isAcceptableShortcutRoot(root, systemFolders)) roots.push_back(root);
    }
    return roots;
}

std::string linkFolderToLog(const std::string& linkFolder, bool created, const std::string& installRoot,
                            const std::vector<std::string>& shortcutRoots)
{
    if (linkFolder.empty() || isPathRoot(linkFolder)) return std::string();
    if (created || isPathAtOrBelow(linkFolder, installRoot)) return linkFolder;
    for (const std::string& root : shortcutRoots) {
        if (isPathAtOrBelow(linkFolder, root)) return linkFolder;
    }
    return std::string();
}
