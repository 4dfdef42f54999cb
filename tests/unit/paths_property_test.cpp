// What the installer writes, the uninstaller removes: generated packages (install folders in
// every form, links in and outside the shell folders, names in code pages 1252 and 932 with
// second bytes 0x5C and 0x7C) go through the builder's checks; every package it accepts is
// installed on paper (the installer's walk, its records and log bytes), read back by the
// uninstaller's parser and scope check, planned, and updated by a second generated package
// into the same folder. The uninstaller must accept every such log, plan to remove exactly
// the logged items, and accept the merged log too.
//
// WB_PROPERTY_SEED=N runs one case of that seed (a failing case prints its seed);
// WB_PROPERTY_SHOW=1 prints the builder's refusals and each accepted package's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/package_format.h"
#include "common/path_rule.h"
#include "common/uninstall_log.h"
#include "installer/install_paths.h"
#include "installer/link_path.h"
#include "tools/pack/pack.h"
#include "uninstaller/uninstall_plan.h"

namespace {

const std::string kLocalAppData = "C:\\Users\\Ann\\AppData\\Local";
const std::string kCurrentFolder = "C:\\Work";
// The folders the macros name: $D, $P, $S, $s.
const std::string kUserFolders[kShellFolderCount] = {
    "C:\\Users\\Ann\\Desktop", "C:\\Users\\Ann\\Start Menu\\Programs", "C:\\Users\\Ann\\Start Menu",
    "C:\\Users\\Ann\\Start Menu\\Programs\\Startup"};
const std::vector<std::string> kAllUsersFolders = {"C:\\Users\\Public\\Desktop", "C:\\ProgramData\\Start Menu",
                                                   "C:\\ProgramData\\Start Menu\\Programs"};
const std::vector<std::string> kSystemFolders = {"C:\\Windows", "C:\\Windows\\system32", "C:\\Program Files",
                                                 "C:\\Program Files (x86)"};

std::vector<std::string> shortcutRoots()
{
    std::vector<std::string> candidates(std::begin(kUserFolders), std::end(kUserFolders));
    candidates.insert(candidates.end(), kAllUsersFolders.begin(), kAllUsersFolders.end());
    // A user who pointed a folder at a drive's root or at Windows' own does not widen what
    // a log may name.
    candidates.push_back("D:\\");
    candidates.push_back("C:\\Windows\\Links");
    candidates.push_back("C:\\Users\\..\\Windows\\x");
    return acceptableShortcutRoots(candidates, kSystemFolders);
}

struct Generator {
    std::mt19937 random;
    unsigned codePage;

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

    // One character: mostly plain letters, sometimes a blank, a dot, or a character of the
    // code page outside ASCII; in 932 often one whose second byte is \ or | or a letter.
    std::string character()
    {
        static const char* const plain[] = {"a", "B", "z", "Q", "7", "_", "-", "a", "B", "z", "Q", "7",
                                            " ", ".", "$"};
        static const char* const western[] = {"\xE9", "\xC9", "\xDF", "\xFC"};
        static const char* const japanese[] = {"\x83\x5C", "\x95\x5C", "\x94\x5C", "\x8F\x5C", "\x83\x7C",
                                               "\x83\x41", "\x83\x61", "\x83\x74", "\x83\x67"};
        if (chance(75)) return plain[below(sizeof plain / sizeof *plain)];
        if (codePage == 932) return japanese[below(sizeof japanese / sizeof *japanese)];
        return western[below(sizeof western / sizeof *western)];
    }

    std::string name()
    {
        static const char* const special[] = {"CON", "nul.txt", "..", ".", "x.", "y ", "__uninst.exe",
                                              "__uninst.dat", "App.lnk"};
        if (chance(8)) return special[below(sizeof special / sizeof *special)];
        std::string text;
        std::size_t length = 1 + below(6);
        for (std::size_t i = 0; i < length; ++i) text += character();
        return text;
    }

    std::string installDir()
    {
        switch (below(10)) {
        case 0: return "C:\\";
        case 1: return "D:";
        case 2: return "C:\\a\\Q:";
        case 3: return "C:\\a\\Q:\\" + name();
        case 4: return name() + "\\" + name();                     // relative
        case 5: return "C:" + name();                              // drive-relative
        case 6: return "\\\\srv\\share\\" + name();                // a share
        case 7: return "$L\\Programs\\" + name();                  // for one user
        case 8: return "C:\\" + name() + (chance(50) ? " " : ".") + "\\" + name();  // a trimmed part
        default: return "C:\\" + name() + "\\" + name() + (chance(30) ? "\\" : "");
        }
    }

    std::string linkPath(const std::string& installDir)
    {
        std::string leaf = name() + (chance(85) ? ".lnk" : "");
        switch (below(9)) {
        case 0: return "$D\\" + leaf;
        case 1: return "$P\\" + name() + "\\" + leaf;
        case 2: return "$S\\" + leaf;
        case 3: return "$s\\" + leaf;
        case 4: return installDir + "\\" + leaf;
        case 5: return "C:\\" + leaf;
        case 6: return "D:\\Links\\" + name() + "\\" + leaf;
        case 7: return kAllUsersFolders[below(kAllUsersFolders.size())] + "\\" + leaf;
        default: return "$D\\..\\" + leaf;
        }
    }

    void addEntries(std::vector<wbpack::PackEntry>& entries, int depth)
    {
        std::size_t count = below(5);
        for (std::size_t i = 0; i < count; ++i) {
            if (depth < 3 && chance(30)) {
                entries.push_back(wbpack::enterDirEntry(name()));
                addEntries(entries, depth + 1);
                entries.push_back(wbpack::leaveDirEntry());
            } else {
                entries.push_back(wbpack::memoryFileEntry(name(), "x"));
            }
        }
    }

    wbpack::PackageSpec package(const std::string& installDir)
    {
        wbpack::PackageSpec pkg;
        pkg.codePage = codePage;
        pkg.header.productName = "Product";
        pkg.header.installDir = installDir;
        if (chance(80)) pkg.entries.push_back(wbpack::memoryFileEntry(wbformat::kUninstallerName, "MZ"));
        addEntries(pkg.entries, 0);
        std::size_t links = below(4);
        for (std::size_t i = 0; i < links; ++i) {
            wbpack::ShortcutSpec link;
            link.linkPath = linkPath(installDir);
            link.target = "C:\\App\\vmkick.exe";
            pkg.shortcuts.push_back(link);
        }
        return pkg;
    }
};

bool builderAccepts(const wbpack::PackageSpec& pkg)
{
    std::string error;
    bool ok = wbpack::checkPackageSpec(pkg, error) && wbpack::checkPerUserPackage(pkg, error);
    if (!ok && std::getenv("WB_PROPERTY_SHOW")) std::fprintf(stderr, "REFUSED %s\n", error.substr(0, 60).c_str());
    return ok;
}

// What GetFullPathNameA makes of the install directory with the current folder C:\Work (and
// the root as a drive's current folder): "." and ".." parts folded away.
std::string fullPathOf(const std::string& dir)
{
    std::string full;
    if (isFullPath(dir)) {
        full = dir;
    } else if (dir.size() >= 2 && dir[1] == ':') {
        full = dir.substr(0, 2) + "\\" + dir.substr(2);
    } else {
        full = kCurrentFolder + "\\" + dir;
    }
    std::string root = pathRoot(full);
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = root.size(); i <= full.size(); i += i < full.size() ? characterLength(full, i) : 1) {
        if (i == full.size() || isSeparatorAt(full, i)) {
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (part != "." && !part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part.append(full, i, characterLength(full, i));
        }
    }
    std::string out = root;
    if (!out.empty() && lastSeparator(out) != out.size() - 1) out += '\\';
    for (const std::string& p : parts) out += p + "\\";
    return out;
}

// The installer's records, newest last (the order they are pushed), as its pure parts make
// them: the walk's folder, the entries below it, then each link's folder and file.
std::vector<LogEntry> install(const wbpack::PackageSpec& pkg, Generator& generator, std::string& root)
{
    std::string dir = expandPerUserPrefix(pkg.header.installDir.c_str(), kLocalAppData);
    InstallWalk walk = planInstallWalk(fullPathOf(dir));
    root = walk.reached;
    std::vector<LogEntry> pushed = {{wbformat::kLogInstallRoot, root}};
    std::string running = root;
    std::vector<std::string> opened;   // the folders entered, to check the running path by
    for (const wbpack::PackEntry& e : pkg.entries) {
        if (e.kind == wbpack::kEntryLeaveDir) {
            leaveRunningPath(running);
            opened.pop_back();
        } else if (e.kind == wbpack::kEntryEnterDir) {
            pushed.push_back({wbformat::kLogDirectory, running + e.name});
            running += e.name + "\\";
            opened.push_back(e.name);
        } else if (e.name != wbformat::kUninstallerName) {
            pushed.push_back({wbformat::kLogFile, running + e.name});
        }
        std::string expected = root;
        for (const std::string& name : opened) expected += name + "\\";
        if (running != expected) pushed.push_back({-1, "the running path `" + running + "' is not `" + expected + "'"});
    }
    std::vector<std::string> roots = shortcutRoots();
    for (const wbpack::ShortcutSpec& link : pkg.shortcuts) {
        std::string linkPath = expandPerUserPrefix(link.linkPath.c_str(), kLocalAppData);
        std::string expanded;
        if (!expandLinkPathText(linkPath.c_str(), kUserFolders, expanded) || !isSavableLinkPath(expanded)) continue;
        std::size_t last = lastSeparator(expanded);
        std::string folder = last != std::string::npos && last >= 3 ? expanded.substr(0, last) : std::string();
        bool created = generator.chance(50);
        pushed.push_back({wbformat::kLogShortcutFolder, linkFolderToLog(folder, created, root, roots)});
        pushed.push_back({wbformat::kLogFile, expanded});
    }
    return pushed;
}

std::string logBytes(const std::vector<LogEntry>& newestFirst)
{
    std::string bytes;
    for (const LogEntry& entry : newestFirst) {
        EXPECT_TRUE(appendLogRecordBytes(bytes, entry.type, entry.path.c_str())) << entry.path.size();
    }
    return bytes;
}

// Runs one case; false (with what went wrong) when a property does not hold. accepted
// tells whether the builder took the first package.
bool runCase(unsigned seed, bool& accepted, std::string& failure)
{
    Generator generator{std::mt19937(seed), seed % 2 == 0 ? 1252u : 932u};
    setPathCodePage(generator.codePage);
    wbpack::PackageSpec first = generator.package(generator.installDir());
    accepted = builderAccepts(first);
    if (!accepted) return true;
    setPathCodePage(generator.codePage);

    std::string root;
    std::vector<LogEntry> pushed = install(first, generator, root);
    for (const LogEntry& entry : pushed) {
        if (entry.type != -1) continue;
        failure = entry.path;
        return false;
    }
    std::vector<LogEntry> log(pushed.rbegin(), pushed.rend());
    if (std::getenv("WB_PROPERTY_SHOW")) {
        std::fprintf(stderr, "dir [%s]\n", first.header.installDir.c_str());
        for (auto& l : first.shortcuts) std::fprintf(stderr, "link [%s]\n", l.linkPath.c_str());
        for (auto& e : log) std::fprintf(stderr, "%d [%s]\n", e.type, e.path.c_str());
    }
    std::vector<std::string> roots = shortcutRoots();
    std::vector<LogEntry> read;
    std::string problem;
    if (!parseUninstallLog(logBytes(log), roots, read, problem)) {
        failure = "the uninstaller refuses the log: it " + problem;
        return false;
    }

    // The uninstaller in the install folder takes it for the log's own folder.
    std::string ownFolder = folderHolding(root + wbformat::kUninstallerName);
    if (!samePath(ownFolder, root)) {
        failure = "the uninstaller's folder `" + ownFolder + "' is not the log's root `" + root + "'";
        return false;
    }

    // Exactly the logged items: each file once (but the uninstaller's own two, which its
    // clean-up copy removes), each folder once unless it is a root or a shell folder.
    RemovalPlan plan = planRemoval(read, roots, ownFolder);
    std::vector<std::string> files, folders;
    for (const LogEntry& entry : read) {
        if (!logScopeOf(entry, root, roots).size()) {
            failure = "no folder to check links from for `" + entry.path + "'";
            return false;
        }
        if (entry.type == wbformat::kLogFile) {
            bool own = samePath(entry.path, root + wbformat::kUninstallerName) ||
                       samePath(entry.path, root + wbformat::kUninstallLogName);
            bool seen = std::any_of(files.begin(), files.end(), [&](const std::string& f) { return samePath(f, entry.path); });
            if (!own && !seen) files.push_back(entry.path);
            continue;
        }
        std::string folder = withoutTrailingSeparator(entry.path);
        bool shell = std::any_of(roots.begin(), roots.end(), [&](const std::string& r) { return samePath(r, folder); });
        bool seen = std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return samePath(f, folder); });
        if (!folder.empty() && !isDriveRoot(folder) && !shell && !seen) folders.push_back(folder);
    }
    if (plan.files != files) {
        failure = "the plan's files differ from the logged ones";
        return false;
    }
    std::vector<std::string> planned = plan.folders;
    if (plan.removeOwnFolder) planned.push_back(ownFolder);
    auto sorted = [](std::vector<std::string> v) {
        for (std::string& s : v) s = comparablePath(s);
        std::sort(v.begin(), v.end());
        return v;
    };
    if (sorted(planned) != sorted(folders)) {
        failure = "the plan's folders differ from the logged ones";
        return false;
    }
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        for (std::size_t j = i + 1; j < plan.folders.size(); ++j) {
            if (isPathAtOrBelow(plan.folders[j], plan.folders[i])) {
                failure = "`" + plan.folders[i] + "' is tried before `" + plan.folders[j] + "' below it (code page " +
                          std::to_string(pathCodePage()) + ")";
                return false;
            }
        }
    }

    // An update into the same folder: the merged log is accepted too, and keeps the first
    // version's items that the second does not install again.
    wbpack::PackageSpec second = generator.package(first.header.installDir);
    if (!builderAccepts(second)) return true;
    setPathCodePage(generator.codePage);
    std::string secondRoot;
    std::vector<LogEntry> pushedAgain = install(second, generator, secondRoot);
    std::vector<LogEntry> fresh(pushedAgain.rbegin(), pushedAgain.rend());
    std::vector<LogEntry> kept = earlierRecordsToKeep(read, secondRoot, [](const LogEntry&) { return true; });
    if (kept.size() + 1 != read.size()) {
        failure = "the update keeps " + std::to_string(kept.size()) + " of the earlier log's " +
                  std::to_string(read.size() - 1) + " records";
        return false;
    }
    std::vector<LogEntry> merged = mergedUninstallLog(fresh, kept);
    std::vector<LogEntry> mergedRead;
    if (!parseUninstallLog(logBytes(merged), roots, mergedRead, problem)) {
        failure = "the uninstaller refuses the merged log: it " + problem;
        return false;
    }
    return true;
}

TEST(PathRuleProperty, EveryLogOfAnAcceptedPackageIsAcceptedPlannedExactlyAndSurvivesAnUpdate)
{
    unsigned first = 1, count = 12000;
    if (const char* only = std::getenv("WB_PROPERTY_SEED")) {
        first = static_cast<unsigned>(std::strtoul(only, nullptr, 10));
        count = 1;
    }
    unsigned accepted = 0, failures = 0;
    for (unsigned seed = first; seed < first + count && failures < 5; ++seed) {
        bool taken = false;
        std::string failure;
        if (!runCase(seed, taken, failure)) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << " (WB_PROPERTY_SEED=" << seed << "): " << failure;
        }
        accepted += taken;
    }
    setPathCodePage(0);
    std::printf("%u of %u generated packages accepted by the builder\n", accepted, count);
    // A generator whose packages the builder all refuses would prove nothing.
    if (count > 1) EXPECT_GT(accepted, count / 4) << "of " << count;
}

}  // namespace
