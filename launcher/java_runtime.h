// Finding a registered Java runtime and starting its virtual machine.
#pragma once

// Picks the last registered runtime, in the registry's order, whose version is at least
// the required one, and starts its virtual machine with the launch settings. Returns only
// when the virtual machine runs; every failure ends the process in the download offer.
void startJava();

// True when path can be opened for reading.
bool fileExists(const char* path);
