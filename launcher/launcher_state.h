// The launcher's one process-wide record: written once during start-up from vmkick.cfg
// and the command line, then read by the runtime search and the download offer.
//
// Plain C++ without Windows headers; only showFatalError, defined by the program's entry,
// needs Windows.
#pragma once

#include <cstdint>

#include "common/config.h"

// Where the download offer sends the user when the configuration names no site.
constexpr const char* kDefaultWebsite = "https://www.java.com/download/";

struct LauncherState {
    ConfigNode* configTree;       // owned; nullptr until vmkick.cfg is loaded
    // The texts below point into configTree or at constant defaults, never owned.
    const char* archive;          // after -jar; never empty once start-up goes on
    const char* vmArgs;           // further virtual machine options, may be empty
    std::int32_t requiredMajor;
    std::int32_t requiredMinor;
    std::int32_t requiredSub;
    std::int32_t requiredUpdate;
    // 64 bits, so that no configured component can wrap the packed version round.
    std::int64_t requiredVersion;
    const char* classPath;        // may be empty
    const char* runtimeFolder;    // a runtime shipped with the application; may be empty
    const char* website;          // opened by the download offer
    char* programArgs;            // owned; the launcher's arguments, quoted and joined
};

extern LauncherState launcherState;

// Reads every launch setting of state.configTree into state; absent keys get their
// defaults. An empty archive is left for the caller to report.
void readLaunchSettings(LauncherState& state);

// Joins the arguments after the program's own name into state.programArgs.
void readProgramArgs(LauncherState& state, int argc, const char* const* argv);

// The exit handler: frees the config tree and the joined arguments of launcherState.
// Running it twice is harmless.
void releaseLauncherState();

// The caption of every error box: the configured title, or "Error" when there is none or
// no configuration was loaded.
const char* errorCaption(ConfigNode* configTree);

// The application's name in the download question: the title, or "this program".
const char* applicationName(ConfigNode* configTree);

// Shows text in an error box captioned by errorCaption and ends the process with exit
// code 1 through exit(), so that the exit handler runs. Defined by the program's entry.
[[noreturn]] void showFatalError(const char* text);
