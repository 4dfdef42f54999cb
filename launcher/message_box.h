// The launcher's message boxes. User32 is loaded only when one is needed: on the common
// path, Java found and started, the launcher shows nothing, and loading the windowing
// library at start-up would be most of its start time.
#pragma once

#include <windows.h>

// MessageBoxA with no owner; 0, as MessageBoxA's own failure, when it cannot be reached.
int showMessageBox(const char* text, const char* caption, UINT style);
