// The naming rules of the uninstall registration, shared by the installer (which writes
// the entry) and the uninstaller (which finds and deletes it). Plain C++ without Windows
// headers, so the host tests reach it.
#pragma once

#include <string>

// Below HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER when the machine's list cannot be
// written; Windows lists the programs of both.
constexpr char kUninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The product name with each of / \ * ? & ~ ! @ # $ : ; % ^ ( ), the space and the grave
// accent replaced by an underscore. Empty for an empty product name: the caller must
// then register nothing, or it would write into the Uninstall key itself.
std::string uninstallKeyName(const std::string& productName);

// The full path of an entry's key below its root.
std::string uninstallKeyPath(const std::string& keyName);

// True when an entry's UninstallString starts the uninstaller at exePath. The installer
// writes the path in double quotes; an unquoted one is accepted too. Paths compare
// without regard to ASCII case, as Windows file names do.
bool namesUninstaller(const std::string& uninstallString, const std::string& exePath);
