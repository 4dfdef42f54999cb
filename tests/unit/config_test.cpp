// Unit tests of the configuration parser (common/config): tokenizer and escapes, grammar
// shapes and early endings, lookups, loading files, freeing, and the behaviours that the
// description leaves to us (long tokens, a trailing backslash, nesting depth, files that
// cannot be read whole). Trees are compared through a one-line rendering.
#include "common/config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// name, ="value" when present, {children} when any: exact bytes, file order. Checks every
// link on the way, so each rendered tree is also a consistent one.
std::string render(const ConfigNode* node)
{
    std::string out = node->name;
    if (node->value != nullptr) out += std::string("=\"") + node->value + "\"";
    EXPECT_EQ(node->firstChild == nullptr, node->lastChild == nullptr) << node->name;
    if (node->firstChild == nullptr) return out;
    out += "{";
    const ConfigNode* previous = nullptr;
    for (const ConfigNode* child = node->firstChild; child != nullptr; child = child->nextSibling) {
        EXPECT_EQ(child->parent, node);
        EXPECT_EQ(child->prevSibling, previous);
        out += (previous != nullptr ? " " : "") + render(child);
        previous = child;
    }
    EXPECT_EQ(node->lastChild, previous);
    return out + "}";
}

std::string parsed(const std::string& text)
{
    ConfigNode* root = parseConfig(text.c_str());
    std::string out = render(root);
    freeConfig(root);
    return out;
}

struct Token {
    std::string text;
    int position;
};

Token token(const std::string& text, const char* delimiters = "={}", int position = 0)
{
    std::string value = nextConfigToken(text.c_str(), position, delimiters);
    return {value, position};
}

// A file in the current directory (inside the build tree), removed afterwards. The
// suffix keeps parallel runs of the test program apart. paddingBlocks appends blocks of
// 64 KiB of blanks without holding them in memory at once.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& bytes, int paddingBlocks = 0)
    {
        static int counter = 0;
        path = "config_test_" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
               "_" + std::to_string(++counter) + ".cfg";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr) << path;
        if (file == nullptr) return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        const std::string blanks(64 * 1024, ' ');
        for (int i = 0; i < paddingBlocks; ++i) std::fwrite(blanks.data(), 1, blanks.size(), file);
        std::fclose(file);
    }
    ~TempFile() { std::remove(path.c_str()); }
};

std::string loaded(const std::string& bytes, int paddingBlocks = 0)
{
    TempFile file(bytes, paddingBlocks);
    ConfigNode* root = loadConfig(file.path.c_str());
    std::string out = root != nullptr ? render(root) : "(absent)";
    freeConfig(root);
    return out;
}

// The file the installer ships, as the description gives it.
const char* const shippedFile =
    "#\n# Orvanstead VMKicker version 1.0 - configuration file\n#\n\n"
    "info {\n"
    "\ttitle = \"Hello\"\n"
    "\tarchive = \"hello.jar\"\n"
    "\tjvm {\n"
    "\t\tversion { major = \"1\" minor = \"4\" sub = \"1\" update = \"0\" }\n"
    "\t\twebsite = \"http://java.com/\"\n"
    "\t}\n"
    "}\n";
const char* const shippedTree =
    "root{info{title=\"Hello\" archive=\"hello.jar\" jvm{version{major=\"1\" minor=\"4\" "
    "sub=\"1\" update=\"0\"} website=\"http://java.com/\"}}}";

std::string repeat(const std::string& s, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

}  // namespace

// Tokenizer and escapes

TEST(ConfigTokenizer, SkipsTheSixWhiteSpaceBytesAndCommentsAroundAToken)
{
    Token t = token(" \t\n\v\f\r# note = {\n word \r\n# more\n next");
    EXPECT_EQ(t.text, "word");
    EXPECT_EQ(t.position, 33);  // on the 'n' of "next"
    EXPECT_EQ(token("a\xA0" "b\x85 c").text, "a\xA0" "b\x85");  // no byte above 0x7F is white space
}

TEST(ConfigTokenizer, WordEndsAtADelimiterWhichIsNotConsumed)
{
    EXPECT_EQ(token("abc=def").position, 3);
    EXPECT_EQ(token("abc=def").text, "abc");
    EXPECT_EQ(token("a{b").text, "a");
    EXPECT_EQ(token("a}b").text, "a");
    EXPECT_EQ(token("info.title", ".").text, "info");
    EXPECT_EQ(token("x#y z").text, "x#y");
    EXPECT_EQ(token("a\"b\" c").text, "a\"b\"");  // a quote only opens at a token's start
}

TEST(ConfigTokenizer, EmptyTokenAtADelimiterOrTheEnd)
{
    EXPECT_EQ(token("= x").text, "");
    EXPECT_EQ(token("= x").position, 0);
    EXPECT_EQ(token("").position, 0);
    Token end = token("  # only a comment");
    EXPECT_EQ(end.text, "");
    EXPECT_EQ(end.position, 18);
}

TEST(ConfigTokenizer, QuotedTokenHoldsEverythingUpToTheSameQuote)
{
    Token t = token("\"a={}.\n#'b\"  rest");
    EXPECT_EQ(t.text, "a={}.\n#'b");
    EXPECT_EQ(t.position, 13);
    EXPECT_EQ(token("'say \"hi\"'").text, "say \"hi\"");
    EXPECT_EQ(token("\"\"x").text, "");
    EXPECT_EQ(token("\"\"x").position, 2);
    Token open = token("'runs to the end\n");
    EXPECT_EQ(open.text, "runs to the end\n");
    EXPECT_EQ(open.position, 17);
}

TEST(ConfigTokenizer, EscapesFollowTheTable)
{
    EXPECT_EQ(token(R"("\"\'\\")").text, "\"'\\");
    EXPECT_EQ(token(R"("\b\e\n\r\t")").text, "\x1A\x1B\n\r\t");
    EXPECT_EQ(token(R"("\q\x\0\B")").text, "\\q\\x\\0\\B");  // unknown escapes keep both bytes
    EXPECT_EQ(token(R"('a\'b' c)").text, "a'b");
    EXPECT_EQ(token(R"("a\"b" c)").position, 7);
    EXPECT_EQ(token(R"(a\nb)").text, "a\\nb");  // no escapes outside quotes
}

TEST(ConfigTokenizer, AllCallsShareOneBuffer)
{
    int position = 0;
    const char* first = nextConfigToken("a b", position, "={}");
    const char* second = nextConfigToken("a b", position, "={}");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "b");
}

// Decided: a trailing backslash inside an unterminated quote ends the token and is kept.
TEST(ConfigTokenizer, BackslashAsTheLastByteOfAnOpenQuoteIsKept)
{
    Token t = token("\"ab\\");
    EXPECT_EQ(t.text, "ab\\");
    EXPECT_EQ(t.position, 4);
    EXPECT_EQ(parsed("a = 'x\\"), "root{a=\"x\\\"}");
}

// Decided: a longer token is cut at 16383 bytes and the rest is consumed.
TEST(ConfigTokenizer, LongTokenIsCutAndTheParseStaysInStep)
{
    const int room = kConfigTokenBufferSize - 1;
    EXPECT_EQ(token(std::string(room, 'x')).text, std::string(room, 'x'));
    Token word = token(std::string(room + 5000, 'x') + " next");
    EXPECT_EQ(word.text, std::string(room, 'x'));
    EXPECT_EQ(word.position, room + 5001);
    EXPECT_EQ(token("'" + std::string(room + 1, 'y') + "'z").text, std::string(room, 'y'));
    EXPECT_EQ(token("\"" + repeat("\\t", room) + "\\qq\"").text, std::string(room, '\t'));
    EXPECT_EQ(parsed("a = '" + std::string(20000, 'v') + "' b = 2"),
              "root{a=\"" + std::string(room, 'v') + "\" b=\"2\"}");
}

// Grammar shapes and early endings

TEST(ConfigGrammar, ShippedFileGivesTheDescribedTree)
{
    EXPECT_EQ(parsed(shippedFile), shippedTree);
    EXPECT_EQ(parsed(""), "root");
    EXPECT_EQ(parsed(" # only a comment\n\t"), "root");
}

TEST(ConfigGrammar, FourItemShapesInFileOrder)
{
    EXPECT_EQ(parsed("bare\nvalued = v\nblock { c }\nboth = w { d }"),
              "root{bare valued=\"v\" block{c} both=\"w\"{d}}");
    EXPECT_EQ(parsed("a = { b = \"c\" }"), "root{a=\"\"{b=\"c\"}}");
    EXPECT_EQ(parsed("major=\"1\"minor=\"4\""), "root{major=\"1\" minor=\"4\"}");
    EXPECT_EQ(parsed("x=1 x=2 x"), "root{x=\"1\" x=\"2\" x}");
    EXPECT_EQ(parsed("a{}b{ }"), "root{a b}");
    EXPECT_EQ(parsed("\xE9t\xE9 = \xFF"), "root{\xE9t\xE9=\"\xFF\"}");
}

TEST(ConfigGrammar, CommentsEndValuesOnlyWhereATokenMayBegin)
{
    EXPECT_EQ(parsed("a = x # note\nb"), "root{a=\"x\" b}");
    EXPECT_EQ(parsed("a = x#y"), "root{a=\"x#y\"}");
    EXPECT_EQ(parsed("a = \"x # y\""), "root{a=\"x # y\"}");
}

TEST(ConfigGrammar, EqualsSignBeforeADelimiterOrTheEndGivesAnEmptyValue)
{
    EXPECT_EQ(parsed("a ="), "root{a=\"\"}");
    EXPECT_EQ(parsed("a { b = } c"), "root{a{b=\"\"} c}");
    EXPECT_EQ(parsed("a = = b"), "root{a=\"\"}");  // the second "=" stands where a name belongs
}

TEST(ConfigGrammar, StrayClosingBraceOrMisplacedDelimiterEndsTheParse)
{
    EXPECT_EQ(parsed("a\n}\nb"), "root{a}");
    EXPECT_EQ(parsed("= x"), "root");
    EXPECT_EQ(parsed("{ a }"), "root");
    EXPECT_EQ(parsed("a { b = 1 = c } d"), "root{a{b=\"1\"}}");
    EXPECT_EQ(parsed("a { { b } } c"), "root{a}");
}

TEST(ConfigGrammar, EmptyQuotedNameEndsOnlyTheCurrentBlock)
{
    EXPECT_EQ(parsed("a { x = 1 \"\" } z = 3"), "root{a{x=\"1\"} z=\"3\"}");
    EXPECT_EQ(parsed("'' a"), "root");
}

TEST(ConfigGrammar, TheEndOfTheTextClosesOpenBlocks)
{
    EXPECT_EQ(parsed("a { b { c = 1"), "root{a{b{c=\"1\"}}}");
    EXPECT_EQ(parsed("a { b = \"open\n}"), "root{a{b=\"open\n}\"}}");
}

// Decided: at most 256 blocks are open at once; the brace that would open the 257th ends
// the parse as a stray brace does.
TEST(ConfigGrammar, NestingIsBoundedAt256Blocks)
{
    std::string key = repeat("a.", kConfigMaxDepth) + "x";
    ConfigNode* root = parseConfig((repeat("a{", kConfigMaxDepth) + "x=1").c_str());
    EXPECT_STREQ(lookupConfig(root, key.c_str(), "none"), "1");
    freeConfig(root);

    root = parseConfig((repeat("a{", kConfigMaxDepth + 1) + "x=1" +
                        repeat("}", kConfigMaxDepth + 1) + " after=1").c_str());
    ConfigNode* deepest = findConfigNode(root, repeat(".a", kConfigMaxDepth + 1).c_str() + 1);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->firstChild, nullptr);
    EXPECT_EQ(findConfigNode(root, "after"), nullptr);
    freeConfig(root);

    root = parseConfig(repeat("a{", 200000).c_str());  // a hostile file: no stack overflow
    EXPECT_EQ(findConfigNode(root, key.c_str()), nullptr);
    freeConfig(root);
}

// Lookups and defaults

TEST(ConfigLookup, DottedKeysReachValuesBelowTheStartNode)
{
    ConfigNode* root = parseConfig(shippedFile);
    const char* fallback = "default";
    EXPECT_STREQ(lookupConfig(root, "info.jvm.version.minor", fallback), "4");
    EXPECT_STREQ(lookupConfig(root, "info . title", fallback), "Hello");
    EXPECT_EQ(findConfigNode(root, " info .\n# c\n title junk"), findConfigNode(root, "info.title"));
    EXPECT_STREQ(lookupConfig(findConfigNode(root, "info"), "archive", fallback), "hello.jar");
    for (const char* missing : {"info.vmargs", "root.info.title", "Info.title", "info.", "",
                                "info..title", "info.jvm.version.minor.x", "info.jvm"}) {
        EXPECT_EQ(lookupConfig(root, missing, fallback), fallback) << missing;
    }
    freeConfig(root);
}

TEST(ConfigLookup, EmptyValueIsAValueAndABareNameIsNot)
{
    ConfigNode* root = parseConfig("a = \"\"\nb\n'c.d' = 1");
    EXPECT_STREQ(lookupConfig(root, "a", "default"), "");
    EXPECT_STREQ(lookupConfig(root, "b", "default"), "default");
    ASSERT_NE(findConfigNode(root, "b"), nullptr);
    EXPECT_STREQ(findConfigNode(root, "b")->name, "b");
    EXPECT_STREQ(lookupConfig(root, "\"c.d\"", nullptr), "1");  // a quoted segment holds a full stop
    EXPECT_EQ(lookupConfig(root, "c.d", nullptr), nullptr);
    freeConfig(root);
}

TEST(ConfigLookup, NeverBacktracksToALaterSiblingOfTheSameName)
{
    ConfigNode* root = parseConfig("info { title = t } info { archive = a.jar }");
    EXPECT_STREQ(lookupConfig(root, "info.archive", "default"), "default");
    EXPECT_STREQ(lookupConfig(root, "info.title", "default"), "t");
    freeConfig(root);
}

// Loading files

TEST(ConfigLoad, FilesThatCannotBeLoadedAreAbsent)
{
    EXPECT_EQ(loadConfig("config_test_no_such_file.cfg"), nullptr);
    EXPECT_EQ(loaded(""), "(absent)");
    EXPECT_EQ(loadConfig("."), nullptr);  // a folder: no length, or nothing to read
}

TEST(ConfigLoad, FileBytesAreParsedAsTheyAre)
{
    EXPECT_EQ(loaded(shippedFile), shippedTree);
    EXPECT_EQ(loaded(" "), "root");
    EXPECT_EQ(loaded(std::string("a = 1\0b = 2", 11)), "root{a=\"1\"}");
    std::string crlf;
    for (const char* c = shippedFile; *c != '\0'; ++c) crlf += *c == '\n' ? "\r\n" : std::string(1, *c);
    EXPECT_EQ(loaded(crlf), shippedTree);
    EXPECT_EQ(loaded("a = \"one\r\ntwo\"\r\n"), "root{a=\"one\r\ntwo\"}");
}

// Decided: memory that cannot be had is treated like a file that cannot be loaded. The
// sanitizer build runs this test a second time with allocations above 1 MiB failing
// (tests/unit/config.cmake), which makes loadConfig's text buffer of 2 MiB fail.
TEST(ConfigLoad, AllocationFailureIsAbsent)
{
    bool limited = std::getenv("WB_CONFIG_ALLOCATIONS_LIMITED") != nullptr;
    EXPECT_EQ(loaded("a = 1\n", 32), limited ? "(absent)" : "root{a=\"1\"}");
}

// Freeing

TEST(ConfigFree, RemovingAChildKeepsTheRestLinked)
{
    ConfigNode* root = parseConfig("a b { x } c d");
    freeConfig(findConfigNode(root, "b"));  // the middle child, with its subtree
    EXPECT_EQ(render(root), "root{a c d}");
    freeConfig(root->lastChild);
    freeConfig(root->firstChild);
    EXPECT_EQ(render(root), "root{c}");
    freeConfig(root->firstChild);  // the only child
    EXPECT_EQ(root->firstChild, nullptr);
    EXPECT_EQ(root->lastChild, nullptr);
    freeConfig(nullptr);
    freeConfig(root);
}

TEST(ConfigFree, ParseBlockAppendsToAnExistingNode)
{
    ConfigNode* root = parseConfig("a { x }");
    int position = 0;
    parseConfigBlock(findConfigNode(root, "a"), "y = 1 } z", position);
    EXPECT_EQ(position, 6);  // on the closing brace, not consumed
    EXPECT_EQ(render(root), "root{a{x y=\"1\"}}");
    freeConfig(root);
}
