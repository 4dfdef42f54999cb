// Signing the installer with an Authenticode signature through osslsigncode. The signature
// is appended after the package, where the installer's check does not look, so a signed
// installer installs exactly like the unsigned one.
#include "tools/pack/signing.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace wbpack {

std::string unsignedPath(const std::string& outPath)
{
    return outPath + ".unsigned.wbpack-tmp";
}

namespace {

// Sets the permissions through the file itself, never through a link.
bool setModeOf(const std::string& path, mode_t mode)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool set = ::fchmod(fd, mode) == 0;
    ::close(fd);
    return set;
}

}  // namespace

bool signInstaller(const std::string& unsignedFile, const std::string& outPath, const SigningKey& key, unsigned mode,
                   std::string& error)
{
    // osslsigncode writes only a file that does not exist yet, so it writes into a folder
    // of a name no one can guess, made here and now and open to this user alone: in an
    // output folder others can write, no one can put a link where the signed file goes.
    std::string folder = outPath + ".signing.XXXXXX";
    std::error_code ec;
    if (!::mkdtemp(&folder[0])) {
        error = outPath + ": cannot make a folder to sign in beside it: " + std::strerror(errno);
        fs::remove(unsignedFile, ec);
        return false;
    }
    std::string signedFile = folder + "/signed.exe";
    std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", key.pkcs12};
    if (!key.passwordFile.empty()) args.insert(args.end(), {"-readpass", key.passwordFile});
    args.insert(args.end(), {"-h", "sha256", "-in", unsignedFile, "-out", signedFile});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // Its "Succeeded" would mix with the builder's own summary; its complaints still show.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int spawned = posix_spawnp(&pid, "osslsigncode", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    bool ok = false;
    if (spawned != 0) {
        error = std::string("cannot run osslsigncode: ") + std::strerror(spawned) +
                " (Debian: apt-get install osslsigncode)";
    } else if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "osslsigncode could not sign " + outPath + " with " + key.pkcs12 + " (see its message above)";
    } else if (!setModeOf(signedFile, static_cast<mode_t>(mode & 0777 & ~currentUmask()))) {
        error = signedFile + ": cannot set its permissions: " + std::strerror(errno);
    } else {
        fs::rename(signedFile, outPath, ec);
        if (ec) error = outPath + ": cannot rename " + signedFile + " into place: " + ec.message();
        ok = !ec;
    }
    fs::remove_all(folder, ec);
    fs::remove(unsignedFile, ec);
    return ok;
}

unsigned currentUmask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace wbpack
