// The manifest's syntax, checked strictly before the launcher's parser reads it. That
// parser never fails: a stray "}" or "=" ends its parse in silence and drops everything
// after it, and a missing "}" or quote is supplied by the end of the text. For vmkick.cfg
// that leniency is the launcher's contract; for a manifest it would build an installer
// without the settings the packager wrote. So the text must parse to its end, and the
// first place where it does not is refused with its line and column.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/config.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

struct Cursor {
    const std::string& text;
    std::size_t at = 0;
};

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips what the launcher's parser skips between tokens: white space and # comments.
void skipBlanks(Cursor& c)
{
    while (c.at < c.text.size()) {
        if (isBlankByte(c.text[c.at])) {
            ++c.at;
        } else if (c.text[c.at] == '#') {
            while (c.at < c.text.size() && c.text[c.at] != '\n') ++c.at;
        } else {
            return;
        }
    }
}

// What stands at the cursor, for "found ...".
std::string found(const Cursor& c)
{
    if (c.at >= c.text.size()) return "the end of the file";
    char b = c.text[c.at];
    return "\"" + printable(std::string(1, b)) + "\"";
}

struct Token {
    std::size_t start = 0;
    bool quoted = false;
    std::string text;   // as written, quotes and escapes included: for messages only
};

// Reads a token the way the launcher's tokenizer does; false when a quoted one is not
// closed before the end of the text.
bool readToken(Cursor& c, Token& token)
{
    token.start = c.at;
    char first = c.text[c.at];
    token.quoted = first == '"' || first == '\'';
    if (token.quoted) {
        ++c.at;
        while (c.at < c.text.size() && c.text[c.at] != first) {
            if (c.text[c.at] == '\\' && c.at + 1 < c.text.size()) ++c.at;
            ++c.at;
        }
        if (c.at >= c.text.size()) {
            token.text = c.text.substr(token.start);
            return false;
        }
        ++c.at;
    } else {
        while (c.at < c.text.size() && !isBlankByte(c.text[c.at]) && std::strchr("={}", c.text[c.at]) == nullptr)
            ++c.at;
    }
    token.text = c.text.substr(token.start, c.at - token.start);
    return true;
}

// The key's name as the parser will store it: the quotes of a quoted name dropped.
std::string keyName(const Token& token)
{
    return token.quoted ? token.text.substr(1, token.text.size() - 2) : token.text;
}

struct OpenBlock {
    std::string name;
    std::size_t start;
};

}  // namespace

std::string textPosition(const std::string& text, std::size_t at)
{
    // Columns count characters, not bytes, so that a name in UTF-8 before the mistake
    // does not push the column off what an editor shows.
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < at && i < text.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == '\n') {
            ++line;
            column = 1;
        } else if ((b & 0xC0) != 0x80) {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

bool checkManifestSyntax(const std::string& text, const std::string& label, std::string& error)
{
    Cursor c{text};
    auto refuse = [&](std::size_t at, const std::string& what) {
        error = label + ":" + textPosition(text, at) + ": " + what;
        return false;
    };
    std::size_t zero = text.find('\0');
    if (zero != std::string::npos) return refuse(zero, "a zero byte; a manifest is a text file");
    std::vector<OpenBlock> open;
    for (;;) {
        skipBlanks(c);
        if (c.at >= text.size()) {
            if (open.empty()) return true;
            return refuse(c.at, "expected \"}\" to close the block \"" + printable(open.back().name) + "\" opened at " +
                                    textPosition(text, open.back().start) + ", found the end of the file");
        }
        char b = text[c.at];
        if (b == '}') {
            if (open.empty()) return refuse(c.at, "found \"}\" where no block is open");
            open.pop_back();
            ++c.at;
            continue;
        }
        if (b == '=' || b == '{')
            return refuse(c.at, "expected a key name, found " + found(c));
        Token name;
        if (!readToken(c, name))
        {
            // Shown up to the end of its line: the rest of the file is what it swallowed.
            std::string shown = name.text.substr(0, std::min(name.text.find('\n'), std::size_t(24)));
            return refuse(name.start, "the quoted text " + printableUtf8(shown) +
                                          (shown.size() < name.text.size() ? "..." : "") + " is not closed");
        }
        if (keyName(name).empty()) return refuse(name.start, "expected a key name, found an empty quoted text");
        skipBlanks(c);
        if (c.at < text.size() && text[c.at] == '=') {
            ++c.at;
            skipBlanks(c);
            if (c.at >= text.size() || std::strchr("={}", text[c.at]) != nullptr)
                return refuse(c.at, "expected a value for " + printable(keyName(name)) + " after \"=\", found " +
                                        found(c));
            Token value;
            if (!readToken(c, value))
                return refuse(value.start, "the quoted value of " + printable(keyName(name)) + " is not closed");
            skipBlanks(c);
        }
        if (c.at < text.size() && text[c.at] == '{') {
            // The launcher's parser stops at this depth; nothing legitimate comes near it.
            if (open.size() + 1 >= static_cast<std::size_t>(kConfigMaxDepth))
                return refuse(c.at, "blocks nested too deep");
            open.push_back({keyName(name), name.start});
            ++c.at;
        }
    }
}

bool readTextFile(const std::string& path, const std::string& label, std::size_t most, std::string& text,
                  std::string& error)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        error = label + " does not exist";
        return false;
    }
    if (status.type() == fs::file_type::directory) {
        error = label + " is a folder, not a text file";
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = label + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    text.clear();
    char buffer[65536];
    std::size_t got;
    while (text.size() <= most && (got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    bool readFailed = std::ferror(f) != 0;
    int readErrno = errno;
    std::fclose(f);
    if (readFailed) {
        error = label + " cannot be read: " + std::strerror(readErrno);
        return false;
    }
    // Editors on Windows start UTF-8 files with a byte-order mark; it is no part of the text.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return true;
}

}  // namespace wbpack
