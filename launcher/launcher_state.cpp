#include "launcher/launcher_state.h"

#include <cstdlib>

#include "launcher/launch_text.h"
#include "launcher/version.h"

LauncherState launcherState;

void readLaunchSettings(LauncherState& state)
{
    ConfigNode* tree = state.configTree;
    state.archive = lookupConfig(tree, "info.archive", "");
    state.vmArgs = lookupConfig(tree, "info.vmargs", "");
    state.requiredMajor = readConfigNumber(lookupConfig(tree, "info.jvm.version.major", "1"));
    state.requiredMinor = readConfigNumber(lookupConfig(tree, "info.jvm.version.minor", "3"));
    state.requiredSub = readConfigNumber(lookupConfig(tree, "info.jvm.version.sub", "0"));
    state.requiredUpdate = readConfigNumber(lookupConfig(tree, "info.jvm.version.update", "0"));
    state.requiredVersion =
        packVersion(state.requiredMajor, state.requiredMinor, state.requiredSub, state.requiredUpdate);
    state.classPath = lookupConfig(tree, "info.jvm.classpath", "");
    state.runtimeFolder = lookupConfig(tree, "info.jvm.path", "");
    state.website = lookupConfig(tree, "info.jvm.website", kDefaultWebsite);
}

void readProgramArgs(LauncherState& state, int argc, const char* const* argv)
{
    TextBuffer joined = {};
    joinProgramArgs(joined, argc, argv);
    std::free(state.programArgs);
    state.programArgs = takeText(joined);
}

void releaseLauncherState()
{
    if (launcherState.configTree != nullptr) freeConfig(launcherState.configTree);
    launcherState.configTree = nullptr;
    // The texts pointed into the tree; a later reader must not follow them.
    launcherState.archive = launcherState.vmArgs = launcherState.classPath = launcherState.runtimeFolder =
        launcherState.website = nullptr;
    std::free(launcherState.programArgs);
    launcherState.programArgs = nullptr;
}

const char* errorCaption(ConfigNode* configTree)
{
    if (configTree == nullptr) return "Error";
    return lookupConfig(configTree, "info.title", "Error");
}

const char* applicationName(ConfigNode* configTree)
{
    if (configTree == nullptr) return "this program";
    return lookupConfig(configTree, "info.title", "this program");
}
