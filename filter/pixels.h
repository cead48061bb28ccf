// Pixel helpers shared by every stage, each defined once.
//
//   BitmapStride        bytes of a page bitmap row: dots rounded up to 32
//   WorkingImageStride  bytes of a 24-bit working image row: three per dot, rounded up to four
//   GreyOf              the grey of a working image pixel: the mean of its three bytes
//   EightAlike          the byte that fills eight working image pixels from p, or -1
//   Within              |a - b| <= k
//   BrightnessOffset    the grey offset of a light level in percent
//   WhiteBased          whether a raster colour space has 0 for black (W, SW)
#pragma once

#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline std::size_t BitmapStride(std::size_t widthDots) { return ((widthDots + 31) >> 5) * 4; }

inline std::size_t WorkingImageStride(std::size_t widthDots) {
  return ((widthDots * 24 + 31) >> 5) << 2;
}

inline int GreyOf(const unsigned char* p) { return (p[0] + p[1] + p[2]) / 3; }

// Most of a label is white paper or solid black; passes step over such stretches eight pixels
// (24 bytes) at a time.
inline int EightAlike(const unsigned char* p) {
  std::uint64_t eight[3];
  std::memcpy(eight, p, sizeof eight);
  const std::uint64_t fill = (eight[0] & 0xFF) * 0x0101010101010101u;
  return eight[0] == fill && eight[1] == fill && eight[2] == fill ? static_cast<int>(p[0]) : -1;
}

inline bool Within(int a, int b, int k) { return a - b >= -k && a - b <= k; }

// (100 - level) * 255 / 100, truncating; kept within +-1024, beyond which no grey decision
// changes, so that no level from a job can overflow a sum.
inline int BrightnessOffset(int nLight) {
  const int64_t offset = (100 - static_cast<int64_t>(nLight)) * 255 / 100;
  return static_cast<int>(std::clamp<int64_t>(offset, -1024, 1024));
}

// Raster colour spaces whose 0 is black; the filter's pages are black-based otherwise.
inline bool WhiteBased(unsigned colorSpace) {
  return colorSpace == CUPS_CSPACE_W || colorSpace == CUPS_CSPACE_SW;
}
