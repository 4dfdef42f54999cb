#include "common/registration_key.h"

#include <cstring>

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string uninstallKeyName(const std::string& productName)
{
    // The characters that a registry key name, a file name or a command line would
    // misread; the backslash above all, which would open a subkey.
    static const char kReplaced[] = "/\\*?&~!@#$:;%^() `";
    std::string name = productName;
    for (char& c : name) {
        if (c != '\0' && std::strchr(kReplaced, c) != nullptr) c = '_';
    }
    return name;
}

std::string uninstallKeyPath(const std::string& keyName)
{
    return std::string(kUninstallKeyPath) + "\\" + keyName;
}

bool namesUninstaller(const std::string& uninstallString, const std::string& exePath)
{
    std::string command = uninstallString;
    while (!command.empty() && (command.back() == ' ' || command.back() == '\t')) command.pop_back();
    std::size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos || exePath.empty()) return false;
    command.erase(0, start);
    if (command.size() >= 2 && command.front() == '"' && command.back() == '"') {
        command = command.substr(1, command.size() - 2);
    }
    if (command.size() != exePath.size()) return false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (lowerAscii(command[i]) != lowerAscii(exePath[i])) return false;
    }
    return true;
}
