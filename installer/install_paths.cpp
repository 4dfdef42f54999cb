#include "installer/install_paths.h"

bool isAbsoluteInstallDir(const std::string& installDir)
{
    return installDir.size() >= 2 && installDir[1] == ':';
}

std::string preparedInstallDir(const std::string& installDir, const std::string& currentDir)
{
    std::string dir;
    if (isAbsoluteInstallDir(installDir)) {
        dir = installDir;
    } else {
        // Leading backslashes are empty components, which the walk skips: "\Apps" and
        // "Apps" both end up below the current directory.
        std::size_t start = installDir.find_first_not_of('\\');
        dir = currentDir;
        if (dir.empty() || dir.back() != '\\') dir += '\\';
        if (start != std::string::npos) dir += installDir.substr(start);
    }
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir;
}

void leaveRunningPath(std::string& runningPath)
{
    if (!runningPath.empty() && runningPath.back() == '\\') runningPath.pop_back();
    while (!runningPath.empty() && runningPath.back() != '\\') runningPath.pop_back();
}
