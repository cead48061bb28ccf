// Automatic threshold of a page: GreyLevels, GreyRow, otsu.
#include "convert/otsu.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pixels.h"

// The variance search must round as written, one single-precision operation at a time: its
// ties decide the threshold, and a fused multiply-add would break some of them.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

GreyLevels::GreyLevels(int nLight) {
  for (int sum = 0; sum <= 765; ++sum) {
    level[sum] = static_cast<unsigned char>(std::clamp(sum / 3 + BrightnessOffset(nLight), 0, 255));
  }
}

void GreyRow(unsigned char* row, size_t groups, const GreyLevels& levels, int64_t* pixelCount) {
  for (size_t i = 0; i < groups; ++i) {
    unsigned char* p = row + 3 * i;
    const int alike = (i & 7) == 0 && i + 8 <= groups ? EightAlike(p) : -1;
    if (alike >= 0) {  // eight pixels of one grey
      const unsigned char pixel = levels.level[3 * alike];
      std::memset(p, pixel, 24);
      if (pixelCount != nullptr) pixelCount[pixel] += 8;
      i += 7;
      continue;
    }
    const unsigned char pixel = levels.level[p[0] + p[1] + p[2]];
    p[0] = p[1] = p[2] = pixel;
    if (pixelCount != nullptr) ++pixelCount[pixel];
  }
}

// Greys `image` in place and returns Otsu's threshold t (0..254; levels 0..t are the dark class).
//
// Inputs: image, a 24-bit working image of nImageHeight rows at a stride of nImageWidth bytes;
// nPixelNum, its bits per pixel (only 24 is handled, and it is not looked at); nLight, the
// light level in percent (100 adds nothing to the greys).
//
// Notes:
//   1. Groups are taken by position: every whole 3-byte group of a row is a pixel, padding
//      groups included (white padding counts as white); a remainder of one or two bytes at the
//      end of a row is neither read nor written.  pixelSum = (nImageWidth / 3) * nImageHeight.
//   2. The search runs in single precision in the order written below; the strict comparison
//      keeps the lowest of equal maxima, and a split with an empty class (0 / 0) is never taken.
//   3. An image with no whole group, or no rows, yields 0 and is left unchanged.
//   4. Counts are 64-bit so that no page size can overflow them; as floats they are the same.
int otsu(unsigned char* image, int nImageWidth, int nImageHeight, int nPixelNum, int nLight) {
  (void)nPixelNum;
  if (image == nullptr || nImageWidth < 3 || nImageHeight <= 0) return 0;
  const GreyLevels levels(nLight);
  int64_t pixelCount[256] = {};
  const size_t groups = static_cast<size_t>(nImageWidth) / 3;
  for (int j = 0; j < nImageHeight; ++j) {
    GreyRow(image + static_cast<size_t>(j) * nImageWidth, groups, levels, pixelCount);
  }
  const int64_t pixelSum = static_cast<int64_t>(groups) * nImageHeight;
  float pixelPro[256];
  for (int k = 0; k < 256; ++k) {
    pixelPro[k] = static_cast<float>(pixelCount[k]) / static_cast<float>(pixelSum);
  }

  float deltaMax = 0;
  int threshold = 0;
  for (int i = 0; i < 256; ++i) {
    float w0 = 0, w1 = 0, u0tmp = 0, u1tmp = 0;
    for (int j = 0; j < 256; ++j) {
      const float product = static_cast<float>(j) * pixelPro[j];
      if (j <= i) {
        w0 += pixelPro[j];
        u0tmp += product;
      } else {
        w1 += pixelPro[j];
        u1tmp += product;
      }
    }
    const float u0 = u0tmp / w0;
    const float u1 = u1tmp / w1;
    const float u = u0tmp + u1tmp;
    const float deltaTmp = w0 * (u0 - u) * (u0 - u) + w1 * (u1 - u) * (u1 - u);
    if (deltaTmp > deltaMax) {
      deltaMax = deltaTmp;
      threshold = i;
    }
  }
  return threshold;
}
