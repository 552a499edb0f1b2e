// Writes a raster as an 8-bit RGB PNG. Links zlib.
#pragma once

#include <string>

#include "platform/raster/raster.h"

namespace velmora {

// Returns false and sets `error` when the file cannot be written.
bool WritePng(const Raster& raster, const std::string& path, std::string& error);

}  // namespace velmora
