// Fuzz target: the black-and-white conversion and the halftoning passes on
// small images of any size and stride.
//
// Input: four bytes of geometry and choice, then the pixels.
//   byte 0  what runs: Color2BW in mode 0, 1, 2, 3 or an unknown mode, otsu,
//           OrderedDither, ErrorDiffusion, SnapBorderPixels, ConvertToGray
//           (clamping or snapping), IsBorder on every pixel
//   byte 1  width - 1 (1 to 160 pixels)     byte 2  height - 1 (1 to 160 rows)
//   byte 3  low 4 bits: stride bytes beyond 3 x width; bit 4: the pixels are
//           grey (one byte each, spread to three); bits 5-7: light level
// The rest fills the image row by row, padding bytes included; pixels the
// input does not reach are white.
//
// Every buffer has exactly the size its contract names, so any read or write
// beyond it is caught.  Checks beyond the sanitizers:
//   - Color2BW sets no bit, and leaves the bits beyond the width at 1; mode 0
//     run twice on the same image (code table emptied) gives the same bitmap.
//   - The dithering passes never write a row's padding bytes; error diffusion
//     leaves every pixel black or white.
//   - otsu's threshold is a grey level; IsBorder's answer is -1 to 6, and -1
//     outside the image.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "convert/border.h"
#include "adaptive/code_detect.h"
#include "convert/color2bw.h"
#include "convert/error_diffusion.h"
#include "convert/ordered_dither.h"
#include "convert/otsu.h"

namespace {

enum Pass {
  kColor2BW0,
  kColor2BW1,
  kColor2BW2,
  kColor2BW3,
  kColor2BWUnknown,
  kOtsu,
  kOrdered,
  kDiffusion,
  kSnap,
  kGreyClamp,
  kGreySnap,
  kBorder,
  kPasses
};

void Check(bool ok) {
  if (!ok) abort();
}

size_t BitmapStride(int width) { return ((static_cast<size_t>(width) + 31) >> 5) * 4; }

// A fresh page bitmap, converted from a copy of image.
std::vector<unsigned char> Convert(const std::vector<unsigned char>& image, int cx, int cy,
                                   int stride, int light, int mode) {
  std::vector<unsigned char> pixels(image);
  std::vector<unsigned char> bits(BitmapStride(cx) * cy, 0xFF);
  ResetTwoDimensionCodeRects();
  Color2BW(pixels.data(), bits.data(), cx, cy, stride, light, mode);
  return bits;
}

bool PaddingKept(const std::vector<unsigned char>& before, const std::vector<unsigned char>& after,
                 int cx, int cy, size_t stride) {
  for (int y = 0; y < cy; ++y) {
    size_t row = y * stride;
    if (memcmp(&before[row + 3 * cx], &after[row + 3 * cx], stride - 3 * cx) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Color2BW logs its mode; the log goes nowhere (see fuzz_filter.cpp).
  stderr = fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int pass = data[0] % kPasses;
  const int cx = 1 + data[1] % 160;
  const int cy = 1 + data[2] % 160;
  const bool grey = data[3] & 0x10;
  const int light = static_cast<int>(data[3] >> 5) * 40 - 140;  // -140 .. 140
  // The passes that derive the stride from the width (IsBorder, the border
  // snap) get exactly that stride.
  const bool derived = pass == kSnap || pass == kBorder;
  const size_t stride = derived ? ((static_cast<size_t>(cx) * 24 + 31) / 32) * 4
                                : 3 * static_cast<size_t>(cx) + (data[3] & 15);
  data += 4;
  size -= 4;

  std::vector<unsigned char> image(stride * cy, 0xFF);
  size_t at = 0;
  for (int y = 0; y < cy && at < size; ++y) {
    unsigned char* row = &image[y * stride];
    for (size_t b = 0; b < stride && at < size;) {
      if (grey && b + 3 <= 3 * static_cast<size_t>(cx)) {
        row[b] = row[b + 1] = row[b + 2] = data[at++];
        b += 3;
      } else {
        row[b++] = data[at++];
      }
    }
  }

  const int nStride = static_cast<int>(stride);
  std::vector<unsigned char> work(image);
  switch (pass) {
    case kColor2BW0:
    case kColor2BW1:
    case kColor2BW2:
    case kColor2BW3:
    case kColor2BWUnknown: {
      const int mode = pass == kColor2BWUnknown ? 7 : pass;
      std::vector<unsigned char> bits = Convert(image, cx, cy, nStride, light, mode);
      const size_t bstride = BitmapStride(cx);
      for (int y = 0; y < cy; ++y) {
        for (size_t x = cx; x < bstride * 8; ++x) {
          Check(bits[y * bstride + x / 8] & (0x80 >> (x % 8)));
        }
      }
      if (mode == 0) Check(Convert(image, cx, cy, nStride, light, mode) == bits);
      break;
    }
    case kOtsu: {
      int t = otsu(work.data(), nStride, cy, 24, light);
      Check(t >= 0 && t <= 255);
      break;
    }
    case kOrdered:
      OrderedDither(work.data(), cx, cy, nStride, light);
      Check(PaddingKept(image, work, cx, cy, stride));
      break;
    case kDiffusion:
      ErrorDiffusion(work.data(), cx, cy, nStride, light);
      Check(PaddingKept(image, work, cx, cy, stride));
      for (int y = 0; y < cy; ++y) {
        for (int x = 0; x < cx; ++x) {
          const unsigned char* p = &work[y * stride + 3 * x];
          Check((p[0] == 0 || p[0] == 255) && p[1] == p[0] && p[2] == p[0]);
        }
      }
      break;
    case kSnap:
      SnapBorderPixels(work.data(), cx, cy, nStride, light);
      Check(PaddingKept(image, work, cx, cy, stride));
      break;
    case kGreyClamp:
    case kGreySnap:
      ConvertToGray(work.data(), cx, cy, nStride, light,
                    pass == kGreyClamp ? GrayFinish::kClamp : GrayFinish::kSnap);
      Check(PaddingKept(image, work, cx, cy, stride));
      break;
    case kBorder:
      for (int y = -1; y <= cy; ++y) {
        for (int x = -1; x <= cx; ++x) {
          int kind = IsBorder(work.data(), x, y, cx, cy);
          const bool inside = x >= 0 && y >= 0 && x < cx && y < cy;
          Check(kind >= -1 && kind <= 6 && (inside || kind == -1));
        }
      }
      break;
  }
  return 0;
}
