// The entry of an installed program in the Windows list of installed programs.
#pragma once

#include <windows.h>

// Registers the product under the Uninstall key (HKLM, or HKCU without the rights for it;
// a per-user installation only ever in HKCU). A registration that fails is noted nowhere
// but in the absent entry.
void registerUninstaller(bool perUser, const char* productName, const char* uninstallCommand,
                         const char* webAddress, const char* publisher);

// The same with the two roots given: the entry goes below machineRoot (none when null), or
// below userRoot when it cannot be written there. Returns the root that holds the entry, or nullptr when
// neither could (or the product name is empty). Separate so that tests can hand in a
// first root that refuses the entry.
HKEY registerUninstallerUnder(HKEY machineRoot, HKEY userRoot, const char* productName,
                              const char* uninstallCommand, const char* webAddress,
                              const char* publisher);
