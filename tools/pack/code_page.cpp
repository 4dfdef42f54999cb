// The package's strings travel in a Windows ANSI code page, since the installer hands them
// to the ANSI functions unchanged; manifests and Linux file names are UTF-8. This file
// converts between the two: with the host's iconv, or with Windows' own tables when the
// library is built for Windows (the installer's tests build packages in-process there).
#include <cstring>
#include <map>
#include <mutex>

#include "tools/pack/pack_internal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace wbpack {

namespace {

const std::uint32_t kAnsiCodePages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

// The length of the UTF-8 sequence at text[at] and its code point, or 0 when the bytes
// there are no valid UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8Sequence(const std::string& text, std::size_t at, std::uint32_t& codePoint)
{
    unsigned char c = static_cast<unsigned char>(text[at]);
    std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    codePoint = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

std::string describeCharacter(const std::string& text, std::size_t at, std::size_t length, std::uint32_t codePoint)
{
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(codePoint));
    // The character itself only when it can be shown without harm.
    bool showable = codePoint >= 0xA0 || (codePoint >= 0x20 && codePoint < 0x7F);
    return showable ? "\"" + text.substr(at, length) + "\" (" + number + ")" : std::string(number);
}

// Where the UTF-8 breaks, or npos.
std::size_t findInvalidUtf8(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t codePoint = 0;
        std::size_t length = utf8Sequence(text, at, codePoint);
        if (length == 0) return at;
        at += length;
    }
    return std::string::npos;
}

#ifdef _WIN32

bool toWide(const std::string& text, UINT codePage, std::wstring& wide)
{
    wide.clear();
    if (text.empty()) return true;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    wide.resize(n);
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0],
                               n) == n;
}

// Without best-fit mappings: "é" must not quietly become "e" in a code page that lacks it.
bool fromWide(const std::wstring& wide, UINT codePage, std::string& text)
{
    text.clear();
    if (wide.empty()) return true;
    BOOL lossy = FALSE;
    BOOL* lossyFlag = codePage == CP_UTF8 ? nullptr : &lossy;
    DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                lossyFlag);
    if (n <= 0 || lossy) return false;
    text.resize(n);
    return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr,
                               lossyFlag) == n &&
           !lossy;
}

bool convert(const std::string& in, std::uint32_t from, std::uint32_t to, std::string& out)
{
    std::wstring wide;
    return toWide(in, from == 0 ? CP_UTF8 : from, wide) && fromWide(wide, to == 0 ? CP_UTF8 : to, out);
}

bool converterExists(std::uint32_t codePage)
{
    return IsValidCodePage(codePage) != 0;
}

#else

std::string iconvName(std::uint32_t codePage)
{
    return codePage == 0 ? "UTF-8" : "CP" + std::to_string(codePage);
}

// Code page 0 stands for UTF-8 here. False when a character has no counterpart.
bool convert(const std::string& in, std::uint32_t from, std::uint32_t to, std::string& out)
{
    iconv_t cd = iconv_open(iconvName(to).c_str(), iconvName(from).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = &out[0];
    std::size_t outLeft = out.size();
    bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ok && inLeft == 0;
}

bool converterExists(std::uint32_t codePage)
{
    iconv_t cd = iconv_open(iconvName(codePage).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

#endif

bool isDoubleByteCodePage(std::uint32_t codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// A character's bytes in a code page, or "" when Windows' code page lacks it. The
// converters offer more than Windows' table does: best-fit substitutes (in 932 the host
// turns U+301C into the bytes of U+FF5E, and U+00A5 into a backslash), and in 1258 and
// 1255 a precomposed letter split into its letter and a combining mark, which Windows
// leaves as two characters. So a character is taken only when it becomes one character of
// the code page that turns back into it. Results are kept: a package's names use few
// distinct characters, and the converters are slow to open.
std::string characterBytes(std::uint32_t codePoint, const std::string& utf8, std::uint32_t codePage)
{
    // Every Windows ANSI code page keeps ASCII as it is.
    if (codePoint < 0x80) return utf8;
    static std::mutex mutex;
    static std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> known;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = known.find({codePage, codePoint});
    if (found != known.end()) return found->second;
    std::string bytes, back;
    if (!convert(utf8, 0, codePage, bytes) || bytes.size() > (isDoubleByteCodePage(codePage) ? 2u : 1u) ||
        !convert(bytes, codePage, 0, back) || back != utf8)
        bytes.clear();
    known[{codePage, codePoint}] = bytes;
    return bytes;
}

// Single-byte code pages are decoded a byte at a time: the host's converter for 1258 and
// 1255 would join a letter and a following combining mark into one character, which
// Windows does not.
bool decodeByBytes(const std::string& bytes, std::uint32_t codePage, std::string& utf8)
{
    static std::mutex mutex;
    static std::map<std::uint32_t, std::vector<std::string>> tables;   // "" for a byte with no character
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string>& table = tables[codePage];
    if (table.empty()) {
        table.resize(256);
        for (int b = 0; b < 256; ++b) {
            if (!convert(std::string(1, static_cast<char>(b)), codePage, 0, table[b])) table[b].clear();
        }
    }
    utf8.clear();
    for (char c : bytes) {
        const std::string& one = table[static_cast<unsigned char>(c)];
        if (one.empty()) return false;
        utf8 += one;
    }
    return true;
}

// Windows' file systems compare names by the simple uppercase mapping of each character
// (NTFS keeps it as a table on the volume), so that is how two names are told apart here,
// on every platform alike. The table holds every character of the code pages above that
// has such a mapping: runs of lower-case letters [first, last], every step-th of them,
// whose capital is delta away. Characters whose only uppercase is more than one character
// (U+00DF, U+0149, U+0390, U+03B0) have no simple mapping and stay as they are, as do
// U+0130 (dotted capital I) and U+0131 (dotless i): the one has no uppercase of its own,
// the other's is the plain I.
struct CaseRun {
    std::uint32_t first, last;
    std::int32_t delta;
    std::uint32_t step;
};
const CaseRun kUpperCaseRuns[] = {
    {0x0061, 0x007A, -32, 1},    {0x00B5, 0x00B5, 743, 1},    {0x00E0, 0x00F6, -32, 1},   {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1},    {0x0101, 0x0107, -1, 2},     {0x010D, 0x0113, -1, 2},    {0x0117, 0x011B, -1, 2},
    {0x011F, 0x011F, -1, 1},     {0x0123, 0x0123, -1, 1},     {0x0127, 0x0127, -1, 1},    {0x012B, 0x012B, -1, 1},
    {0x012F, 0x012F, -1, 1},     {0x0131, 0x0131, -232, 1},   {0x0133, 0x0133, -1, 1},    {0x0137, 0x0137, -1, 1},
    {0x013A, 0x0148, -1, 2},     {0x014B, 0x014D, -1, 2},     {0x0151, 0x015B, -1, 2},    {0x015F, 0x0167, -1, 2},
    {0x016B, 0x016B, -1, 1},     {0x016F, 0x0173, -1, 2},     {0x017A, 0x017E, -1, 2},    {0x0192, 0x0192, -1, 1},
    {0x01A1, 0x01A1, -1, 1},     {0x01B0, 0x01B0, -1, 1},     {0x01CE, 0x01DC, -1, 2},    {0x0251, 0x0251, 10780, 1},
    {0x0261, 0x0261, 42315, 1},  {0x03AC, 0x03AC, -38, 1},    {0x03AD, 0x03AF, -37, 1},   {0x03B1, 0x03C1, -32, 1},
    {0x03C2, 0x03C2, -31, 1},    {0x03C3, 0x03CB, -32, 1},    {0x03CC, 0x03CC, -64, 1},   {0x03CD, 0x03CE, -63, 1},
    {0x0430, 0x044F, -32, 1},    {0x0451, 0x045C, -80, 1},    {0x045E, 0x045F, -80, 1},   {0x0491, 0x0491, -1, 1},
    {0x2170, 0x2179, -16, 1},    {0x24D0, 0x24E9, -26, 1},    {0xFF41, 0xFF5A, -32, 1},
};

std::uint32_t upperCase(std::uint32_t c)
{
    for (const CaseRun& run : kUpperCaseRuns) {
        if (c >= run.first && c <= run.last && (c - run.first) % run.step == 0)
            return static_cast<std::uint32_t>(static_cast<std::int32_t>(c) + run.delta);
    }
    return c;
}

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string foldNameCase(const std::string& name, std::uint32_t codePage)
{
    std::string utf8, folded;
    if (!decodeText(name, codePage, utf8)) utf8 = name;
    for (std::size_t at = 0; at < utf8.size();) {
        std::uint32_t c = 0;
        std::size_t length = utf8Sequence(utf8, at, c);
        if (length == 0) {
            // Not text in any code page this knows: only its ASCII letters fold.
            char b = utf8[at++];
            folded += b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A') : b;
            continue;
        }
        appendUtf8(folded, upperCase(c));
        at += length;
    }
    return folded;
}

bool isAnsiCodePage(std::uint32_t codePage)
{
    for (std::uint32_t known : kAnsiCodePages) {
        if (known == codePage) return converterExists(codePage);
    }
    return false;
}

bool encodeText(const std::string& utf8, std::uint32_t codePage, std::string& encoded, std::string& why)
{
    std::size_t bad = findInvalidUtf8(utf8);
    if (bad != std::string::npos) {
        char text[96];
        std::snprintf(text, sizeof text, "holds a byte 0x%02X at byte %zu that is not UTF-8",
                      static_cast<unsigned char>(utf8[bad]), bad + 1);
        why = text;
        return false;
    }
    // One character at a time, so that the first the code page lacks is the one named.
    encoded.clear();
    for (std::size_t at = 0; at < utf8.size();) {
        std::uint32_t codePoint = 0;
        std::size_t length = utf8Sequence(utf8, at, codePoint);
        std::string one = characterBytes(codePoint, utf8.substr(at, length), codePage);
        if (one.empty()) {
            why = "holds the character " + describeCharacter(utf8, at, length, codePoint) + " at byte " +
                  std::to_string(at + 1) + ", which code page " + std::to_string(codePage) + " lacks";
            return false;
        }
        encoded += one;
        at += length;
    }
    return true;
}

bool decodeText(const std::string& bytes, std::uint32_t codePage, std::string& utf8)
{
    if (codePage == 0) return false;
    if (!isDoubleByteCodePage(codePage)) return decodeByBytes(bytes, codePage, utf8);
    return convert(bytes, codePage, 0, utf8);
}

std::string shownText(const std::string& bytes, std::uint32_t codePage)
{
    std::string utf8;
    return decodeText(bytes, codePage, utf8) ? printableUtf8(utf8) : printable(bytes);
}

std::string printableUtf8(const std::string& utf8)
{
    if (findInvalidUtf8(utf8) != std::string::npos) return printable(utf8);
    // Control characters, C1 ones included (U+0080-U+009F, C2 80-C2 9F in UTF-8), are
    // escaped as their code page bytes would be, so the terminal never obeys them.
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        bool c1 = c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            std::uint32_t codePoint = c1 ? static_cast<unsigned char>(utf8[++i]) : c;
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(codePoint));
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool encodePackageSpec(PackageSpec& package, const TextLabels& labels, std::string& error)
{
    const std::uint32_t cp = package.codePage;
    std::string why;
    PackageHeader& h = package.header;
    struct Field {
        std::string* text;
        std::string label;
    };
    std::vector<Field> fields = {{&h.productName, labels.fields + "product"},  {&h.installDir, labels.fields + "installDir"},
                                 {&h.runCommand, labels.fields + "run"},       {&h.webAddress, labels.fields + "website"},
                                 {&h.publisher, labels.fields + "publisher"}, {&h.licenceText, labels.licence}};
    for (std::size_t i = 0; i < package.shortcuts.size(); ++i) {
        ShortcutSpec& s = package.shortcuts[i];
        std::string at = labels.fields + "shortcut " + std::to_string(i + 1) + ": ";
        fields.push_back({&s.linkPath, at + "link"});
        fields.push_back({&s.target, at + "target"});
        fields.push_back({&s.workingDir, at + "workingDir"});
        fields.push_back({&s.arguments, at + "arguments"});
        fields.push_back({&s.description, at + "description"});
    }
    for (const Field& f : fields) {
        std::string encoded;
        if (!encodeText(*f.text, cp, encoded, why)) {
            error = f.label + " " + why;
            return false;
        }
        *f.text = encoded;
    }
    // Entry names, each named by its path in the source folder.
    std::vector<std::string> dirs(1, labels.sourceDir);
    for (PackEntry& e : package.entries) {
        if (e.kind == kEntryLeaveDir) {
            if (dirs.size() > 1) dirs.pop_back();
            continue;
        }
        std::string path = e.sourcePath.empty() ? (dirs.back().empty() ? e.name : dirs.back() + "/" + e.name)
                                                : e.sourcePath;
        std::string encoded;
        if (!encodeText(e.name, cp, encoded, why)) {
            error = printableUtf8(path) + ": the name " + why;
            return false;
        }
        e.name = encoded;
        if (e.kind == kEntryEnterDir) dirs.push_back(path);
    }
    return true;
}

}  // namespace wbpack
