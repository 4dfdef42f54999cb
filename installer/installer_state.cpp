#include "installer/installer_state.h"

// Zero-initialised, so the record (most of it the 256-entry shortcut table) takes no room
// in the program file.
InstallerState installerState;

namespace {

// The package total alone starts at 1: it is the progress bar's denominator until the
// package's own total has been read, and 1 keeps a bar drawn before that from dividing
// by zero. Set before WinMain runs, as an initialiser would, without putting the whole
// record into the file's initialised data.
const bool packageTotalStartsAtOne = (installerState.packageTotal = 1, true);

}  // namespace
