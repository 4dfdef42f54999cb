#include "launcher/runtime_candidates.h"

#include <cstdlib>
#include <cstring>

#include "launcher/version.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void addCandidate(CandidateList& list, const char* javaHome, std::int64_t version, bool hasProgram)
{
    if (list.count == list.capacity) {
        std::size_t capacity = list.capacity == 0 ? 8 : list.capacity * 2;
        void* grown = std::realloc(list.items, capacity * sizeof(RuntimeCandidate));
        // As for the launcher's texts: a machine without these few bytes cannot start Java.
        if (grown == nullptr) std::abort();
        list.items = static_cast<RuntimeCandidate*>(grown);
        list.capacity = capacity;
    }
    TextBuffer home = {};
    appendText(home, javaHome);
    list.items[list.count++] = RuntimeCandidate{takeText(home), version, hasProgram};
}

void freeCandidates(CandidateList& list)
{
    for (std::size_t i = 0; i < list.count; ++i) std::free(list.items[i].javaHome);
    std::free(list.items);
    list = CandidateList{};
}

long chooseCandidate(const RuntimeCandidate* candidates, std::size_t count, std::int64_t requiredVersion)
{
    long chosen = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const RuntimeCandidate& c = candidates[i];
        if (!c.hasProgram || c.version < requiredVersion) continue;
        // Strictly greater: of equal versions the earlier source keeps its place.
        if (chosen < 0 || c.version > candidates[chosen].version) chosen = static_cast<long>(i);
    }
    return chosen;
}

bool readReleaseVersion(const char* releaseText, std::int64_t& version)
{
    static const char kKey[] = "JAVA_VERSION=";
    for (const char* line = releaseText; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) end = line + std::strlen(line);
        std::size_t keyLength = sizeof kKey - 1;
        if (static_cast<std::size_t>(end - line) >= keyLength && std::strncmp(line, kKey, keyLength) == 0) {
            const char* value = line + keyLength;
            const char* valueEnd = end;
            if (*value == '"') {
                ++value;
                const char* quote = static_cast<const char*>(std::memchr(value, '"', static_cast<std::size_t>(end - value)));
                if (quote != nullptr) valueEnd = quote;
            }
            // Only this value is read: the version reader would otherwise run on into the
            // following lines looking for digits.
            TextBuffer text = {};
            appendBytes(text, value, static_cast<std::size_t>(valueEnd - value));
            bool hasDigit = std::strpbrk(textOf(text), "0123456789") != nullptr;
            if (hasDigit) version = packVersionText(textOf(text));
            freeText(text);
            return hasDigit;
        }
        line = *end == '\0' ? end : end + 1;
    }
    return false;
}

bool readFolder(const char* text, std::size_t length, TextBuffer& folder)
{
    if (std::memchr(text, '"', length) != nullptr) return false;
    while (length > 0 && isSeparator(text[length - 1])) --length;
    if (length == 0 || length > kMaxFolderLength) return false;
    appendBytes(folder, text, length);
    return true;
}

bool javaHomeOfPathEntry(const char* entry, std::size_t length, TextBuffer& javaHome)
{
    TextBuffer folder = {};
    bool found = false;
    if (readFolder(entry, length, folder)) {
        const char* path = textOf(folder);
        std::size_t end = folder.length;
        std::size_t nameStart = end;
        while (nameStart > 0 && !isSeparator(path[nameStart - 1])) --nameStart;
        bool namedBin = end - nameStart == 3 && lowerAscii(path[nameStart]) == 'b' &&
                        lowerAscii(path[nameStart + 1]) == 'i' && lowerAscii(path[nameStart + 2]) == 'n';
        // "bin" alone or "\bin" have no parent folder to be a Java home.
        std::size_t parentEnd = nameStart;
        while (parentEnd > 0 && isSeparator(path[parentEnd - 1])) --parentEnd;
        if (namedBin && parentEnd > 0) {
            appendBytes(javaHome, path, parentEnd);
            found = true;
        }
    }
    freeText(folder);
    return found;
}
