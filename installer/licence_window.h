// The licence agreement window, shown before anything can be installed.
#pragma once

// Shows the licence window over the main window when the package has a licence text.
void createLicenceWindow();
