// Unit tests of the uninstall registration under Wine: the installer's entry (its values
// and their types, the fall-back to the user's list, no entry for an empty name) and the
// uninstaller's side (finding only the entries that start it, deleting one). Scratch roots
// below HKEY_CURRENT_USER\Software\WickerbayUninstallTest stand in for the machine's and
// the user's lists; the real HKLM list is used once and restored.
#include "common/registration_key.h"
#include "installer/uninstall_registration.h"
#include "tests/support/uninstall_fixtures.h"
#include "uninstaller/registration_lookup.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace {

const char kScratch[] = "Software\\WickerbayUninstallTest";

using Value = uns::RegValue;
using uns::numberValue;
using uns::registryKeyExists;
using uns::registryValues;
using uns::textValue;

std::vector<std::string> subkeysOf(HKEY root, const std::string& path)
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void setText(HKEY root, const std::string& path, const char* name, const std::string& value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Two scratch roots, a "machine" and a "user" one, and a volatile key: Windows refuses to
// create a lasting key below a volatile one, which makes a root that cannot take an entry,
// as the machine's list is for a user without administrator rights.
class Registration : public ::testing::Test {
protected:
    HKEY machine = nullptr;
    HKEY user = nullptr;
    HKEY refusing = nullptr;

    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(createKey(std::string(kScratch) + "\\Machine", 0, machine), ERROR_SUCCESS);
        ASSERT_EQ(createKey(std::string(kScratch) + "\\User", 0, user), ERROR_SUCCESS);
        ASSERT_EQ(createKey(std::string(kScratch) + "\\Refusing", REG_OPTION_VOLATILE, refusing), ERROR_SUCCESS);
    }

    void TearDown() override
    {
        for (HKEY key : {machine, user, refusing}) {
            if (key) RegCloseKey(key);
        }
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    }

    static LONG createKey(const std::string& path, DWORD options, HKEY& key)
    {
        return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
    }
};

const std::map<std::string, Value> kHelloValues = {
    {"DisplayName", textValue("Hello World")},
    {"UninstallString", textValue("\"C:\\Program Files\\Hello World\\__uninst.exe\"")},
    {"URLUpdateInfo", textValue("https://hello.example/")},
    {"URLInfoAbout", textValue("https://hello.example/")},
    {"Publisher", textValue("Orvan & Sons")},
    {"NoModify", numberValue(1)},
    {"NoRepair", numberValue(1)}};

HKEY registerHello(HKEY first, HKEY second)
{
    return registerUninstallerUnder(first, second, "Hello World",
                                    "\"C:\\Program Files\\Hello World\\__uninst.exe\"",
                                    "https://hello.example/", "Orvan & Sons");
}

TEST_F(Registration, TheEntryHoldsExactlyItsSevenValuesWithTheirTypes)
{
    EXPECT_EQ(registerHello(machine, user), machine);
    EXPECT_EQ(registryValues(machine, uninstallKeyPath("Hello_World")), kHelloValues);
    EXPECT_EQ(subkeysOf(machine, kUninstallKeyPath), std::vector<std::string>{"Hello_World"});
    EXPECT_FALSE(registryKeyExists(user, kUninstallKeyPath)) << "the user's list is only the fall-back";
}

TEST_F(Registration, AnEntryTheMachineRefusesGoesToTheUsersList)
{
    EXPECT_EQ(registerHello(refusing, user), user);
    EXPECT_EQ(registryValues(user, uninstallKeyPath("Hello_World")), kHelloValues);
    EXPECT_TRUE(subkeysOf(refusing, "").empty());
}

TEST_F(Registration, APerUserInstallationGoesToTheUsersListOnly)
{
    EXPECT_EQ(registerHello(nullptr, user), user);
    EXPECT_EQ(registryValues(user, uninstallKeyPath("Hello_World")), kHelloValues);
    EXPECT_FALSE(registryKeyExists(machine, kUninstallKeyPath));
}

TEST_F(Registration, AnEntryNobodyTakesIsSimplyAbsent)
{
    EXPECT_EQ(registerHello(refusing, refusing), nullptr);
    EXPECT_TRUE(subkeysOf(refusing, "").empty());
}

TEST_F(Registration, AnEmptyProductNameRegistersNothing)
{
    // The key name would be empty, and the values would land on the list's own key.
    EXPECT_EQ(registerUninstallerUnder(machine, user, "", "\"C:\\P\\__uninst.exe\"", "w", "p"), nullptr);
    EXPECT_FALSE(registryKeyExists(machine, kUninstallKeyPath));
    EXPECT_FALSE(registryKeyExists(user, kUninstallKeyPath));
}

TEST_F(Registration, InstallingAgainReplacesTheValues)
{
    ASSERT_EQ(registerHello(machine, user), machine);
    EXPECT_EQ(registerUninstallerUnder(machine, user, "Hello World", "\"D:\\H\\__uninst.exe\"", "", ""), machine);
    std::map<std::string, Value> expected = {
        {"DisplayName", textValue("Hello World")}, {"UninstallString", textValue("\"D:\\H\\__uninst.exe\"")},
        {"URLUpdateInfo", textValue("")},          {"URLInfoAbout", textValue("")},
        {"Publisher", textValue("")},              {"NoModify", numberValue(1)},
        {"NoRepair", numberValue(1)}};
    EXPECT_EQ(registryValues(machine, uninstallKeyPath("Hello_World")), expected);
}

TEST(RegistrationMachineList, TheRealEntryGoesBelowTheMachinesListUnderItsReplacedName)
{
    const std::string product = "W/b\\t*e?s&t~!@#$:;%^() `x";
    const std::string keyName = "W_b_t_e_s_t" + std::string(13, '_') + "x";
    ASSERT_EQ(uninstallKeyName(product), keyName);
    const std::string path = uninstallKeyPath(keyName);
    ASSERT_FALSE(registryKeyExists(HKEY_LOCAL_MACHINE, path)) << "left over from an earlier run";
    registerUninstaller(false, product.c_str(), "\"C:\\wbtest\\x\\__uninst.exe\"", "web", "pub");
    std::map<std::string, Value> values = registryValues(HKEY_LOCAL_MACHINE, path);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 7u);
    EXPECT_EQ(values["DisplayName"], textValue(product));
    EXPECT_EQ(values["UninstallString"], textValue("\"C:\\wbtest\\x\\__uninst.exe\""));
    EXPECT_EQ(values["NoRepair"], numberValue(1));
}

// ---- The uninstaller's side ------------------------------------------------------------

TEST_F(Registration, OnlyEntriesThatStartThisUninstallerAreFoundInRootOrder)
{
    const std::string exe = "C:\\Program Files\\Hello World\\__uninst.exe";
    ASSERT_EQ(registerHello(machine, user), machine);
    // Same product name, another copy of the program: not ours to touch.
    setText(user, uninstallKeyPath("Hello_World"), "DisplayName", "Hello World");
    setText(user, uninstallKeyPath("Hello_World"), "UninstallString", "\"D:\\Hello World\\__uninst.exe\"");
    // Another name, but it starts us (an older install of the product under its old name).
    setText(user, uninstallKeyPath("Old Hello"), "DisplayName", "Old Hello");
    setText(user, uninstallKeyPath("Old Hello"), "UninstallString", "c:\\program files\\hello world\\__UNINST.EXE");
    setText(user, uninstallKeyPath("No command"), "DisplayName", "No command");

    std::vector<UninstallEntry> found = findUninstallEntries({machine, user}, exe);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].root, machine);
    EXPECT_EQ(found[0].keyName, "Hello_World");
    EXPECT_EQ(found[0].displayName, "Hello World");
    EXPECT_EQ(found[1].root, user);
    EXPECT_EQ(found[1].keyName, "Old Hello");
    EXPECT_EQ(found[1].displayName, "Old Hello");

    EXPECT_TRUE(deleteUninstallEntry(found[1]));
    EXPECT_TRUE(deleteUninstallEntry(found[1])) << "an entry already gone is not a failure";
    EXPECT_EQ(subkeysOf(user, kUninstallKeyPath), (std::vector<std::string>{"Hello_World", "No command"}));
    EXPECT_EQ(registryValues(machine, uninstallKeyPath("Hello_World")), kHelloValues);
    EXPECT_TRUE(findUninstallEntries({user}, "C:\\Elsewhere\\__uninst.exe").empty());
}

}  // namespace
