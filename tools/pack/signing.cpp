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

bool signInstaller(const std::string& unsignedFile, const std::string& outPath, const SigningKey& key, unsigned mode,
                   std::string& error)
{
    std::string signedFile = outPath + ".signed.wbpack-tmp";
    std::error_code ec;
    fs::remove(signedFile, ec);
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
    } else if (::chmod(signedFile.c_str(), static_cast<mode_t>(mode & 0777 & ~currentUmask())) != 0) {
        error = signedFile + ": cannot set its permissions: " + std::strerror(errno);
    } else {
        fs::rename(signedFile, outPath, ec);
        if (ec) error = outPath + ": cannot rename " + signedFile + " into place: " + ec.message();
        ok = !ec;
    }
    if (!ok) fs::remove(signedFile, ec);
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
