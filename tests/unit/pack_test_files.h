// File helpers shared by the package tests: whole-file reads and writes, a temporary
// folder of the test's own, a stand-in installer stub, and bytes that do not compress.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace packtest {

namespace fs = std::filesystem;

inline std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// A folder of its own below the system's temporary folder, removed afterwards.
struct TempDir {
    fs::path path;
    TempDir()
    {
        static int counter = 0;
        path = fs::temp_directory_path() /
               ("wbpack-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Any bytes with the bare offset record once stand in for the installer: the record at
// byte 102, its offset word at 110, length 114, CRC 118, code page 122, SHA-256 126-157;
// 167 bytes in all.
inline std::string makeStub()
{
    return "MZ" + std::string(100, '\x90') + "WBPKGOFS" + std::string(4, '\xFF') + std::string(44, '\0') + "stub tail";
}

// Deterministic bytes that bzip2 cannot shrink much, so buffers and blocks really fill.
inline std::string noise(std::size_t size, std::uint32_t seed)
{
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

}  // namespace packtest
