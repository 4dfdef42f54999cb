// The packager's five steps done by the builder: the application folder put together
// from a jar, the launcher and the uninstaller, the launcher's configuration and the
// manifest written. `wickerbay-pack app` builds from what this writes, and `--emit`
// leaves it for the packager to edit, so both roads give the same installer.
#include <cstring>
#include <filesystem>

#include "common/package_format.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

// A value for the configuration syntax: quoted, with its backslashes and quotes escaped.
std::string quotedValue(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// "17" -> 17 0 0; "1.8" and "8" -> 1 8 0; "1.4.1" -> 1 4 1: the launcher's four fields.
bool parseJavaVersion(const std::string& text, std::string fields[3])
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '.') {
            parts.emplace_back();
        } else if (c >= '0' && c <= '9' && parts.back().size() < 4) {
            parts.back() += c;
        } else {
            return false;
        }
    }
    for (const std::string& p : parts) {
        if (p.empty()) return false;
    }
    if (parts.size() > 3) return false;
    // Releases before 9 are written 1.N, and a bare "8" means the same.
    if (parts.size() == 1 && std::stoi(parts[0]) < 9 && parts[0] != "1") parts.insert(parts.begin(), "1");
    for (int i = 0; i < 3; ++i) fields[i] = i < static_cast<int>(parts.size()) ? std::to_string(std::stoi(parts[i])) : "0";
    return true;
}

// The name becomes a folder and shortcut files on Windows.
bool checkFolderName(const std::string& option, const std::string& name, std::string& error)
{
    if (name.empty() || !wbformat::isSafeEntryName(name.data(), name.size()) || !windowsAcceptsName(name)) {
        error = option + " \"" + printableUtf8(name) + "\" cannot be a folder name on Windows: " + kUnsafeNameRule +
                "; " + kWindowsNameRule;
        return false;
    }
    return true;
}

bool copyInto(const fs::path& from, const fs::path& to, const std::string& option, bool folder, std::string& error)
{
    std::error_code ec;
    fs::file_status status = fs::status(from, ec);
    std::string shown = option + " " + printableUtf8(from.string());
    if (status.type() == fs::file_type::not_found) {
        error = shown + " does not exist";
        return false;
    }
    if (folder != (status.type() == fs::file_type::directory)) {
        error = shown + (folder ? " is not a folder" : " is a folder, not a file");
        return false;
    }
    if (folder)
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    else
        fs::copy_file(from, to, ec);
    if (ec) {
        error = shown + ": cannot copy it to " + printableUtf8(to.string()) + ": " + ec.message();
        return false;
    }
    return true;
}

bool writeText(const fs::path& path, const std::string& text, std::string& error)
{
    FILE* f = std::fopen(path.string().c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) error = printableUtf8(path.string()) + ": cannot write: " + std::strerror(errno);
    return ok;
}

std::string shortcut(const std::string& link, const std::string& target, const std::string& workingDir,
                     const std::string& description)
{
    return "\tshortcut { link = " + quotedValue(link) + "\n\t           target = " + quotedValue(target) +
           "\n\t           workingDir = " + quotedValue(workingDir) + "  description = " + quotedValue(description) +
           " }\n";
}

}  // namespace

bool emitApp(const AppSpec& app, const std::string& dir, std::vector<std::string>& summary, std::string& error)
{
    if (!checkFolderName("--name", app.name, error)) return false;
    if (!app.publisher.empty() && !checkFolderName("--publisher", app.publisher, error)) return false;
    std::string jarName = fs::path(app.jar).filename().string();

    // The oldest Java: given, or the newest class file's.
    std::string java = app.java;
    if (java.empty()) {
        JarFacts facts;
        if (!readJarFacts(app.jar, facts, error)) return false;
        if (!facts.hasMainClass) {
            error = app.jar + ": its manifest names no Main-Class, which java -jar needs to start it";
            return false;
        }
        java = javaVersionOfClassMajor(facts.classMajor);
        summary.push_back("Java " + java + " or newer (class file version " + std::to_string(facts.classMajor) + ", " +
                          printableUtf8(facts.newestClass) + ")");
    } else {
        summary.push_back("Java " + java + " or newer (--java)");
    }
    std::string version[3];
    if (!parseJavaVersion(java, version)) {
        error = "--java \"" + printableUtf8(java) + "\" is not a Java version such as 8, 1.8 or 17";
        return false;
    }

    std::error_code ec;
    fs::path root(dir);
    if (fs::exists(root, ec) && (!fs::is_directory(root, ec) || !fs::is_empty(root, ec))) {
        error = dir + ": not an empty folder; the application folder is written only into an empty or new one";
        return false;
    }
    fs::path appDir = root / "app";
    if (!fs::create_directories(appDir, ec)) {
        error = printableUtf8(appDir.string()) + ": cannot create the folder: " + ec.message();
        return false;
    }

    // The application folder: everything in it is installed as it stands.
    if (!copyInto(app.jar, appDir / jarName, "--jar", false, error)) return false;
    for (const char* program : {"vmkick.exe", wbformat::kUninstallerName}) {
        if (!copyInto(fs::path(app.programsDir) / program, appDir / program, program, false, error)) return false;
    }
    if (!app.runtime.empty() && !copyInto(app.runtime, appDir / "runtime", "--runtime", true, error)) return false;
    if (!app.resources.empty()) {
        fs::path resources(app.resources);
        std::string name = (resources.has_filename() ? resources : resources.parent_path()).filename().string();
        if (fs::exists(appDir / name, ec)) {
            error = "--resources " + printableUtf8(app.resources) + ": its name \"" + printableUtf8(name) +
                    "\" is taken in the application folder";
            return false;
        }
        if (!copyInto(resources, appDir / name, "--resources", true, error)) return false;
    }

    std::string cfg = "#\n# vmkick configuration of " + app.name + ", written by wickerbay-pack app\n#\n\ninfo {\n" +
                      "\ttitle = " + quotedValue(app.name) + "\n\tarchive = " + quotedValue(jarName) + "\n\tjvm {\n" +
                      "\t\tversion { major = \"" + version[0] + "\" minor = \"" + version[1] + "\" sub = \"" +
                      version[2] + "\" update = \"0\" }\n" + (app.runtime.empty() ? "" : "\t\tpath = \"runtime\"\n") +
                      "\t\twebsite = \"https://www.java.com/download/\"\n\t}\n}\n";
    if (!writeText(appDir / "vmkick.cfg", cfg, error)) return false;

    std::string licenceName;
    if (!app.licence.empty()) {
        licenceName = fs::path(app.licence).filename().string();
        if (licenceName == "app" || licenceName == "package.cfg") licenceName = "LICENCE-" + licenceName;
        if (!copyInto(app.licence, root / licenceName, "--licence", false, error)) return false;
    }

    // The manifest, as the README's walk-through writes it by hand.
    const std::string installDir = (app.perUser ? "$L\\Programs\\" : "C:\\Program Files\\") + app.name;
    const std::string launcher = installDir + "\\vmkick.exe";
    const std::string menu = "$P\\" + (app.publisher.empty() ? "" : app.publisher + "\\") + app.name;
    std::string product = app.version.empty() ? app.name : app.name + " " + app.version;
    std::string m = "# Written by wickerbay-pack app. Edit it, then: wickerbay-pack build package.cfg\npackage {\n";
    m += "\tproduct    = " + quotedValue(product) + "\n";
    m += "\tinstallDir = " + quotedValue(installDir) + "\n";
    m += "\trun        = " + quotedValue("\"" + launcher + "\"") + "\n";
    if (!app.website.empty()) m += "\twebsite    = " + quotedValue(app.website) + "\n";
    if (!app.publisher.empty()) m += "\tpublisher  = " + quotedValue(app.publisher) + "\n";
    if (!licenceName.empty()) m += "\tlicence    = " + quotedValue(licenceName) + "\n";
    m += "\tsource     = \"app\"\n\n";
    m += shortcut("$D\\" + app.name + ".lnk", launcher, installDir, "Start " + app.name);
    if (!app.website.empty()) m += shortcut("$D\\" + app.name + " on the Web.lnk", app.website, "", "");
    m += shortcut(menu + "\\" + app.name + ".lnk", launcher, installDir, "Start " + app.name);
    m += shortcut(menu + "\\Uninstall " + app.name + ".lnk", installDir + "\\" + wbformat::kUninstallerName, installDir,
                  "Remove " + app.name);
    if (!app.website.empty()) m += shortcut(menu + "\\" + app.name + " on the Web.lnk", app.website, "", "");
    m += "}\n";
    if (!writeText(root / "package.cfg", m, error)) return false;
    summary.push_back("installs into " + installDir + ", shortcuts on the desktop and in " + menu.substr(3));
    return true;
}

}  // namespace wbpack
