// Reading the pictures that makeraster turns into raster pages.
//
//   ReadImage   a PBM/PGM/PPM (P1-P6) or PNG file as 8-bit grey or RGB
//   BlankImage  an all-white grey picture of a given size
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A picture of 8-bit samples, rows top to bottom, no padding: one sample per
// pixel for grey, three (R, G, B) for colour. 0 is black, 255 white.
struct Image {
  size_t width = 0;
  size_t height = 0;
  int channels = 1;  // 1 or 3
  std::vector<uint8_t> pixels;

  const uint8_t* Row(size_t y) const { return pixels.data() + y * width * channels; }
};

// Why a file could not be read, with the file name in front.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the file by its content (not its name). Notes:
//  1. PGM and PPM samples are scaled from maxval to 255; maxvals above 255
//     (16-bit samples) are refused.
//  2. PNG of any bit depth and colour type is brought to 8-bit grey or RGB;
//     transparency is composited on white, as a page would be.
//  3. Pictures larger than 65535 pixels a side are refused: no raster page
//     is that large, and the limit keeps sizes well inside size_t.
Image ReadImage(const std::string& path);

Image BlankImage(size_t width, size_t height);
