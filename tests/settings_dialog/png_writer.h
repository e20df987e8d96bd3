// A minimal PNG writer for the dialog's screenshots: 8-bit RGB, stored
// (uncompressed) deflate blocks, so no compression library is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdt::test {

// `rgb` holds width * height pixels, three bytes each, rows top to bottom.
// Throws std::runtime_error when the file cannot be written.
void WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace pdt::test
