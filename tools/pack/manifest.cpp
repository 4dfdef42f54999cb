// Reading a manifest into a package: the launcher's own configuration parser gives the
// tree; this file checks its keys and gathers the licence text and the source folder.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/config.h"
#include "common/package_format.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

struct ManifestKey {
    const char* name;
    std::string* value;
    bool required;
    bool seen;
};

std::string hex2(unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

// Reads the plain `key = "value"` items of one block into the given fields. Siblings
// are walked directly: the parser's lookup would stop at the first of several
// `shortcut` blocks.
bool readKeys(ConfigNode* block, const std::string& where, std::vector<ManifestKey>& keys,
              const std::string& manifestPath, std::string& error)
{
    std::string known;
    for (const ManifestKey& k : keys) known += std::string(known.empty() ? "" : ", ") + k.name;
    for (ConfigNode* n = block->firstChild; n; n = n->nextSibling) {
        if (where == "package" && std::strcmp(n->name, "shortcut") == 0) continue;
        ManifestKey* key = nullptr;
        for (ManifestKey& k : keys) {
            if (std::strcmp(n->name, k.name) == 0) key = &k;
        }
        std::string shown = manifestPath + ": " + where + ": ";
        if (!key) {
            error = shown + "unknown key \"" + printable(n->name) + "\" (known: " + known +
                    (where == "package" ? ", shortcut)" : ")");
            return false;
        }
        if (key->seen) {
            error = shown + key->name + " is given twice";
            return false;
        }
        if (!n->value || n->firstChild) {
            error = shown + key->name + " needs a value: " + key->name + " = \"...\"";
            return false;
        }
        key->seen = true;
        *key->value = n->value;
        // The parser cuts longer tokens at its buffer's size without telling; a value
        // that fills the buffer may have lost its end.
        if (key->value->size() >= static_cast<std::size_t>(kConfigTokenBufferSize - 1)) {
            error = shown + key->name + " is " + std::to_string(kConfigTokenBufferSize - 1) +
                    " bytes or longer; a manifest value holds at most " +
                    std::to_string(kConfigTokenBufferSize - 2);
            return false;
        }
        std::size_t bad = findControlCharacter(*key->value);
        if (bad != std::string::npos) {
            error = shown + key->name + " holds the control character " +
                    hex2(static_cast<unsigned char>((*key->value)[bad])) + " at byte " + std::to_string(bad + 1) +
                    ": in quoted values \\t \\n \\r \\b and \\e are escapes, so write \\\\ for a backslash";
            return false;
        }
    }
    for (const ManifestKey& k : keys) {
        if (k.required && !k.seen) {
            error = manifestPath + ": " + where + ": " + k.name + " is missing";
            return false;
        }
    }
    return true;
}

fs::path besideManifest(const std::string& manifestPath, const std::string& relative)
{
    fs::path p(relative);
    if (p.is_absolute()) return p;
    fs::path dir = fs::path(manifestPath).parent_path();
    return dir.empty() ? p : dir / p;
}

bool readLicence(const fs::path& path, const std::string& label, std::string& text, std::string& error)
{
    // Read a little beyond what could fit even in UTF-8's longest form, to know it is too
    // long; the exact limit applies once the text is in the package's code page.
    const std::size_t most = 4 * wbformat::kMaxCountedString;
    std::string raw;
    if (!readTextFile(path.string(), label, most, raw, error)) return false;
    text = toCrLf(raw);
    if (raw.size() > most) {
        error = label + ": the licence text is over " + std::to_string(raw.size()) +
                " bytes; a package string holds at most 65535";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = label + ": the licence text holds a zero byte; is it a plain text file?";
        return false;
    }
    return true;
}

// The folder to install must be one; collectSourceTree's own messages name only paths.
bool checkSourceFolder(const std::string& path, const std::string& label, std::string& error)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::directory) return true;
    if (status.type() == fs::file_type::not_found)
        error = label + " does not exist";
    else if (ec)
        error = label + " cannot be read: " + ec.message();
    else
        error = label + " is not a folder";
    return false;
}

// The manifest's code page: a Windows ANSI code page this system can convert to.
bool readCodePage(const std::string& text, const std::string& manifestPath, std::uint32_t& codePage,
                  std::string& error)
{
    if (text.empty()) return true;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || text[0] < '0' || text[0] > '9' || value > 0xFFFFu || !isAnsiCodePage(value)) {
        error = manifestPath + ": package: codepage \"" + printable(text) +
                "\" is not a Windows ANSI code page this system converts to (874, 932, 936, 949, 950, 1250-1258)";
        return false;
    }
    codePage = static_cast<std::uint32_t>(value);
    return true;
}

bool readShortcut(ConfigNode* block, int number, const std::string& manifestPath, ShortcutSpec& s,
                  std::string& error)
{
    std::vector<ManifestKey> keys = {
        {"link", &s.linkPath, true, false},     {"target", &s.target, true, false},
        {"workingDir", &s.workingDir, false, false}, {"arguments", &s.arguments, false, false},
        {"description", &s.description, false, false},
    };
    return readKeys(block, "package: shortcut " + std::to_string(number), keys, manifestPath, error);
}

}  // namespace

std::string toCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

bool loadPackageSpec(const std::string& manifestPath, PackageSpec& package, std::string& error)
{
    // Far beyond any real manifest; the parser's positions are ints.
    const std::size_t most = 16u << 20;
    std::string text;
    if (!readTextFile(manifestPath, manifestPath + ": the manifest", most, text, error)) return false;
    if (text.size() > most) {
        error = manifestPath + ": the manifest is over 16 MiB; is it the right file?";
        return false;
    }
    if (!checkManifestSyntax(text, manifestPath, error)) return false;
    ConfigNode* root = parseConfig(text.c_str());
    if (!root) {
        error = manifestPath + ": out of memory while reading the manifest";
        return false;
    }
    ConfigNode* packageBlock = nullptr;
    bool ok = true;
    for (ConfigNode* n = root->firstChild; n && ok; n = n->nextSibling) {
        if (std::strcmp(n->name, "package") != 0 || packageBlock) {
            error = manifestPath + ": unexpected top-level item \"" + printable(n->name) +
                    "\": a manifest holds one package block";
            ok = false;
        }
        packageBlock = n;
    }
    if (ok && !packageBlock) {
        error = manifestPath + ": no package block";
        ok = false;
    }

    std::string licence, source, codePage;
    PackageHeader& h = package.header;
    std::vector<ManifestKey> keys = {
        {"product", &h.productName, true, false}, {"installDir", &h.installDir, true, false},
        {"run", &h.runCommand, false, false},     {"website", &h.webAddress, false, false},
        {"publisher", &h.publisher, false, false}, {"licence", &licence, false, false},
        {"source", &source, true, false},         {"codepage", &codePage, false, false},
    };
    if (ok) ok = readKeys(packageBlock, "package", keys, manifestPath, error);
    for (ConfigNode* n = ok ? packageBlock->firstChild : nullptr; n && ok; n = n->nextSibling) {
        if (std::strcmp(n->name, "shortcut") != 0) continue;
        package.shortcuts.emplace_back();
        ok = readShortcut(n, static_cast<int>(package.shortcuts.size()), manifestPath, package.shortcuts.back(), error);
    }
    freeConfig(root);
    if (!ok) return false;

    if (h.installDir.empty()) {
        error = manifestPath + ": package: installDir is empty";
        return false;
    }
    package.codePage = wbformat::kDefaultCodePage;
    if (!readCodePage(codePage, manifestPath, package.codePage, error)) return false;
    TextLabels labels;
    labels.fields = manifestPath + ": package: ";
    labels.sourceDir = besideManifest(manifestPath, source).string();
    if (!licence.empty()) {
        fs::path licencePath = besideManifest(manifestPath, licence);
        labels.licence = licencePath.string() + ": the licence text";
        std::string label = manifestPath + ": package: licence \"" + printableUtf8(licence) + "\": " +
                            printableUtf8(licencePath.string());
        if (!readLicence(licencePath, label, h.licenceText, error)) return false;
    }
    std::string sourceLabel = manifestPath + ": package: source \"" + printableUtf8(source) + "\": " +
                              printableUtf8(labels.sourceDir);
    if (!checkSourceFolder(labels.sourceDir, sourceLabel, error)) return false;
    if (!collectSourceTree(labels.sourceDir, package.entries, error)) return false;
    // Everything is converted before the format's limits are checked, so that they hold
    // for the bytes the installer will get.
    if (!encodePackageSpec(package, labels, error)) return false;
    if (h.licenceText.size() > wbformat::kMaxCountedString) {
        error = labels.licence + " is " + std::to_string(h.licenceText.size()) + " bytes in code page " +
                std::to_string(package.codePage) + " with CR LF line ends; a package string holds at most 65535";
        return false;
    }
    return true;
}

}  // namespace wbpack
