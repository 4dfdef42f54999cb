#include "installer/install_paths.h"

#include "common/package_format.h"
#include "common/path_rule.h"

namespace {

bool isDriveComponent(const std::string& component)
{
    char c = component.size() == 2 ? component[0] : '\0';
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && component[1] == ':';
}

// Where the path's own root ends: after "C:" or after "\\server\share\"; 0 for a path
// without one.
std::size_t rootLength(const std::string& path)
{
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        std::size_t separators = 0;
        for (std::size_t i = 2; i < path.size(); i += characterLength(path, i)) {
            if (isSeparatorAt(path, i) && path[i] == '\\' && ++separators == 2) return i + 1;
        }
        return path.size();
    }
    if (path.size() >= 2 && isDriveComponent(path.substr(0, 2))) return 2;
    return 0;
}

void startAtRoot(InstallWalk& walk, std::string root)
{
    if (root.back() != '\\') root += '\\';
    walk.steps.push_back({true, root});
    walk.reached = root;
}

}  // namespace

InstallWalk planInstallWalk(const std::string& fullDir)
{
    InstallWalk walk;
    std::size_t start = rootLength(fullDir);
    if (start != 0) startAtRoot(walk, fullDir.substr(0, start));
    std::string component;
    // Character by character: in a double-byte code page a second byte may be a backslash.
    for (std::size_t i = start; i <= fullDir.size();) {
        if (i < fullDir.size() && !(fullDir[i] == '\\' && isSeparatorAt(fullDir, i))) {
            std::size_t length = characterLength(fullDir, i);
            component.append(fullDir, i, length);
            i += length;
            continue;
        }
        // Windows creates "Tool " and "Tool." as "Tool", and "..." as nothing: the walk goes
        // where Windows goes, so that the log and the registration name that folder.
        std::string name = component == "." || component == ".." ? component : trimmedPart(component);
        if (isDriveComponent(name)) {
            startAtRoot(walk, name);
        } else if (!name.empty()) {
            walk.steps.push_back({false, name});
            walk.reached += name + '\\';
        }
        component.clear();
        ++i;
    }
    return walk;
}

std::string expandPerUserPrefix(const char* text, const std::string& localAppData)
{
    if (!wbformat::beginsWithPerUserMacro(text)) return text;
    return localAppData + (text + 2);
}

void leaveRunningPath(std::string& runningPath)
{
    // By characters: the name before the separator may end in a second byte 0x5C.
    if (!runningPath.empty() && lastSeparator(runningPath) == runningPath.size() - 1) runningPath.pop_back();
    std::size_t last = lastSeparator(runningPath);
    runningPath.resize(last == std::string::npos ? 0 : last + 1);
}
