// Walking the source folder into the entry stream's order.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/package_format.h"
#include "tools/pack/pack_internal.h"

namespace fs = std::filesystem;

namespace wbpack {

namespace {

struct SourceWalk {
    fs::path canonicalRoot;
    std::vector<fs::path> openDirs;   // canonical paths of the directories being walked
    std::vector<PackEntry>* entries;
    std::string error;
};

bool isInside(const fs::path& path, const fs::path& root)
{
    auto mismatch = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return mismatch.first == root.end();
}

struct Child {
    std::string name;
    fs::path path;
};

bool listChildren(const fs::path& dir, std::vector<Child>& children, std::string& error)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) children.push_back({it->path().filename().string(), it->path()});
    if (ec) {
        error = dir.string() + ": cannot read the folder: " + ec.message();
        return false;
    }
    // Byte-wise order, whatever order the file system lists them in, so the same folder
    // always gives the same package.
    std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.name < b.name; });
    return true;
}

// A package that the installation left cut short can still be uninstalled when the
// uninstaller is the first thing the installer writes.
void moveUninstallerFirst(std::vector<Child>& children)
{
    auto it = std::find_if(children.begin(), children.end(),
                           [](const Child& c) { return c.name == wbformat::kUninstallerName; });
    std::error_code ec;
    if (it == children.end() || !fs::is_regular_file(it->path, ec)) return;
    std::rotate(children.begin(), it, it + 1);
}

// readPath: the file itself, which for a symbolic link is where it leads. Opened now, so
// that an unreadable file is found before minutes of compressing everything before it,
// and so that what is packed later can be checked to be this same file.
bool addFile(SourceWalk& walk, const Child& child, const std::string& readPath)
{
    std::uint64_t device = 0, inode = 0, size = 0;
    FILE* f = openSourceFile(readPath, device, inode, size, walk.error);
    if (!f) return false;
    std::fclose(f);
    PackEntry entry = diskFileEntry(child.name, readPath, size);
    entry.device = device;
    entry.inode = inode;
    walk.entries->push_back(entry);
    return true;
}

bool walkDirectory(SourceWalk& walk, const fs::path& dir, bool topLevel);

bool addChild(SourceWalk& walk, const Child& child)
{
    std::error_code ec;
    fs::file_status linkStatus = fs::symlink_status(child.path, ec);
    if (ec) {
        walk.error = child.path.string() + ": " + ec.message();
        return false;
    }
    std::string readPath = child.path.string();
    if (fs::is_symlink(linkStatus)) {
        fs::path target = fs::canonical(child.path, ec);
        if (ec) {
            walk.error = child.path.string() + ": the symbolic link leads nowhere: " + ec.message();
            return false;
        }
        if (!isInside(target, walk.canonicalRoot)) {
            walk.error = child.path.string() + ": the symbolic link leads outside the source folder, to " +
                         target.string();
            return false;
        }
        readPath = target.string();
    }
    fs::file_status status = fs::status(child.path, ec);
    if (!ec && fs::is_regular_file(status)) return addFile(walk, child, readPath);
    if (!ec && fs::is_directory(status)) {
        fs::path canonicalDir = fs::canonical(child.path, ec);
        if (ec) {
            walk.error = child.path.string() + ": " + ec.message();
            return false;
        }
        if (std::find(walk.openDirs.begin(), walk.openDirs.end(), canonicalDir) != walk.openDirs.end()) {
            walk.error = child.path.string() + ": the symbolic link leads back into a folder that contains it";
            return false;
        }
        walk.entries->push_back(enterDirEntry(child.name));
        walk.openDirs.push_back(canonicalDir);
        if (!walkDirectory(walk, child.path, false)) return false;
        walk.openDirs.pop_back();
        walk.entries->push_back(leaveDirEntry());
        return true;
    }
    walk.error = child.path.string() + (ec ? ": " + ec.message() : ": neither a file nor a folder");
    return false;
}

bool walkDirectory(SourceWalk& walk, const fs::path& dir, bool topLevel)
{
    std::vector<Child> children;
    if (!listChildren(dir, children, walk.error)) return false;
    if (topLevel) moveUninstallerFirst(children);
    for (const Child& child : children) {
        if (!addChild(walk, child)) return false;
    }
    return true;
}

}  // namespace

FILE* openSourceFile(const std::string& path, std::uint64_t& device, std::uint64_t& inode, std::uint64_t& size,
                     std::string& error)
{
#ifdef _WIN32
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": cannot open: " + std::strerror(errno);
        return nullptr;
    }
    std::error_code ec;
    size = fs::file_size(path, ec);
    device = inode = 0;
    return f;
#else
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = path + (errno == ELOOP ? std::string(": is a symbolic link now, not the file the source folder held")
                                       : ": cannot open: " + std::string(std::strerror(errno)));
        return nullptr;
    }
    struct stat status;
    FILE* f = nullptr;
    if (::fstat(fd, &status) != 0) {
        error = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        error = path + ": neither a file nor a folder";
    } else if ((f = ::fdopen(fd, "rb")) == nullptr) {
        error = path + ": cannot open: " + std::strerror(errno);
    }
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    device = static_cast<std::uint64_t>(status.st_dev);
    inode = static_cast<std::uint64_t>(status.st_ino);
    size = static_cast<std::uint64_t>(status.st_size);
    return f;
#endif
}

bool collectSourceTree(const std::string& sourceDir, std::vector<PackEntry>& entries, std::string& error)
{
    // Names that the platform cannot convert throw from fs::path; they end the walk with
    // a message instead of the program.
    try {
        std::error_code ec;
        SourceWalk walk;
        walk.entries = &entries;
        walk.canonicalRoot = fs::canonical(fs::path(sourceDir), ec);
        if (ec) {
            error = sourceDir + ": " + ec.message();
            return false;
        }
        if (!fs::is_directory(walk.canonicalRoot, ec)) {
            error = sourceDir + ": not a folder";
            return false;
        }
        walk.openDirs.push_back(walk.canonicalRoot);
        if (!walkDirectory(walk, fs::path(sourceDir), true)) {
            error = walk.error;
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = sourceDir + ": " + e.what();
        return false;
    }
}

}  // namespace wbpack
