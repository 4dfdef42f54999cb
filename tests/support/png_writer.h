// A minimal PNG writer for test screenshots: 8-bit RGB, stored (uncompressed) deflate
// blocks, so it needs no compression library.
#pragma once

#include <string>
#include <vector>

bool writePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb);
