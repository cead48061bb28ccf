// Preparation passes that both dithering methods run before they quantise.
//
//   IsBorder          classifies a pixel as a soft step on a light/dark boundary (or not)
//   SnapBorderPixels  pass 1: sets such boundary pixels to black or white, following the
//                     neighbour along the boundary, so that edges print clean
//   ConvertToGray     pass 2: turns coloured pixels into grey by luma weights, finished by
//                     clamping (ordered dithering) or snapping (error diffusion)
#include "convert/border.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "log.h"
#include "pixels.h"

// The luma sum below must round exactly as written (product, then sum, in double); a fused
// multiply-add would move some pixels across a grey level.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

// Kind of boundary of pixel (x, y), -1 for none, in an image at `base` with row stride `stride`.
// Each neighbour's existence is checked before it is read.
// Only mid-greys can be boundary pixels.
inline bool MidGrey(const unsigned char* p) {
  const int sum = p[0] + p[1] + p[2];  // GreyOf(p) from 50 to 229
  return sum >= 150 && sum <= 689;
}

inline int Classify(const unsigned char* base, size_t stride, int x, int y, int width, int height) {
  const unsigned char* p = base + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
  if (!MidGrey(p)) return -1;
  const bool hasLeft = x >= 1, hasRight = x <= width - 2;
  const bool hasAbove = y >= 1, hasBelow = y <= height - 2;
  auto left = [&] { return GreyOf(p - 3); };
  auto right = [&] { return GreyOf(p + 3); };
  auto above = [&] { return GreyOf(p - stride); };
  auto below = [&] { return GreyOf(p + stride); };
  if (hasLeft && hasRight && left() >= 230 && right() <= 99) {
    return hasAbove && above() >= 230 ? 1 : 0;
  }
  if (hasAbove && hasBelow && above() >= 225 && below() <= 99) {
    return hasRight && right() >= 230 ? 3 : 2;
  }
  if (hasRight && hasLeft && right() >= 225 && left() <= 99) {
    return hasBelow && below() >= 230 ? 5 : 4;
  }
  if (hasBelow && hasAbove && below() >= 225 && above() <= 99) return 6;
  return -1;
}

bool ValidImage(const unsigned char* pixels, int width, int height, int nByteWidth) {
  return pixels != nullptr && width > 0 && height > 0 &&
         static_cast<int64_t>(nByteWidth) >= static_cast<int64_t>(width) * 3;
}

// A decision of the snapping pass: the pixel's column and its new value (0 or 255).
struct Snap {
  int x;
  unsigned char value;
};

}  // namespace

// Returns -1 (no boundary) or 0..6 for pixel (x, y) of a pColorBuf image nWidth x nHeight.
//
// Notes:
//   1. The row stride is derived from nWidth: three bytes per pixel rounded up to a multiple of
//      four.
//   2. A pixel outside the image (or a null image) is no boundary pixel: -1.
int IsBorder(const unsigned char* pColorBuf, int x, int y, int nWidth, int nHeight) {
  if (pColorBuf == nullptr || x < 0 || y < 0 || x >= nWidth || y >= nHeight) return -1;
  return Classify(pColorBuf, WorkingImageStride(nWidth), x, y, nWidth, nHeight);
}

// Pass 1: every boundary pixel of kinds 0 and 4 takes the decision of the pixel above, of kinds
// 2 and 6 that of the pixel on the left: white when that pixel's grey plus nBrightness is above
// 150, black otherwise.  Other pixels, and pixels whose deciding neighbour does not exist, are
// kept.
//
// Notes:
//   1. All tests and neighbour values read the image as it was before the pass.  The decisions
//      of row y are therefore held back until row y + 1 (the last row that reads row y) has
//      been classified; only two rows of decisions are kept, not a copy of the page.
//   2. If that small buffer cannot be allocated, the pass is skipped and the image is left as
//      it is (one log line).
//   3. The row stride is nByteWidth; it must equal the one IsBorder derives from the width.  An
//      image whose stride is shorter than its pixels is left alone.  Padding is never written.
void SnapBorderPixels(unsigned char* pixels, int width, int height, int nByteWidth,
                      int nBrightness) {
  if (!ValidImage(pixels, width, height, nByteWidth)) return;
  const size_t stride = static_cast<size_t>(nByteWidth);
  const int offset = std::clamp(nBrightness, -1024, 1024);
  std::vector<Snap> pending[2];
  try {
    pending[0].reserve(static_cast<size_t>(width));
    pending[1].reserve(static_cast<size_t>(width));
  } catch (const std::bad_alloc&) {
    Error("SnapBorderPixels: out of memory, pass skipped");
    return;
  }
  auto apply = [&](std::vector<Snap>& snaps, int y) {
    for (const Snap& s : snaps) {
      unsigned char* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(s.x) * 3;
      p[0] = p[1] = p[2] = s.value;
    }
    snaps.clear();
  };
  for (int y = 0; y < height; ++y) {
    std::vector<Snap>& mine = pending[y & 1];
    const unsigned char* row = pixels + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = row + static_cast<size_t>(x) * 3;
      if ((x & 7) == 0 && x + 8 <= width && EightAlike(p) >= 0 && !MidGrey(p)) {
        x += 7;  // eight pixels of one grey that no boundary has
        continue;
      }
      if (!MidGrey(p)) continue;
      const int r = Classify(pixels, stride, x, y, width, height);
      const unsigned char* from = (r == 0 || r == 4) && y >= 1   ? p - stride
                                  : (r == 2 || r == 6) && x >= 1 ? p - 3
                                                                 : nullptr;
      if (from != nullptr)
        mine.push_back({x, GreyOf(from) + offset > 150 ? uint8_t{255} : uint8_t{0}});
    }
    if (y >= 1) apply(pending[(y - 1) & 1], y - 1);  // row y - 1 has been read for the last time
  }
  apply(pending[(height - 1) & 1], height - 1);
}

// Pass 2: a pixel whose three bytes differ becomes grey: Y = (0.299 R + 0.587 G) + 0.114 B in
// double precision, truncated, plus nBrightness, then finished by `finish`:
//   kClamp  limits it to 0..255;
//   kSnap   makes 0..99 black and 226 and up white, and keeps 100..225.
// Pixels with three equal bytes are kept as they are, without the offset.
//
// Notes:
//   1. Byte 0 is blue, byte 1 green, byte 2 red.
//   2. An image whose stride is shorter than its pixels is left alone; padding is never written.
void ConvertToGray(unsigned char* pixels, int width, int height, int nByteWidth, int nBrightness,
                   GrayFinish finish) {
  if (!ValidImage(pixels, width, height, nByteWidth)) return;
  const int offset = std::clamp(nBrightness, -1024, 1024);
  for (int y = 0; y < height; ++y) {
    unsigned char* p = pixels + static_cast<size_t>(y) * nByteWidth;
    for (int x = 0; x < width; ++x, p += 3) {
      if ((x & 7) == 0 && x + 8 <= width && EightAlike(p) >= 0) {
        x += 7;
        p += 21;
        continue;
      }
      if (p[0] == p[1] && p[1] == p[2]) continue;
      const double luma = (0.299 * p[2] + 0.587 * p[1]) + 0.114 * p[0];
      int v = static_cast<int>(luma) + offset;
      if (finish == GrayFinish::kClamp) {
        v = std::clamp(v, 0, 255);
      } else {
        v = v <= 99 ? 0 : (v > 225 ? 255 : v);
      }
      p[0] = p[1] = p[2] = static_cast<unsigned char>(v);
    }
  }
}
