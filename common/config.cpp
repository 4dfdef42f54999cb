// The configuration parser: a tokenizer over a NUL-terminated byte string, a recursive
// block parser that never reports a syntax error, dotted-key lookups and the release of
// the tree. Bytes are compared and copied as they are; no character set is assumed.
#include "common/config.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Every token lands here; callers copy what they keep before the next call.
char tokenBuffer[kConfigTokenBufferSize];

// Set when a node or string cannot be allocated during a parse; parseConfig then drops
// the partial tree, so a caller never works from half a file without knowing it.
bool allocationFailed = false;

const char* const fileDelimiters = "={}";
const char* const keyDelimiters = ".";

// Exactly the six ASCII white-space bytes: not isspace(), whose answer depends on the
// locale and may include bytes above 0x7F.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDelimiter(char c, const char* delimiters)
{
    // strchr would also find the terminating NUL of the set.
    return c != '\0' && delimiters != nullptr && std::strchr(delimiters, c) != nullptr;
}

void skipBlanksAndComments(const char* text, int& position)
{
    while (text[position] != '\0') {
        if (isBlank(text[position])) {
            ++position;
        } else if (text[position] == '#') {
            while (text[position] != '\0' && text[position] != '\n') ++position;
        } else {
            return;
        }
    }
}

// Bytes beyond the buffer's room are dropped, not refused: the caller still consumes the
// whole token, so a long token is cut and the parse stays in step with the text.
void storeTokenByte(int& length, char c)
{
    if (length < kConfigTokenBufferSize - 1) tokenBuffer[length++] = c;
}

// The byte an escape stands for, or 0 when the table does not list it.
char escapeTranslation(char c)
{
    switch (c) {
    case '"': return '"';
    case '\'': return '\'';
    case '\\': return '\\';
    case 'b': return 0x1A;  // 26, not the backspace 0x08: the format has always said so
    case 'e': return 0x1B;
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return 0;
    }
}

// From the opening quote up to the matching unescaped quote (consumed) or the end of the
// text (not consumed).
void readQuotedToken(const char* text, int& position, int& length)
{
    char quote = text[position++];
    while (text[position] != '\0' && text[position] != quote) {
        char c = text[position++];
        if (c != '\\') {
            storeTokenByte(length, c);
            continue;
        }
        char escaped = text[position];
        if (escaped == '\0') {
            // A backslash as the text's last byte escapes nothing: keep it, and leave the
            // position on the NUL rather than reading past the text.
            storeTokenByte(length, '\\');
            break;
        }
        ++position;
        char translated = escapeTranslation(escaped);
        if (translated != 0) {
            storeTokenByte(length, translated);
        } else {
            storeTokenByte(length, '\\');
            storeTokenByte(length, escaped);
        }
    }
    if (text[position] == quote) ++position;
}

void readWord(const char* text, int& position, const char* delimiters, int& length)
{
    while (text[position] != '\0' && !isBlank(text[position]) &&
           !isDelimiter(text[position], delimiters)) {
        storeTokenByte(length, text[position++]);
    }
}

char* copyText(const char* text)
{
    std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

// A node with every field absent but its name.
ConfigNode* newNode(const char* name)
{
    ConfigNode* node = static_cast<ConfigNode*>(std::calloc(1, sizeof(ConfigNode)));
    if (node == nullptr) return nullptr;
    node->name = copyText(name);
    if (node->name == nullptr) {
        std::free(node);
        return nullptr;
    }
    return node;
}

void appendChild(ConfigNode* parent, ConfigNode* child)
{
    child->parent = parent;
    child->prevSibling = parent->lastChild;
    if (parent->lastChild != nullptr) {
        parent->lastChild->nextSibling = child;
    } else {
        parent->firstChild = child;
    }
    parent->lastChild = child;
}

// Out of memory: stop the whole parse by moving to the end of the text, where every
// enclosing block returns at once.
void abandonParse(const char* text, int& position)
{
    allocationFailed = true;
    while (text[position] != '\0') ++position;
}

// depth is the number of blocks open around the items being read (0 for the top level).
void parseBlockAtDepth(ConfigNode* parent, const char* text, int& position, int depth)
{
    while (text[position] != '\0') {
        skipBlanksAndComments(text, position);
        if (text[position] == '\0' || text[position] == '}') return;

        // An "=" or "{" where a name belongs gives an empty name without moving the
        // position, so every enclosing block meets it here too and the parse ends.
        const char* name = nextConfigToken(text, position, fileDelimiters);
        if (name[0] == '\0') return;
        ConfigNode* node = newNode(name);
        if (node == nullptr) {
            abandonParse(text, position);
            return;
        }
        appendChild(parent, node);

        if (text[position] == '=') {
            ++position;
            node->value = copyText(nextConfigToken(text, position, fileDelimiters));
            if (node->value == nullptr) {
                abandonParse(text, position);
                return;
            }
        }
        if (text[position] == '{') {
            // Too deep: leave the brace where a name is expected, which ends the parse
            // in every enclosing block just as a stray "{" would.
            if (depth >= kConfigMaxDepth) return;
            ++position;
            parseBlockAtDepth(node, text, position, depth + 1);
            if (text[position] == '}') ++position;
        }
    }
}

// The node one segment of a key names among start's children: the first by byte-wise,
// case-sensitive comparison.
ConfigNode* findChild(ConfigNode* start, const char* name)
{
    for (ConfigNode* child = start->firstChild; child != nullptr; child = child->nextSibling) {
        if (std::strcmp(child->name, name) == 0) return child;
    }
    return nullptr;
}

// The whole file as one NUL-terminated text, or nullptr when it cannot be measured,
// allocated or read whole. Its length must also fit the parser's int positions.
char* readWholeFile(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0) return nullptr;
    long length = std::ftell(file);
    if (length <= 0 || length >= INT_MAX) return nullptr;
    if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (text == nullptr) return nullptr;
    if (std::fread(text, 1, static_cast<std::size_t>(length), file) != static_cast<std::size_t>(length)) {
        std::free(text);
        return nullptr;
    }
    text[length] = '\0';
    return text;
}

}  // namespace

const char* nextConfigToken(const char* text, int& position, const char* delimiters)
{
    int length = 0;
    skipBlanksAndComments(text, position);
    if (text[position] == '"' || text[position] == '\'') {
        readQuotedToken(text, position, length);
    } else {
        readWord(text, position, delimiters, length);
    }
    tokenBuffer[length] = '\0';
    skipBlanksAndComments(text, position);
    return tokenBuffer;
}

void parseConfigBlock(ConfigNode* parent, const char* text, int& position)
{
    parseBlockAtDepth(parent, text, position, 0);
}

ConfigNode* parseConfig(const char* text)
{
    ConfigNode* root = newNode("root");
    if (root == nullptr) return nullptr;
    allocationFailed = false;
    int position = 0;
    parseConfigBlock(root, text, position);
    if (allocationFailed) {
        freeConfig(root);
        return nullptr;
    }
    return root;
}

ConfigNode* loadConfig(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    char* text = readWholeFile(file);
    std::fclose(file);
    if (text == nullptr) return nullptr;
    ConfigNode* root = parseConfig(text);
    std::free(text);
    return root;
}

ConfigNode* findConfigNode(ConfigNode* start, const char* key)
{
    if (start == nullptr || key == nullptr) return nullptr;
    int position = 0;
    ConfigNode* node = findChild(start, nextConfigToken(key, position, keyDelimiters));
    while (node != nullptr && key[position] == '.') {
        ++position;
        node = findChild(node, nextConfigToken(key, position, keyDelimiters));
    }
    return node;
}

const char* lookupConfig(ConfigNode* start, const char* key, const char* defaultValue)
{
    ConfigNode* node = findConfigNode(start, key);
    if (node == nullptr || node->value == nullptr) return defaultValue;
    return node->value;
}

void freeConfig(ConfigNode* node)
{
    if (node == nullptr) return;
    ConfigNode* child = node->firstChild;
    while (child != nullptr) {
        ConfigNode* next = child->nextSibling;
        freeConfig(child);
        child = next;
    }
    if (node->parent != nullptr) {
        if (node->prevSibling != nullptr) {
            node->prevSibling->nextSibling = node->nextSibling;
        } else {
            node->parent->firstChild = node->nextSibling;
        }
        if (node->nextSibling != nullptr) {
            node->nextSibling->prevSibling = node->prevSibling;
        } else {
            node->parent->lastChild = node->prevSibling;
        }
    }
    std::free(node->name);
    std::free(node->value);
    std::free(node);
}
