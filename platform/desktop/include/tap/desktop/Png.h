// A minimal PNG writer for snapshots of the screen: 8-bit RGB, no filtering, the image data in
// stored (uncompressed) deflate blocks inside a zlib stream, with the CRC-32 and Adler-32 the
// format requires. Any PNG viewer reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tap/desktop/Framebuffer.h"

namespace tap::desktop {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size);

std::vector<uint8_t> EncodePng(const Framebuffer& image);
// Writes the PNG file; false when the file cannot be written.
bool WritePng(const Framebuffer& image, const std::string& path);

} // namespace tap::desktop
