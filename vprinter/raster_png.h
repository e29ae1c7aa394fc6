// A raster image as a PNG, for the front page.
#pragma once

#include <stdint.h>

#include <vector>

#include "vprinter/paper.h"

namespace vprinter {

// One pixel per dot: black dots on white, and in red the dots a short row
// declared but never received. Empty when there is nothing to draw (no rows)
// or the image is too large to draw.
std::vector<uint8_t> rasterPng(const RasterImage& image);

} // namespace vprinter
