#include "tests/support/png_writer.h"

#include <cstdint>
#include <cstdio>

namespace {

std::uint32_t crcTable[256];

void makeCrcTable()
{
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[n] = c;
    }
}

std::uint32_t crc(const std::vector<unsigned char>& bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = crcTable[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putBig32(std::vector<unsigned char>& out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void writeChunk(std::FILE* file, const char* type, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> head;
    putBig32(head, static_cast<std::uint32_t>(data.size()));
    std::fwrite(head.data(), 1, 4, file);
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    std::fwrite(body.data(), 1, body.size(), file);
    std::vector<unsigned char> tail;
    putBig32(tail, crc(body));
    std::fwrite(tail.data(), 1, 4, file);
}

}  // namespace

bool writePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb)
{
    makeCrcTable();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::fwrite(signature, 1, 8, file);

    std::vector<unsigned char> ihdr;
    putBig32(ihdr, static_cast<std::uint32_t>(width));
    putBig32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    writeChunk(file, "IHDR", ihdr);

    // Raw scanlines, each with filter byte 0, wrapped in a zlib stream of stored blocks.
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + static_cast<long>(y) * width * 3,
                   rgb.begin() + static_cast<long>(y + 1) * width * 3);
    }
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n));
        z.push_back(static_cast<unsigned char>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(z, (b << 16) | a);
    writeChunk(file, "IDAT", z);
    writeChunk(file, "IEND", {});
    return std::fclose(file) == 0;
}
