// The entry of an installed program in the Windows list of installed programs.
#pragma once

// Registers the product under the Uninstall key (HKLM, or HKCU without the rights for it).
// A registration that fails is noted nowhere but in the absent entry.
void registerUninstaller(const char* productName, const char* uninstallCommand,
                         const char* webAddress, const char* publisher);
