// The cost of the installer's integrity check, measured on a real installer: the
// installer's own checkPackage over the package its record describes (its SHA-256 through
// Windows' provider), with the file in the cache, as it is when the user has just
// downloaded it.
//
// Usage: bench_check SETUP.EXE RUNS
// Prints "sample kind=check run=R check_ms=M" per run, or "error ..." and exit status 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/package_format.h"
#include "installer/package_reader.h"

namespace {

int fail(const std::string& message)
{
    std::printf("error %s\n", message.c_str());
    return 1;
}

std::uint32_t word(const std::string& bytes, std::size_t at)
{
    return littleEndian32(reinterpret_cast<const unsigned char*>(bytes.data() + at));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) return fail("usage: bench_check SETUP.EXE RUNS");
    int runs = std::atoi(argv[2]);
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) return fail(std::string("cannot open ") + argv[1]);
    // The record lies in the stub, well inside its first megabyte.
    std::string head(1 << 20, '\0');
    head.resize(std::fread(&head[0], 1, head.size(), f));
    std::fclose(f);
    std::size_t at = head.find(wbformat::kOffsetMarker);
    if (at == std::string::npos || at + wbformat::kOffsetRecordSize > head.size()) return fail("no package record");
    std::uint32_t offset = word(head, at + wbformat::kRecordOffsetAt);
    std::uint32_t length = word(head, at + wbformat::kRecordLengthAt);
    std::uint32_t crc = word(head, at + wbformat::kRecordCrcAt);
    if (length == 0) return fail("the package record has no length");
    const unsigned char* digest = reinterpret_cast<const unsigned char*>(head.data() + at + wbformat::kRecordDigestAt);
    HANDLE file = openInstallerFile(argv[1]);
    if (file == INVALID_HANDLE_VALUE) return fail(std::string("cannot open ") + argv[1]);
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    for (int run = 1; run <= runs; ++run) {
        QueryPerformanceCounter(&t0);
        const char* problem = checkPackage(file, offset, length, crc, digest);
        QueryPerformanceCounter(&t1);
        if (problem) return fail(std::string("the package fails its own check: ") + problem);
        std::printf("sample kind=check run=%d check_ms=%.2f\n", run,
                    1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    CloseHandle(file);
    return 0;
}
