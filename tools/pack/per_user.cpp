// Per-user packages: an install directory that begins with $L (the user's local
// application data folder) installs without administrator rights and registers for the
// user alone. The builder checks that nothing in such a package needs more, and writes
// into its installer's manifest that Windows need not ask for administrator rights.
#include <string>

#include "common/package_format.h"
#include "tools/pack/pack.h"
#include "tools/pack/pack_internal.h"

namespace wbpack {

bool isPerUserPackage(const PackageSpec& package)
{
    return wbformat::beginsWithPerUserMacro(package.header.installDir.c_str());
}

bool checkPerUserPackage(const PackageSpec& package, std::string& error)
{
    const std::string& dir = package.header.installDir;
    if (dir.compare(0, 2, wbformat::kPerUserMacro) != 0) return true;
    if (!isPerUserPackage(package)) {
        error = "install directory \"" + printable(dir) + "\": $L (the user's local application data folder) "
                "must be followed by a backslash, as in $L\\Programs\\Name";
        return false;
    }
    if (dir.find_first_not_of('\\', 2) == std::string::npos) {
        error = "install directory \"" + printable(dir) + "\": a per-user package needs a folder of its own "
                "below $L, as in $L\\Programs\\Name";
        return false;
    }
    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        const std::string& link = package.shortcuts[i].linkPath;
        // The user's own shell folders and the install folder; anything else (the all-users
        // menus, a folder of the system) would need the rights such a package does without.
        if (linkInNamedFolders(link, dir)) continue;
        error = "shortcut " + std::to_string(i + 1) + " link \"" + printable(link) +
                "\": a per-user package installs without administrator rights, so its shortcuts must lie "
                "in the user's own folders ($D, $P, $S, $s) or in the install folder";
        return false;
    }
    return true;
}

bool requestNoElevation(std::string& stub, std::string& error)
{
    const std::string machine = wbformat::kMachineLevel;
    std::size_t at = stub.find(machine);
    if (at == std::string::npos || stub.find(machine, at + 1) != std::string::npos) {
        error = "the stub's manifest does not ask for administrator rights exactly once, so it cannot be made "
                "into a per-user installer; use an installer stub built with this version";
        return false;
    }
    stub.replace(at, machine.size(), wbformat::kPerUserLevel);
    return true;
}

}  // namespace wbpack
