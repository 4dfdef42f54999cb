#include "installer/installer_state.h"

// Everything starts empty except the package total: it is the progress bar's denominator
// until the package's own total has been read, and 1 keeps a bar drawn before that from
// dividing by zero.
InstallerState installerState = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // header texts
    1,                                                     // packageTotal
    0,                                                     // progressTotal
    0,                                                     // bytesWritten
    0,                                                     // shortcutCount
    {},                                                    // shortcuts
    0,                                                     // installDone
    nullptr,                                               // packageFile
    nullptr,                                               // packageReader
    0,                                                     // readError
    nullptr, nullptr, nullptr, nullptr, nullptr,           // windows
    nullptr, nullptr,                                      // fonts
    nullptr,                                               // uninstallLog
    0,                                                     // failedCount
    nullptr,                                               // firstFailedPath
    0,                                                     // packageDamaged
};
