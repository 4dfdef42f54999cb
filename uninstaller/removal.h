// The uninstaller's work on the file system: finding the folders it must never remove,
// and removing single files and empty folders. Never recursive.
#pragma once

#include <string>
#include <vector>

// The user's and the machine's shell folders (desktop, program menu, start menu, start-up
// folder and the rest) as the registry names them: Windows expects them to exist, so an
// uninstaller never removes one, even an empty one that a record names.
std::vector<std::string> readShellFolders();

// What became of one logged item.
enum class Removal {
    done,         // gone, or kept on purpose (a folder that holds the user's files)
    failed,       // still there, and it should not be
    throughLink,  // untouched: a junction or symbolic link lies between base and the item
};

// Each item is opened once, as itself (a link is never followed), and everything is judged
// on that open handle: whether it is a link, whether the way to it from base (the install
// folder or the shell folder the log's record belongs to, which may itself be reached
// through links) holds one, and then the deletion. A swap between a check and the deletion
// therefore cannot steer it elsewhere. Only where Windows lacks deletion through a handle
// are the same checks made by path.

// Removes one file: done when it is gone afterwards, including when it was gone before.
// A read-only file is ours to remove too.
Removal removeLoggedFile(const std::string& path, const std::string& base);

// Removes a folder when it is empty: done when the folder is gone or was kept because it
// holds something (the user's files); failed only when an empty folder could not be removed.
Removal removeEmptyFolder(const std::string& path, const std::string& base);
