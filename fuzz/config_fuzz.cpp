// libFuzzer target of the configuration parser: parses the input as a vmkick.cfg, checks
// that the tree is consistent, looks up the launcher's keys and keys built from the input
// and from the tree, removes a node from the middle of the tree, and frees it all.
#include "common/config.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// A broken promise of the parser: crash, so that libFuzzer keeps the input.
void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// Every link matches its counterpart, names are non-empty tokens, and the nesting bound
// holds (the root plus kConfigMaxDepth open blocks, whose items are one level deeper).
void checkTree(const ConfigNode* node, int level)
{
    require(level <= kConfigMaxDepth + 1);
    require(node->name != nullptr && node->name[0] != '\0');
    require(std::strlen(node->name) < static_cast<std::size_t>(kConfigTokenBufferSize));
    require((node->firstChild == nullptr) == (node->lastChild == nullptr));
    const ConfigNode* previous = nullptr;
    for (const ConfigNode* child = node->firstChild; child != nullptr; child = child->nextSibling) {
        require(child->parent == node && child->prevSibling == previous);
        checkTree(child, level + 1);
        previous = child;
    }
    require(node->lastChild == previous);
}

// A name that reads back as one bare segment of a dotted key.
bool isPlainSegment(const char* name)
{
    if (name[0] == '"' || name[0] == '\'') return false;
    return std::strpbrk(name, ". \t\n\v\f\r#") == nullptr;
}

// Follows first children down the tree, building the dotted key of each node on the way:
// the key must reach a node of the same name (the first of its name at every level,
// which need not be this one, as lookups never backtrack). Only the first levels: keys
// at every level of a deep tree would cost time quadratic in its depth.
void lookUpPathsOfFirstChildren(ConfigNode* root)
{
    const int levels = 16;
    std::string key;
    int level = 0;
    for (ConfigNode* node = root->firstChild; node != nullptr && level < levels;
         node = node->firstChild, ++level) {
        if (!isPlainSegment(node->name)) return;
        key += (key.empty() ? "" : ".") + std::string(node->name);
        ConfigNode* found = findConfigNode(root, key.c_str());
        require(found != nullptr && std::strcmp(found->name, node->name) == 0);
        const char* fallback = "default";
        const char* value = lookupConfig(root, key.c_str(), fallback);
        require(found->value != nullptr ? value == found->value : value == fallback);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The parser's positions are ints and its texts end at a NUL; a copy gives both.
    std::string text(reinterpret_cast<const char*>(data), size);
    ConfigNode* root = parseConfig(text.c_str());
    require(root != nullptr && std::strcmp(root->name, "root") == 0);
    checkTree(root, 0);

    const char* const launcherKeys[] = {
        "info.title", "info.archive", "info.vmargs", "info.jvm.version.major",
        "info.jvm.version.minor", "info.jvm.version.sub", "info.jvm.version.update",
        "info.jvm.classpath", "info.jvm.website"};
    for (const char* key : launcherKeys) lookupConfig(root, key, "default");

    // The input as a key, and each of its lines as a key.
    findConfigNode(root, text.c_str());
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lookupConfig(root, text.substr(start, end - start).c_str(), nullptr);
        start = end + 1;
    }
    lookUpPathsOfFirstChildren(root);

    // Remove a middle child, then release the rest.
    if (root->firstChild != nullptr && root->firstChild != root->lastChild) {
        freeConfig(root->firstChild->nextSibling);
        checkTree(root, 0);
    }
    freeConfig(root);
    return 0;
}
