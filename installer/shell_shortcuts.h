// The shortcut phase of the installation: shell links on the desktop and in the menus.
#pragma once

#include <cstddef>

// Creates every shortcut of the package, in table order, logging folder and link.
void createShortcuts();
