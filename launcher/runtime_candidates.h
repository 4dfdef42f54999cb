// The wider runtime search that runs only when the classic registry list gives nothing to
// start: the runtimes found in the other registry keys, the JAVA_HOME-style variables and
// the PATH, and the choice among them.
//
// Plain C++ without Windows headers, so that it builds and is tested on the host too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/text_buffer.h"

// One runtime found by the wider search. The list keeps the order in which the sources
// are searched, which decides between equal versions.
struct RuntimeCandidate {
    char* javaHome;          // owned; without a trailing backslash
    std::int64_t version;    // packed
    bool hasProgram;         // bin\javaw.exe or bin\java.exe is there
};

struct CandidateList {
    RuntimeCandidate* items;
    std::size_t count;
    std::size_t capacity;
};

void addCandidate(CandidateList& list, const char* javaHome, std::int64_t version, bool hasProgram);
void freeCandidates(CandidateList& list);

// The index of the runtime to start: among the candidates that have a program and at
// least requiredVersion, the highest version, and of equal versions the one found first.
// -1 when none is suitable.
long chooseCandidate(const RuntimeCandidate* candidates, std::size_t count, std::int64_t requiredVersion);

// The packed version of the JAVA_VERSION line in the text of a Java home's "release"
// file (JAVA_VERSION="17.0.2"). False when there is no such line or its value holds no
// digit: such a home has no version to compare, and is not used.
bool readReleaseVersion(const char* releaseText, std::int64_t& version);

// The longest folder the wider search takes: with "\bin\javaw.exe" appended, a longer one
// could not be opened by the ANSI file functions anyway.
constexpr std::size_t kMaxFolderLength = 259;

// A folder named by a variable or a PATH entry, as a Java home to append to: trailing
// backslashes and slashes removed. False for an empty, quoted or overlong folder, which is
// skipped rather than guessed at or cut.
bool readFolder(const char* text, std::size_t length, TextBuffer& folder);

// The Java home that a PATH entry points into: the entry's parent when the entry is a
// folder named "bin" (in any case). False when readFolder refuses the entry, when it is
// not a bin folder, or when it has no parent.
bool javaHomeOfPathEntry(const char* entry, std::size_t length, TextBuffer& javaHome);
