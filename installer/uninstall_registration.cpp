#include "installer/uninstall_registration.h"

#include <cstring>
#include <string>

#include "common/registration_key.h"

namespace {

bool setText(HKEY key, const char* name, const char* text)
{
    const char* value = text ? text : "";
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
}

bool setNumber(HKEY key, const char* name, DWORD number)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number) == ERROR_SUCCESS;
}

// Creates the entry below root and sets its values. An entry that could be created but not
// completed is deleted again when this call created it, so that the list never shows a
// half-written program; an older entry of the same name keeps what it had.
bool writeEntry(HKEY root, const std::string& keyPath, const char* productName,
                const char* uninstallCommand, const char* webAddress, const char* publisher)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    bool written = setText(key, "DisplayName", productName) &&
                   setText(key, "UninstallString", uninstallCommand) &&
                   setText(key, "URLUpdateInfo", webAddress) &&
                   setText(key, "URLInfoAbout", webAddress) &&
                   setText(key, "Publisher", publisher) &&
                   setNumber(key, "NoModify", 1) &&
                   setNumber(key, "NoRepair", 1);
    RegCloseKey(key);
    if (!written && disposition == REG_CREATED_NEW_KEY) RegDeleteKeyA(root, keyPath.c_str());
    return written;
}

}  // namespace

HKEY registerUninstallerUnder(HKEY machineRoot, HKEY userRoot, const char* productName,
                              const char* uninstallCommand, const char* webAddress,
                              const char* publisher)
{
    std::string keyName = uninstallKeyName(productName ? productName : "");
    if (keyName.empty()) return nullptr;
    std::string keyPath = uninstallKeyPath(keyName);
    // Without administrator rights the machine's list refuses us; the user's own list is
    // the next best place, and Windows shows both.
    if (machineRoot && writeEntry(machineRoot, keyPath, productName, uninstallCommand, webAddress, publisher)) {
        return machineRoot;
    }
    if (writeEntry(userRoot, keyPath, productName, uninstallCommand, webAddress, publisher)) {
        return userRoot;
    }
    return nullptr;
}

void registerUninstaller(bool perUser, const char* productName, const char* uninstallCommand,
                         const char* webAddress, const char* publisher)
{
    registerUninstallerUnder(perUser ? nullptr : HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, productName,
                             uninstallCommand, webAddress, publisher);
}
