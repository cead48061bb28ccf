// Ordered dithering of a page.
//
//   OrderedDither  prepares the working image (border snapping, grey conversion with clamping)
//                  and dithers it with a 3 x 3 threshold matrix laid over the page in tiles
#include "convert/ordered_dither.h"

#include <cstddef>
#include <cstdint>

#include "convert/border.h"

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
  // Truncating division; offsets beyond +-1024 decide nothing more, and stay far from overflow.
  int64_t brightness = (100 - static_cast<int64_t>(nLight)) * 255 / 100;
  brightness = brightness > 1024 ? 1024 : (brightness < -1024 ? -1024 : brightness);
  const int nBrightness = static_cast<int>(brightness);

  SnapBorderPixels(pixels, width, height, nByteWidth, nBrightness);
  ConvertToGray(pixels, width, height, nByteWidth, nBrightness, GrayFinish::kClamp);

  for (int intY = 0; intY < height - 3; intY += 3) {
    for (int intX = 0; intX < width - 3; intX += 3) {
      for (int intODY = 0; intODY < 3; ++intODY) {
        unsigned char* p = pixels + static_cast<size_t>(intY + intODY) * nByteWidth +
                           3 * static_cast<size_t>(intX);
        for (int intODX = 0; intODX < 3; ++intODX, p += 3) {
          const int intGray = p[0];
          const bool black =
              intGray < 225 && (intGray <= 49 || aryOrderedDither[intODY][intODX] >= intGray);
          p[0] = p[1] = p[2] = black ? 0 : 255;
        }
      }
    }
  }
}
