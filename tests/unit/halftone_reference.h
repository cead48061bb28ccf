// Plain renderings of the preparation passes, and the test images they run on, shared by the
// tests of the boundary passes and of both dithering methods.
//
// Contents
//   kPad                 the byte the padding of a test image is filled with
//   PaddedImage          a working image at the filter's stride; each test file derives its
//                        Image from it and adds the calls of the pass it tests
//   Grey                 the mean of a pixel's three bytes
//   RefIsBorder          the kind of boundary at a pixel, -1 for none
//   RefSnapBorderPixels  pass 1: boundary pixels to black or white from their neighbour
//   RefConvertToGray     pass 2: colour pixels to grey by luma, clamped or snapped
//   RefPrepare           both passes, as the dithering methods run them
//   SparseLabel          white with a few boxes with soft rims, for the cross-checks
//
// The renderings are written straight from the definitions, one rule at a time, and never call
// the filter's passes: they are the independent side of the byte-for-byte cross-checks.
//
// Notes
//   1. Including this header turns off floating-point contraction for the rest of the file, so
//      that plain arithmetic there rounds one operation at a time, as the filter does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "convert/border.h"  // GrayFinish only

// The luma below must round one operation at a time, as the filter does; a fused multiply-add
// would move some pixels across a grey level.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace halftone_reference {

inline constexpr unsigned char kPad = 0xA5;

// A working image at the filter's stride (three bytes per pixel, rows rounded up to four
// bytes), with the padding bytes set to kPad so that a write to them shows.  Self is the test
// file's own Image, which Of returns.
template <class Self>
struct PaddedImage {
  int w, h;
  size_t stride;
  std::vector<unsigned char> bytes;
  PaddedImage(int width, int height, int fill = 255)
      : w(width),
        h(height),
        stride((size_t(width) * 24 + 31) / 32 * 4),
        bytes(stride * height, kPad) {
    for (int y = 0; y < h; ++y) {
      std::fill_n(bytes.begin() + y * stride, 3 * w, static_cast<unsigned char>(fill));
    }
  }
  unsigned char* at(int x, int y) { return &bytes[y * stride + x * 3]; }
  void set(int x, int y, int b0, int b1, int b2) {
    unsigned char* p = at(x, y);
    p[0] = b0, p[1] = b1, p[2] = b2;
  }
  void grey(int x, int y, int g) { set(x, y, g, g, g); }
  int g(int x, int y) { return at(x, y)[0]; }
  // Rows given as greys, top to bottom.
  static Self Of(std::vector<std::vector<int>> rows) {
    Self img(int(rows[0].size()), int(rows.size()));
    for (int y = 0; y < img.h; ++y)
      for (int x = 0; x < img.w; ++x) img.grey(x, y, rows[y][x]);
    return img;
  }
};

// The mean of the three bytes of pixel (x, y) of an image w pixels wide, at the filter's stride.
inline int Grey(const unsigned char* img, int x, int y, int w) {
  const unsigned char* p = img + y * (((w * 24 + 31) / 32) * 4) + x * 3;
  return (p[0] + p[1] + p[2]) / 3;
}

// Kinds: 0/1 light left and dark right (1: light above too), 2/3 light above and dark below
// (3: light right too), 4/5 dark left and light right (5: light below too), 6 dark above and
// light below.  The tests run in that order; the first that holds decides.
inline int RefIsBorder(const unsigned char* img, int x, int y, int w, int h) {
  int g = Grey(img, x, y, w);
  if (g < 50 || g > 229) return -1;
  auto L = [&] { return Grey(img, x - 1, y, w); };
  auto R = [&] { return Grey(img, x + 1, y, w); };
  auto A = [&] { return Grey(img, x, y - 1, w); };
  auto B = [&] { return Grey(img, x, y + 1, w); };
  if (x >= 1 && x <= w - 2 && L() >= 230 && R() <= 99) return (y >= 1 && A() >= 230) ? 1 : 0;
  if (y >= 1 && y <= h - 2 && A() >= 225 && B() <= 99) return (x <= w - 2 && R() >= 230) ? 3 : 2;
  if (x <= w - 2 && x >= 1 && R() >= 225 && L() <= 99) return (y <= h - 2 && B() >= 230) ? 5 : 4;
  if (y <= h - 2 && y >= 1 && B() >= 225 && A() <= 99) return 6;
  return -1;
}

// Decisions read the image as it was before the pass; they are written to a copy.
inline void RefSnapBorderPixels(unsigned char* img, int w, int h, int stride, int nBrightness) {
  std::vector<unsigned char> copy(img, img + size_t(stride) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int r = RefIsBorder(img, x, y, w, h), v;
      if ((r == 0 || r == 4) && y >= 1) {
        v = Grey(img, x, y - 1, w) + nBrightness;
      } else if ((r == 2 || r == 6) && x >= 1) {
        v = Grey(img, x - 1, y, w) + nBrightness;
      } else {
        continue;
      }
      unsigned char* q = &copy[y * stride + x * 3];
      q[0] = q[1] = q[2] = v > 150 ? 255 : 0;
    }
  }
  std::copy(copy.begin(), copy.end(), img);
}

inline void RefConvertToGray(unsigned char* img, int w, int h, int stride, int nBrightness,
                             GrayFinish finish) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char* p = img + y * stride + x * 3;
      if (p[0] == p[1] && p[1] == p[2]) continue;
      double Y = 0.299 * p[2];
      Y = Y + 0.587 * p[1];
      Y = Y + 0.114 * p[0];
      int v = int(Y) + nBrightness;
      if (finish == GrayFinish::kClamp) {
        if (v < 0) v = 0;
        if (v > 255) v = 255;
      } else {
        if (v <= 99) v = 0;
        if (v > 225) v = 255;
      }
      p[0] = p[1] = p[2] = (unsigned char)v;
    }
  }
}

inline void RefPrepare(unsigned char* img, int w, int h, int stride, int nBrightness,
                       GrayFinish finish) {
  RefSnapBorderPixels(img, w, h, stride, nBrightness);
  RefConvertToGray(img, w, h, stride, nBrightness, finish);
}

// A label-like image in grey only: white, with a few filled boxes (black or one of `greys`)
// whose one-pixel rims are soft greys, so that long runs of white and black meet boundary
// pixels.
template <class Self>
void SparseLabel(std::mt19937& rng, PaddedImage<Self>& img, const int* greys, int count) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const int boxes = 1 + pick(4);
  for (int b = 0; b < boxes; ++b) {
    const int x0 = pick(img.w), y0 = pick(img.h);
    const int x1 = x0 + 1 + pick(img.w - x0), y1 = y0 + 1 + pick(img.h - y0);
    const int fill = pick(2) ? 0 : greys[pick(count)];
    const int rim = greys[pick(count)];
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const bool edge = x == x0 || x == x1 - 1 || y == y0 || y == y1 - 1;
        img.grey(x, y, edge ? rim : fill);
      }
    }
  }
}

}  // namespace halftone_reference
