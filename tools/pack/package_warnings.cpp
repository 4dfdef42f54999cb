// Mistakes the format allows but a user would meet on the installed machine: shortcuts
// into the install directory that lead nowhere, a launcher configuration that cannot
// start the application, a program that cannot be removed.
#include <cerrno>
#include <cstring>
#include <map>

#include "common/config.h"
#include "common/package_format.h"
#include "tools/pack/pack_internal.h"

namespace wbpack {

namespace {

// Windows compares file names without regard to case; ASCII is what every code page
// shares, so only its letters are folded.
std::string foldAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string joinBackslash(const std::string& dir, const std::string& name)
{
    return dir.empty() ? name : dir + "\\" + name;
}

// A launcher configuration in the package, and where it lies.
struct LauncherConfig {
    std::string dir;     // its folder below the install directory, '\'-joined
    const PackEntry* entry;
};

bool readEntryBytes(const PackEntry& e, std::string& bytes)
{
    if (e.sourcePath.empty()) {
        bytes = e.data;
        return true;
    }
    FILE* f = std::fopen(e.sourcePath.c_str(), "rb");
    if (!f) return false;
    char buffer[65536];
    std::size_t got;
    bytes.clear();
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The launcher's own parser never fails: what does not fit the grammar ends the parse
// there, silently. Here that stop is the mistake to tell.
void checkLauncherConfig(const LauncherConfig& cfg, const std::map<std::string, bool>& paths, std::uint32_t codePage,
                         std::vector<std::string>& warnings)
{
    std::string shown = shownText(joinBackslash(cfg.dir, cfg.entry->name), codePage);
    std::string text;
    if (!readEntryBytes(*cfg.entry, text)) {
        warnings.push_back(shown + ": cannot be read to check it");
        return;
    }
    for (unsigned char c : text) {
        if (c >= 0x80) {
            warnings.push_back(shown + " holds non-ASCII bytes; the launcher reads it in the code page of the "
                                       "user's Windows, whatever the package's");
            break;
        }
    }
    ConfigNode* root = parseConfig("");
    if (!root) return;
    int position = 0;
    text.resize(std::strlen(text.c_str()));   // the launcher reads up to the first zero byte
    parseConfigBlock(root, text.c_str(), position);
    if (static_cast<std::size_t>(position) < text.size()) {
        int line = 1;
        for (int i = 0; i < position; ++i) line += text[i] == '\n';
        warnings.push_back(shown + " does not parse: the launcher stops reading it at line " + std::to_string(line));
    }
    const char* archive = lookupConfig(root, "info.archive", nullptr);
    if (!archive || !*archive) {
        warnings.push_back(shown + " names no info.archive; the launcher cannot start the application");
    } else {
        std::string relative = archive;
        for (char& c : relative) c = c == '/' ? '\\' : c;
        if (paths.count(foldAscii(joinBackslash(cfg.dir, relative))) == 0)
            warnings.push_back(shown + ": info.archive \"" + printable(archive) + "\" names no file beside it");
    }
    freeConfig(root);
}

// The part of `path` below the install directory: true when it lies there.
bool belowInstallDir(const std::string& path, const std::string& installDir, std::string& relative)
{
    std::string root = installDir;
    while (!root.empty() && root.back() == '\\') root.pop_back();
    std::string folded = foldAscii(path);
    std::string prefix = foldAscii(root) + "\\";
    if (root.empty() || folded.compare(0, prefix.size(), prefix) != 0) return false;
    relative = path.substr(prefix.size());
    while (!relative.empty() && relative.back() == '\\') relative.pop_back();
    return !relative.empty();
}

}  // namespace

std::vector<std::string> findPackageWarnings(const PackageSpec& package)
{
    std::vector<std::string> warnings;
    const std::uint32_t cp = package.codePage;
    std::map<std::string, bool> paths;   // folded path below the install directory -> is a file
    std::vector<LauncherConfig> configs;
    std::vector<std::string> dirs(1);
    bool uninstallerAtTop = false;
    for (const PackEntry& e : package.entries) {
        if (e.kind == kEntryLeaveDir) {
            if (dirs.size() > 1) dirs.pop_back();
            continue;
        }
        std::string path = joinBackslash(dirs.back(), e.name);
        paths[foldAscii(path)] = e.kind == kEntryFile;
        if (e.kind == kEntryEnterDir) {
            dirs.push_back(path);
            continue;
        }
        if (dirs.size() == 1 && e.name == wbformat::kUninstallerName) uninstallerAtTop = true;
        if (foldAscii(e.name) == "vmkick.cfg") configs.push_back({dirs.back(), &e});
    }

    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        const ShortcutSpec& s = package.shortcuts[i];
        const std::pair<const char*, const std::string*> fields[] = {{"target", &s.target},
                                                                    {"working folder", &s.workingDir}};
        for (const auto& field : fields) {
            std::string relative;
            if (!belowInstallDir(*field.second, package.header.installDir, relative)) continue;
            if (paths.count(foldAscii(relative)) == 0)
                warnings.push_back("shortcut " + std::to_string(i + 1) + ": the " + field.first + " " +
                                   shownText(*field.second, cp) +
                                   " lies in the install directory but names nothing in the package");
        }
    }
    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        const std::string& link = package.shortcuts[i].linkPath;
        if (linkInNamedFolders(link, package.header.installDir) || link.empty()) continue;
        warnings.push_back("shortcut " + std::to_string(i + 1) + ": the link " + shownText(link, cp) +
                           " lies outside the desktop, the menus, the start-up folder and the install folder");
    }
    for (const LauncherConfig& cfg : configs) checkLauncherConfig(cfg, paths, cp, warnings);
    if (!uninstallerAtTop)
        warnings.push_back("no __uninst.exe at the top of the package: the installed program cannot be removed");
    return warnings;
}

}  // namespace wbpack
