// Java runtime versions as the launcher compares them: read from a registry subkey name
// such as "1.4.2_03" or from the configuration's four version keys, and packed into one
// number, major * 1,000,000 + minor * 10,000 + sub * 100 + update.
//
// Plain C++ without Windows headers, so that it builds and is tested on the host too.
// No input can overflow: a component's digits saturate at the largest 32-bit value, and
// packing uses 64-bit arithmetic, so a huge component still compares as huge instead of
// wrapping round to a small or negative version.
#pragma once

#include <cstdint>

// The next run of decimal digits in text from position on, skipping whatever is not a
// digit before it; position is left on the first character after the digits. At the
// terminator it returns 0 and does not move. More digits than a 32-bit value holds give
// 2147483647.
std::int32_t readVersionPart(const char* text, int& position);

// The packed form of four components, exact for any 32-bit inputs, negative ones
// included (a configuration may say "-1").
std::int64_t packVersion(std::int32_t major, std::int32_t minor, std::int32_t sub, std::int32_t update);

// A version text read as four components with readVersionPart, then packed: "1.5" is
// 1.5.0 update 0, and a text without digits packs to 0.
std::int64_t packVersionText(const char* text);

// A configuration number as the C library's decimal conversion reads it (leading white
// space, an optional sign, the digits up to the first other character, 0 without digits),
// except that a value beyond the 32-bit range saturates instead of being undefined.
std::int32_t readConfigNumber(const char* text);

// The choice among the installed runtimes, made one subkey name at a time in the order
// the registry enumerates them.
struct RuntimeChoice {
    bool anySeen;         // at least one runtime is registered
    bool anySuitable;     // at least one packs to the required version or more
    char name[256];       // the last suitable name so far (registry names have at most 255)
};

// Notes one registered runtime: when it packs to requiredVersion or more it becomes the
// choice, replacing any earlier one, so the last suitable runtime wins and not
// necessarily the newest.
void considerRuntime(RuntimeChoice& choice, const char* name, std::int64_t requiredVersion);
