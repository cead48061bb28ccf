// Ordered dithering of a page.
//
//   OrderedDither  prepares the working image (border snapping, grey conversion with clamping)
//                  and dithers it with a 3 x 3 threshold matrix laid over the page in tiles
#include "convert/ordered_dither.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/border.h"
#include "pixels.h"

namespace {

// Threshold per cell of a tile, [row][column]: 255 * k / 9 rounded, k = 1, 9, 2 / 5, 4, 8 /
// 6, 7, 3.  A mid-grey pixel is black where its cell's value is at least its grey.
constexpr int aryOrderedDither[3][3] = {
    {28, 255, 57},
    {142, 113, 227},
    {170, 198, 85},
};

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
//   2. The grey of a pixel is its first byte: after the grey conversion all three bytes of
//      every pixel are equal (grey pixels are kept, others are written as one value).
//   3. Padding bytes at the end of a row are never written.
void OrderedDither(unsigned char* pixels, int width, int height, int nByteWidth, int nLight) {
  if (pixels == nullptr || width <= 0 || height <= 0 ||
      static_cast<int64_t>(nByteWidth) < static_cast<int64_t>(width) * 3) {
    return;
  }
  const int nBrightness = BrightnessOffset(nLight);

  SnapBorderPixels(pixels, width, height, nByteWidth, nBrightness);
  ConvertToGray(pixels, width, height, nByteWidth, nBrightness, GrayFinish::kClamp);

  auto black = [](int grey, int cell) { return grey < 225 && (grey <= 49 || cell >= grey); };
  // Rows and columns the tiles cover: tiles start at multiples of 3 below height - 3.
  const int rows = height > 3 ? (height - 1) / 3 * 3 : 0;
  const int cols = width > 3 ? (width - 1) / 3 * 3 : 0;
  // The matrix laid along a row, for each of the three rows of a tile.
  std::vector<unsigned char> cells[3];
  for (int r = 0; r < 3; ++r) {
    cells[r].resize(static_cast<size_t>(cols));
    for (int x = 0; x < cols; ++x) cells[r][static_cast<size_t>(x)] = aryOrderedDither[r][x % 3];
  }
  for (int y = 0; y < rows; ++y) {
    const unsigned char* cell = cells[y % 3].data();
    unsigned char* row = pixels + static_cast<size_t>(y) * nByteWidth;
    for (int x = 0; x < cols; x += 8) {
      unsigned char* p = row + 3 * static_cast<size_t>(x);
      const int n = std::min(8, cols - x);
      const int alike = n == 8 ? EightAlike(p) : -1;
      if (alike >= 0 && black(alike, 0) == black(alike, 255)) {  // every cell decides alike
        std::memset(p, black(alike, 0) ? 0 : 255, 24);
        continue;
      }
      for (int k = 0; k < n; ++k, p += 3) {
        p[0] = p[1] = p[2] = black(p[0], cell[x + k]) ? 0 : 255;
      }
    }
  }
}
