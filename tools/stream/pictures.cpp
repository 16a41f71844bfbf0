#include "pictures.h"

#include <png.h>

#include <cstring>

#include "command_line.h"
#include "frame_format.h"

bool writePng(FILE* file, const uint8_t* rgb, PictureSize size) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(size.width);
  image.height = static_cast<png_uint_32>(size.height);
  image.format = PNG_FORMAT_RGB;
  int written = png_image_write_to_stdio(&image, file, 0, rgb, 0, nullptr);
  png_image_free(&image);
  return written != 0;
}

int readPicture(const char* path, uint8_t* rgb) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path))
    return fail("cannot read picture '%s': %s", path, image.message);
  if (image.width != kPictureWidth || image.height != kPictureHeight) {
    png_image_free(&image);
    return fail("picture '%s' is %u x %u, not %d x %d", path, image.width, image.height, kPictureWidth,
                kPictureHeight);
  }
  image.format = PNG_FORMAT_RGB;
  if (!png_image_finish_read(&image, nullptr, rgb, 0, nullptr))
    return fail("cannot read picture '%s': %s", path, image.message);
  return 0;
}

namespace {

// Nearest palette index by squared RGB distance; ties go to the lower index, so black is 0.
int nearestPaletteIndex(const uint8_t* rgb) {
  int best = 0;
  long bestDistance = -1;
  for (int index = 0; index < 16; ++index) {
    long red = rgb[0] - kPalette[index].red;
    long green = rgb[1] - kPalette[index].green;
    long blue = rgb[2] - kPalette[index].blue;
    long distance = red * red + green * green + blue * blue;
    if (bestDistance < 0 || distance < bestDistance) {
      best = index;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

void quantisePicture(const uint8_t* rgb, uint8_t* cells) {
  for (int cell = 0; cell < FrameFormat::kCellsPerFrame; ++cell) {
    const uint8_t* left = rgb + cell * 2 * 3;
    cells[cell] = static_cast<uint8_t>(nearestPaletteIndex(left) | nearestPaletteIndex(left + 3) << 4);
  }
}

void copyPicture(const FrameBuffer& picture, bool wide, uint8_t* rgb) {
  const PictureSize size = pictureSize(wide);
  for (int line = 0; line < size.height; ++line) {
    const uint32_t* row = picture.row(line);
    for (int x = 0; x < size.width; ++x) {
      rgb[0] = static_cast<uint8_t>(row[x] >> 16);
      rgb[1] = static_cast<uint8_t>(row[x] >> 8);
      rgb[2] = static_cast<uint8_t>(row[x]);
      rgb += 3;
    }
  }
}
