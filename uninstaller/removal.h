// The uninstaller's work on the file system: finding the folders it must never remove,
// and removing single files and empty folders. Never recursive.
#pragma once

#include <string>
#include <vector>

// The user's and the machine's shell folders (desktop, program menu, start menu, start-up
// folder and the rest) as the registry names them: Windows expects them to exist, so an
// uninstaller never removes one, even an empty one that a record names.
std::vector<std::string> readShellFolders();

// Removes one file. True when it is gone afterwards, including when it was gone before.
// A read-only file is ours to remove too.
bool removeLoggedFile(const std::string& path);

// Removes a folder when it is empty. True when the folder is gone or was kept because it
// holds something (the user's files); false only when an empty folder could not be removed.
bool removeEmptyFolder(const std::string& path);
