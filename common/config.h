// The launcher's configuration file (vmkick.cfg): a lenient block language of named
// items with optional quoted or bare values and nested blocks, parsed into a tree of
// config nodes and read through dotted keys such as "info.jvm.version.major".
//
// Plain C++ without Windows headers: it builds on the host (tests, fuzzing) and for
// Windows (the launcher). Not reentrant: every tokenizer call, whether made by the
// parser or by a lookup, overwrites one static token buffer.
#pragma once

// The tokenizer's static buffer; a longer token is cut at kConfigTokenBufferSize - 1
// bytes, and the rest of it is still consumed so that the parse stays in step.
constexpr int kConfigTokenBufferSize = 16384;

// At most this many blocks are open at once; an opening brace that would open one more
// ends the parse there, as a stray closing brace does, so that no file can exhaust the
// stack.
constexpr int kConfigMaxDepth = 256;

// One item of the file, or the root. The tree owns every node, name and value.
struct ConfigNode {
    char* name;               // never empty; the root's is "root"
    char* value;              // a copy of the value token, possibly ""; nullptr: no "="
    ConfigNode* parent;       // nullptr for the root
    ConfigNode* firstChild;   // children in file order; both nullptr or both set
    ConfigNode* lastChild;
    ConfigNode* prevSibling;
    ConfigNode* nextSibling;
};

// Reads and parses a file (binary, line ends untranslated; the text ends at its first NUL
// byte). Returns the root, owned by the caller, or nullptr when the file cannot be opened,
// is empty, cannot be measured or read whole, or memory runs out.
ConfigNode* loadConfig(const char* path);

// Parses a NUL-terminated text. Never fails on syntax: what does not fit the grammar ends
// the parse, and what was read before stays in the tree. Returns the root, owned by the
// caller; nullptr only when memory runs out.
ConfigNode* parseConfig(const char* text);

// The first node that the dotted key reaches below start (start's own name is never
// matched), borrowed from the tree; nullptr when none. When siblings share a name, only
// the first of them is searched for the following segments.
ConfigNode* findConfigNode(ConfigNode* start, const char* key);

// The value of the node that the dotted key reaches, borrowed from the tree and valid
// until it is freed; defaultValue itself when no node is reached or the node has no value.
const char* lookupConfig(ConfigNode* start, const char* key, const char* defaultValue);

// Destroys a node and its subtree, first unlinking it from its parent, so that a node in
// the middle of a tree can be removed. Freeing the root releases everything.
void freeConfig(ConfigNode* node);

// Internal, declared here for the tests.

// Appends the items of one block, starting at position, to parent's children and leaves
// position on the byte that ended the block (a closing brace, which is not consumed, the
// end of the text, or the byte where the parse stopped).
void parseConfigBlock(ConfigNode* parent, const char* text, int& position);

// Reads one token (quoted, or a word ended by white space or a byte of delimiters),
// skipping white space and comments before and after it. Returns the static token buffer.
const char* nextConfigToken(const char* text, int& position, const char* delimiters);
