#include "installer/install_paths.h"

#include "common/package_format.h"

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
        std::size_t server = path.find('\\', 2);
        if (server == std::string::npos) return path.size();
        std::size_t share = path.find('\\', server + 1);
        return share == std::string::npos ? path.size() : share + 1;
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
    for (std::size_t i = start; i <= fullDir.size(); ++i) {
        if (i < fullDir.size() && fullDir[i] != '\\') {
            component += fullDir[i];
            continue;
        }
        if (isDriveComponent(component)) {
            startAtRoot(walk, component);
        } else if (!component.empty()) {
            walk.steps.push_back({false, component});
            walk.reached += component + '\\';
        }
        component.clear();
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
    if (!runningPath.empty() && runningPath.back() == '\\') runningPath.pop_back();
    while (!runningPath.empty() && runningPath.back() != '\\') runningPath.pop_back();
}
