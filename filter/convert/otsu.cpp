// Automatic threshold of a page.
//
//   otsu  greys the working image in place and returns Otsu's threshold of its grey histogram
#include "convert/otsu.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The variance search must round as written, one single-precision operation at a time: its
// ties decide the threshold, and a fused multiply-add would break some of them.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

using Bytes16 = unsigned char __attribute__((vector_size(16)));

// Per-level counts kept in four interleaved tables, so that neighbouring pixels of the same
// level do not wait on each other's increments; summed at the end.
struct Histogram {
  int64_t count[4][256] = {};
};

// Byte i + 1 of the 48 bytes v[0], v[1], v[2] for each i of block k (0 past the end): the
// neighbours within a row of blocks, from registers rather than a second, overlapping load.
Bytes16 NextBytes(const Bytes16 (&v)[3], int k) {
#if defined(__SSE2__)
  __m128i next = _mm_srli_si128(reinterpret_cast<const __m128i&>(v[k]), 1);
  if (k < 2)
    next = _mm_or_si128(next, _mm_slli_si128(reinterpret_cast<const __m128i&>(v[k + 1]), 15));
  return reinterpret_cast<Bytes16&>(next);
#else
  Bytes16 next = {};
  std::memcpy(&next, reinterpret_cast<const unsigned char*>(v) + 16 * k + 1, k < 2 ? 16 : 15);
  return next;
#endif
}

// Number of zero bytes among sixteen.
int Zeros(Bytes16 v) {
  const Bytes16 zero = static_cast<Bytes16>(v == Bytes16{});  // 0xFF where the byte is 0
  uint64_t d[2];
  std::memcpy(d, &zero, 16);
  return (std::popcount(d[0]) + std::popcount(d[1])) / 8;
}

// Greys one row in place and counts its pixels: every whole 3-byte group becomes the mean of
// its bytes looked up in `level` (mean plus offset, clamped).  A remainder of one or two bytes
// is not touched.  `identity` tells that level leaves greys as they are (no offset).
//
// Notes:
//   1. Sixteen groups whose 48 bytes are all equal (white, black, flat grey: most of a label)
//      are counted at once, and written only if the offset changes them; white ones, the most
//      common, are found with the fewest operations.
//   2. Without an offset, sixteen groups of three equal bytes each (every group of a page read
//      at 8 bits) are only counted: greying leaves them as they are.  When they are all black
//      or white, their black ones are counted at once.
void GreyRow(unsigned char* row, size_t groups, const unsigned char* level, bool identity,
             Histogram& h) {
  // Byte i must equal byte i + 1 wherever i is not the last byte of a group; over 48 bytes the
  // positions repeat, so three masks cover them.
  static constexpr Bytes16 kWithinGroup[3] = {
      {255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255},
      {255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255},
      {0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0},
  };
  static constexpr Bytes16 kButLast = {255, 255, 255, 255, 255, 255, 255, 255,
                                       255, 255, 255, 255, 255, 255, 255, 0};
  auto none = [](Bytes16 v) {
    uint64_t d[2];
    std::memcpy(d, &v, 16);
    return (d[0] | d[1]) == 0;
  };
  auto allOnes = [](Bytes16 v) {
    uint64_t d[2];
    std::memcpy(d, &v, 16);
    return (d[0] & d[1]) == ~uint64_t{0};
  };
  const unsigned char white = level[765];
  size_t whiteBlocks = 0;
  size_t g = 0;
  for (; g + 16 <= groups; g += 16) {
    unsigned char* p = row + g * 3;
    Bytes16 v[3];
    std::memcpy(v, p, 48);
    if (allOnes(v[0] & v[1] & v[2])) {  // white, most of a label: counted after the row
      ++whiteBlocks;
      if (white != 255) std::memset(p, white, 48);
      continue;
    }
    // Each byte against the next one.  The block's last byte has no next one in the block, and
    // the byte after the block (which may not exist) is not read.
    const Bytes16 step[3] = {v[0] ^ NextBytes(v, 0), v[1] ^ NextBytes(v, 1),
                             v[2] ^ NextBytes(v, 2)};
    if (none(step[0] | step[1] | (step[2] & kButLast))) {  // all 48 bytes alike
      const unsigned char pixel = level[p[0] * 3];
      h.count[0][pixel] += 16;
      if (pixel != p[0]) std::memset(p, pixel, 48);
      continue;
    }
    if (identity) {
      const Bytes16 differ =
          (step[0] & kWithinGroup[0]) | (step[1] & kWithinGroup[1]) | (step[2] & kWithinGroup[2]);
      if (none(differ)) {
        // Black and white dots only (text, rules, barcodes, codes): count the black ones.
        const Bytes16 one = Bytes16{} + 1;
        const Bytes16 mid = static_cast<Bytes16>(static_cast<Bytes16>(v[0] + one) > one) |
                            static_cast<Bytes16>(static_cast<Bytes16>(v[1] + one) > one) |
                            static_cast<Bytes16>(static_cast<Bytes16>(v[2] + one) > one);
        if (none(mid)) {
          const int black = (Zeros(v[0]) + Zeros(v[1]) + Zeros(v[2])) / 3;
          h.count[0][0] += black;
          h.count[0][255] += 16 - black;
          continue;
        }
        for (int k = 0; k < 16; k += 4) {
          ++h.count[0][p[3 * k]];
          ++h.count[1][p[3 * k + 3]];
          ++h.count[2][p[3 * k + 6]];
          ++h.count[3][p[3 * k + 9]];
        }
        continue;
      }
    }
    for (int k = 0; k < 16; ++k, p += 3) {
      const unsigned char pixel = level[p[0] + p[1] + p[2]];
      p[0] = p[1] = p[2] = pixel;
      ++h.count[k & 3][pixel];
    }
  }
  h.count[0][white] += static_cast<int64_t>(16 * whiteBlocks);
  for (unsigned char* p = row + g * 3; g < groups; ++g, p += 3) {
    const unsigned char pixel = level[p[0] + p[1] + p[2]];
    p[0] = p[1] = p[2] = pixel;
    ++h.count[0][pixel];
  }
}

}  // namespace

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

  // Truncating division, as the light level is defined; 64-bit so that no level overflows.
  const int64_t nBrightness = (100 - static_cast<int64_t>(nLight)) * 255 / 100;

  // Grey level of a pixel by the sum of its three bytes: the mean plus the offset, clamped.
  unsigned char level[766];
  for (int sum = 0; sum <= 765; ++sum) {
    const int64_t pixel = sum / 3 + nBrightness;
    level[sum] = static_cast<unsigned char>(pixel < 0 ? 0 : (pixel > 255 ? 255 : pixel));
  }

  Histogram histogram;
  const size_t stride = static_cast<size_t>(nImageWidth);
  const size_t groups = stride / 3;
  for (int j = 0; j < nImageHeight; ++j) {
    GreyRow(image + static_cast<size_t>(j) * stride, groups, level, nBrightness == 0, histogram);
  }
  int64_t pixelCount[256];
  for (int k = 0; k < 256; ++k) {
    const auto& c = histogram.count;
    pixelCount[k] = c[0][k] + c[1][k] + c[2][k] + c[3][k];
  }
  const int64_t pixelSum = static_cast<int64_t>(groups) * nImageHeight;
  float pixelPro[256];
  for (int k = 0; k < 256; ++k) {
    pixelPro[k] = static_cast<float>(pixelCount[k]) / static_cast<float>(pixelSum);
  }

  // The search.  For split i the dark class sums levels 0..i and the light class i+1..255,
  // each from 0 upwards, one addition at a time.  Two exact shortcuts keep it cheap:
  //   - the dark sums of split i are those of split i - 1 plus level i (the same additions);
  //   - an empty level adds +0.0f, which changes no sum, so a split at an empty level has the
  //     same variance as the split before it and cannot win the strict comparison.
  float product[256];  // j * pixelPro[j], the product formed before it is added
  for (int j = 0; j < 256; ++j) product[j] = static_cast<float>(j) * pixelPro[j];

  float deltaMax = 0;
  int threshold = 0;
  float w0 = 0, u0tmp = 0;
  for (int i = 0; i < 256; ++i) {
    w0 += pixelPro[i];
    u0tmp += product[i];
    if (pixelCount[i] == 0) continue;
    float w1 = 0, u1tmp = 0;
    for (int j = i + 1; j < 256; ++j) {
      if (pixelCount[j] == 0) continue;
      w1 += pixelPro[j];
      u1tmp += product[j];
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
