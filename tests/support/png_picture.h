// PNG pictures for the native tests, through libpng's simplified interface: 8-bit RGB, top line
// first, as the stream tool reads and writes them.
#pragma once
#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 8-bit RGB, top line first
};

inline bool readPng(const std::string& path, Picture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  picture.width = static_cast<int>(image.width), picture.height = static_cast<int>(image.height);
  picture.rgb.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

inline bool writePng(const std::string& path, const Picture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_RGB;
  bool written = png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return written;
}
