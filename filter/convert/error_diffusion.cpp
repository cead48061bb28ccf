// Error diffusion of a page.
//
//   ErrorDiffusion    prepares the working image (border snapping, grey conversion with
//                     snapping) and quantises it to black and white, handing each pixel's error
//                     on to its mid-grey neighbours with the weights 7/16, 3/16, 5/16, 1/16
//   FindNearestColor  the palette entry nearest to a packed colour
//   PlusTruncate      a byte plus a signed share, clamped to 0..255
#include "convert/error_diffusion.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/border.h"
#include "pixels.h"

namespace {

constexpr uint32_t kPalette[2] = {0x000000, 0xFFFFFF};

// Share of an error for one neighbour: an arithmetic shift, i.e. division by 16 rounded toward
// minus infinity (-127 * 7 gives -56, not -55).
constexpr int Share(int e, int weight) { return (e * weight) >> 4; }

// The neighbours that take a share of a pixel's error, in order, and the greys they take it at.
struct Neighbour {
  int dx, dy, weight, highest;
};
constexpr Neighbour kNeighbours[] = {
    {1, 0, 7, 224}, {-1, 1, 3, 229}, {0, 1, 5, 224}, {1, 1, 1, 224}};

}  // namespace

// a + b clamped to 0..255.
unsigned char PlusTruncate(unsigned char a, int b) {
  // 64-bit sum: no b can overflow it.
  const int64_t s = static_cast<int64_t>(a) + b;
  return static_cast<unsigned char>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

// Returns the entry of palette[0..nLength) nearest to `color` by squared distance over the three
// bytes; ties go to the lower index.
//
// Notes:
//   1. nLength 0 (or less) returns palette[0].
//   2. The best index is kept in one byte: palettes of more than 256 entries are not supported
//      (later entries wrap onto earlier ones).
uint32_t FindNearestColor(uint32_t color, const uint32_t* palette, int nLength) {
  int minDistanceSquared = 195076;  // 3 * 255^2 + 1, more than any distance
  unsigned char bestIndex = 0;
  for (int i = 0; i < nLength; ++i) {
    const int Rdiff = static_cast<int>(color & 0xFF) - static_cast<int>(palette[i] & 0xFF);
    const int Gdiff =
        static_cast<int>((color >> 8) & 0xFF) - static_cast<int>((palette[i] >> 8) & 0xFF);
    const int Bdiff =
        static_cast<int>((color >> 16) & 0xFF) - static_cast<int>((palette[i] >> 16) & 0xFF);
    const int distanceSquared = Rdiff * Rdiff + Gdiff * Gdiff + Bdiff * Bdiff;
    if (distanceSquared < minDistanceSquared) {
      minDistanceSquared = distanceSquared;
      bestIndex = static_cast<unsigned char>(i);
    }
  }
  return palette[bestIndex];
}

// Quantises the cx x cy working image `pBits` (row stride nByteWidth) in place to black and
// white; returns 0.
//
// Inputs: nLight, the light level in percent (100 adds no offset); nByteWidth must be three
// bytes per pixel rounded up to a multiple of four, the stride the boundary test assumes.
//
// Output: every pixel (0, 0, 0) or (255, 255, 255): white where the nearest palette colour is
// white (a grey pixel from 128 up).
//
// Notes:
//   1. Rows top to bottom, each left to right.  The error of a pixel, its value minus the
//      chosen colour's, goes to right (7/16), below left (3/16), below (5/16) and below right
//      (1/16), in that order, to each only if it exists and its grey is 51 to 224 (51 to 229 for
//      below left).  Shares are added to the bytes with clamping: the error lives in the image,
//      there is no error buffer.
//   2. The preparation leaves every pixel grey (three equal bytes: kept, or written as one
//      value), and equal errors keep it so: a pixel's grey is its first byte, its three errors
//      and shares are one, and all three bytes are written.
//   3. A pixel already black or white has no error and hands nothing on.
//   4. Padding bytes at the end of a row are never written.
int ErrorDiffusion(unsigned char* pBits, int cx, int cy, int nByteWidth, int nLight) {
  if (pBits == nullptr || cx <= 0 || cy <= 0 ||
      static_cast<int64_t>(nByteWidth) < static_cast<int64_t>(cx) * 3) {
    return 0;
  }
  const int nBrightness = BrightnessOffset(nLight);

  SnapBorderPixels(pBits, cx, cy, nByteWidth, nBrightness);
  ConvertToGray(pBits, cx, cy, nByteWidth, nBrightness, GrayFinish::kSnap);

  // The palette colour of each grey (white from 128 up), looked up once here.
  unsigned char nearest[256];
  for (int g = 0; g < 256; ++g) {
    const uint32_t currentPixel = static_cast<uint32_t>(g) * 0x010101u;
    nearest[g] = static_cast<unsigned char>(FindNearestColor(currentPixel, kPalette, 2) & 0xFF);
  }
  const size_t stride = static_cast<size_t>(nByteWidth);
  auto at = [&](int x, int y) {
    return pBits + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x);
  };
  for (int y = 0; y < cy; ++y) {
    for (int x = 0; x < cx; ++x) {
      unsigned char* p = at(x, y);
      // Black and white take no error (it is outside every neighbour's range) and hand none on.
      const int alike = (x & 7) == 0 && x + 8 <= cx ? EightAlike(p) : -1;
      if (alike == 0 || alike == 255) {
        x += 7;
        continue;
      }
      const int e = p[0] - nearest[p[0]];
      p[0] = p[1] = p[2] = nearest[p[0]];
      if (e == 0) continue;  // black and white carry no error
      for (const Neighbour& n : kNeighbours) {
        const int nx = x + n.dx, ny = y + n.dy;
        if (nx < 0 || nx >= cx || ny >= cy) continue;
        unsigned char* q = at(nx, ny);
        if (q[0] < 51 || q[0] > n.highest) continue;
        q[0] = q[1] = q[2] = PlusTruncate(q[0], Share(e, n.weight));
      }
    }
  }
  return 0;
}
