// The uninstaller's side of the uninstall registration: it trusts only the entries whose
// UninstallString starts this very program, for the product name and for what it deletes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "uninstaller/uninstaller_state.h"

// The entries below each root's Uninstall key, in the order of roots, that start the
// uninstaller at exePath (or at its long form, when Windows started it by a short name).
std::vector<UninstallEntry> findUninstallEntries(const std::vector<HKEY>& roots,
                                                 const std::string& exePath);

// Deletes one entry. True when it is gone afterwards.
bool deleteUninstallEntry(const UninstallEntry& entry);
