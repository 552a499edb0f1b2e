#include "platform/raster/png.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velmora {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32(out,
        static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

}  // namespace

bool WritePng(const Raster& raster, const std::string& path, std::string& error) {
  const int w = raster.Width(), h = raster.Height();
  std::vector<uint8_t> rows;
  rows.reserve(static_cast<size_t>(h) * (1 + 3 * w));
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);  // no filter
    for (int x = 0; x < w; ++x) {
      const Color c = raster.ColorAt(x, y);
      rows.insert(rows.end(), {c.r, c.g, c.b});
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 9) !=
      Z_OK) {
    error = "cannot compress the image";
    return false;
  }
  packed.resize(packedSize);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(header, static_cast<uint32_t>(w));
  Put32(header, static_cast<uint32_t>(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});

  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot create '" + path + "': " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = "cannot write '" + path + "'";
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace velmora
