// Ordered dithering of a page.
//
//   OrderedDither  prepares the working image (border snapping, grey conversion with clamping)
//                  and dithers it with a 3 x 3 threshold matrix laid over the page in tiles
#include "convert/ordered_dither.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/border.h"

namespace {

// Threshold per cell of a tile, [row][column]: 255 * k / 9 rounded, k = 1, 9, 2 / 5, 4, 8 /
// 6, 7, 3.  A mid-grey pixel is black where its cell's value is at least its grey.
constexpr int aryOrderedDither[3][3] = {
    {28, 255, 57},
    {142, 113, 227},
    {170, 198, 85},
};

// Sixteen bytes at a time (SSE2 on x86-64, NEON on Arm, plain code elsewhere).
using Bytes16 = unsigned char __attribute__((vector_size(16)));

// Number of leading rows (or columns) of a side of n pixels that tiles cover: a tile starts
// only where its first row is below n - 3, so up to three rows at the end are never covered.
int TiledExtent(int n) { return n > 3 ? (n - 3 + 2) / 3 * 3 : 0; }

}  // namespace

// Dithers the width x height working image `pixels` (row stride nByteWidth) in place.
//
// Inputs: nLight, the light level in percent (100 adds no offset); nByteWidth must be three
// bytes per pixel rounded up to a multiple of four, the stride the boundary test assumes.
//
// Output: every pixel a tile covers becomes (0, 0, 0) or (255, 255, 255): grey 225 and up
// white, 49 and below black, and in between black where the cell's threshold is at least the
// grey.  Pixels no tile covers keep the values the two preparation passes left.
//
// Notes:
//   1. Tiles are 3 x 3 and start at multiples of 3 strictly below height - 3 and width - 3: a
//      6-row image has rows 0 to 2 dithered, a 7-row image rows 0 to 5; an image of 3 or fewer
//      rows or columns is prepared but not dithered.
//   2. The grey of a pixel is its first byte.  After the grey conversion all three bytes of
//      every pixel are equal (grey pixels are kept, others are written as one value), so the
//      tiles are worked byte by byte, sixteen at a time, with the same result.
//   3. Padding bytes at the end of a row are never written.
void OrderedDither(unsigned char* pixels, int width, int height, int nByteWidth, int nLight) {
  if (pixels == nullptr || width <= 0 || height <= 0 ||
      static_cast<int64_t>(nByteWidth) < static_cast<int64_t>(width) * 3) {
    return;
  }
  // Truncating division; offsets beyond +-1024 decide nothing more, and stay far from overflow.
  int64_t brightness = (100 - static_cast<int64_t>(nLight)) * 255 / 100;
  brightness = brightness > 1024 ? 1024 : (brightness < -1024 ? -1024 : brightness);
  const int nBrightness = static_cast<int>(brightness);

  SnapBordersThenConvertToGray(pixels, width, height, nByteWidth, nBrightness, GrayFinish::kClamp);

  // A pixel of grey g is black in a cell of threshold T exactly when g <= max(49, min(T, 224)):
  // up to 49 always, from 225 never, and in between where T >= g.  That bound, per byte of a
  // row of tiles (a pixel's three bytes share their cell), repeats every 9 bytes; 144 bytes
  // (nine blocks of 16) hold a whole number of repeats.
  unsigned char bound[3][144];
  for (int r = 0; r < 3; ++r) {
    for (int j = 0; j < 144; ++j) {
      bound[r][j] =
          static_cast<unsigned char>(std::max(49, std::min(aryOrderedDither[r][j / 3 % 3], 224)));
    }
  }

  const int rows = TiledExtent(height);
  const size_t tiledBytes = static_cast<size_t>(TiledExtent(width)) * 3;
  const size_t stride = static_cast<size_t>(nByteWidth);
  for (int y = 0; y < rows; ++y) {
    const unsigned char* b = bound[y % 3];
    unsigned char* row = pixels + static_cast<size_t>(y) * stride;
    size_t j = 0;
    for (; j + 16 <= tiledBytes; j += 16) {
      Bytes16 g, limit;
      std::memcpy(&g, row + j, 16);
      std::memcpy(&limit, b + j % 144, 16);
      const Bytes16 out = static_cast<Bytes16>(g > limit);  // 0xFF white, 0 black
      std::memcpy(row + j, &out, 16);
    }
    for (; j < tiledBytes; ++j) row[j] = row[j] > b[j % 144] ? 255 : 0;
  }
}
