#include "vprinter/raster_png.h"

#include <png.h>
#include <string.h>

namespace vprinter {

namespace {

// Beyond this many dots an image is described, not drawn: a row of 65,535
// bytes over thousands of empty rows would otherwise need gigabytes.
const uint64_t DRAWN_DOTS_LIMIT = 16u << 20;

enum Colour : uint8_t { WHITE, BLACK, MISSING };
const uint8_t PALETTE[] = { 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xE0, 0x30, 0x30 };

} // namespace

std::vector<uint8_t> rasterPng(const RasterImage& image)
{
    uint32_t width = image.widthDots();
    uint64_t height = image.rows.size();
    if (width == 0 || height == 0 || width * height > DRAWN_DOTS_LIMIT) return {};
    std::vector<uint8_t> pixels(width * height, WHITE);
    for (size_t y = 0; y < height; ++y) {
        const RasterRow& row = image.rows[y];
        uint8_t* out = pixels.data() + y * width;
        for (size_t x = 0; x < row.declared * 8u; ++x) {
            size_t byte = x / 8;
            if (byte >= row.data.size()) {
                out[x] = MISSING;
            } else if (row.data[byte] & (0x80 >> (x % 8))) {
                out[x] = BLACK;
            }
        }
    }
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB_COLORMAP;
    png.colormap_entries = sizeof PALETTE / 3;
    std::vector<uint8_t> encoded(PNG_IMAGE_PNG_SIZE_MAX(png));
    png_alloc_size_t size = encoded.size();
    if (!png_image_write_to_memory(&png, encoded.data(), &size, 0, pixels.data(), 0, PALETTE)) {
        png_image_free(&png);
        return {};
    }
    encoded.resize(size);
    return encoded;
}

} // namespace vprinter
