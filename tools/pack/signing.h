// Signing a built installer (Linux only: it runs osslsigncode).
#pragma once

#include <string>

namespace wbpack {

struct SigningKey {
    std::string pkcs12;         // the certificate and key, PKCS#12
    std::string passwordFile;   // its password on the first line; empty: none
};

// Where build writes the installer that is then signed into outPath.
std::string unsignedPath(const std::string& outPath);

// Signs unsignedFile into outPath (SHA-256), which gets the permission bits `mode` less
// the umask. The unsigned file is removed either way; outPath is replaced only on success.
bool signInstaller(const std::string& unsignedFile, const std::string& outPath, const SigningKey& key, unsigned mode,
                   std::string& error);

unsigned currentUmask();

}  // namespace wbpack
