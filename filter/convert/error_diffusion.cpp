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

namespace {

// Sixteen bytes at a time (SSE2 on x86-64, NEON on Arm, plain code elsewhere).
using Bytes16 = unsigned char __attribute__((vector_size(16)));

constexpr uint32_t kPalette[2] = {0x000000, 0xFFFFFF};

// Share of an error for one neighbour: an arithmetic shift, i.e. division by 16 rounded toward
// minus infinity (-127 * 7 gives -56, not -55).
constexpr int Share(int e, int weight) { return (e * weight) >> 4; }

// The new grey of a neighbour of grey g that is handed `share`: g + share, clamped, if g lies
// in 51..hi; g itself otherwise (the neighbour takes nothing).  Written without branches.
inline int Take(int g, int share, int hi) {
  const bool takes = static_cast<unsigned>(g - 51) <= static_cast<unsigned>(hi - 51);
  return takes ? PlusTruncate(static_cast<unsigned char>(g), share) : g;
}

inline void Store(unsigned char* p, int g) { p[0] = p[1] = p[2] = static_cast<unsigned char>(g); }

// Quantises pixels x0..x1-1 of a grey row of cx pixels (`row` at its first byte, `below` at
// the next row's, or null on the last row) and hands each error on to the right, below left,
// below and below right.  nearest[g] is the palette colour of grey g.
//
// Notes:
//   1. The working image is grey when this runs (all three bytes of every pixel equal, see
//      ErrorDiffusion): a pixel's grey is its first byte, its three errors and shares are one,
//      and all three bytes are written.
//   2. The pixel itself, the pixel on the right and the three below are carried from pixel to
//      pixel in registers; each neighbour's grey is read once, before it takes any share, and
//      each pixel is written once, when no later pixel of the run can change it (with its own
//      grey again where nothing changed it).  The image is up to date again when the call
//      returns.
void DiffuseRun(unsigned char* row, unsigned char* below, int x0, int x1, int cx,
                const unsigned char* nearest) {
  unsigned char* p = row + static_cast<size_t>(x0) * 3;
  unsigned char* q = below != nullptr ? below + static_cast<size_t>(x0) * 3 : nullptr;
  int cur = p[0];
  int belowLeft = q != nullptr && x0 >= 1 ? q[-3] : 0;
  int belowHere = q != nullptr ? q[0] : 0;
  for (int x = x0; x < x1; ++x, p += 3) {
    const bool hasRight = x + 1 < cx;
    int right = hasRight ? p[3] : 0;
    int belowRight = q != nullptr && hasRight ? q[3] : 0;
    if (cur != 0 && cur != 255) {  // black and white carry no error
      const int best = nearest[cur];
      const int e = cur - best;
      cur = best;
      if (hasRight) right = Take(right, Share(e, 7), 224);
      if (q != nullptr) {
        if (x >= 1) belowLeft = Take(belowLeft, Share(e, 3), 229);
        belowHere = Take(belowHere, Share(e, 5), 224);
        if (hasRight) belowRight = Take(belowRight, Share(e, 1), 224);
      }
    }
    Store(p, cur);  // the pixel's last value: no later pixel of this run reaches it
    if (q != nullptr) {
      if (x >= 1) Store(q - 3, belowLeft);  // nor this one
      belowLeft = belowHere;
      belowHere = belowRight;
      q += 3;
    }
    cur = right;
  }
  if (x1 < cx) Store(p, cur);  // the next run's first pixel, with the share it was handed
  if (q != nullptr) {
    if (x1 >= 1) Store(q - 3, belowLeft);
    if (x1 < cx) Store(q, belowHere);
  }
}

// Whether the sixteen pixels at p are all black or white.
inline bool PureBlock(const unsigned char* p) {
  Bytes16 v[3];
  std::memcpy(v, p, 48);
  const Bytes16 mixed = static_cast<Bytes16>(static_cast<Bytes16>(v[0] + 1) > 1) |
                        static_cast<Bytes16>(static_cast<Bytes16>(v[1] + 1) > 1) |
                        static_cast<Bytes16>(static_cast<Bytes16>(v[2] + 1) > 1);
  uint64_t m[2];
  std::memcpy(m, &mixed, 16);
  return (m[0] | m[1]) == 0;
}

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
//      value), and equal errors keep it so; the scan therefore reads the first byte of a pixel
//      and writes all three.  Its result is the same as that of the per-byte method.
//   3. A pixel already black or white has no error and hands nothing on.
//   4. Padding bytes at the end of a row are never written.
int ErrorDiffusion(unsigned char* pBits, int cx, int cy, int nByteWidth, int nLight) {
  if (pBits == nullptr || cx <= 0 || cy <= 0 ||
      static_cast<int64_t>(nByteWidth) < static_cast<int64_t>(cx) * 3) {
    return 0;
  }
  // Truncating division; offsets beyond +-1024 decide nothing more, and stay far from overflow.
  int64_t brightness = (100 - static_cast<int64_t>(nLight)) * 255 / 100;
  brightness = brightness > 1024 ? 1024 : (brightness < -1024 ? -1024 : brightness);
  const int nBrightness = static_cast<int>(brightness);

  SnapBordersThenConvertToGray(pBits, cx, cy, nByteWidth, nBrightness, GrayFinish::kSnap);

  // The palette colour of each grey (white from 128 up), looked up once here.
  unsigned char nearest[256];
  for (int g = 0; g < 256; ++g) {
    const uint32_t currentPixel = static_cast<uint32_t>(g) * 0x010101u;
    nearest[g] = static_cast<unsigned char>(FindNearestColor(currentPixel, kPalette, 2) & 0xFF);
  }

  const size_t stride = static_cast<size_t>(nByteWidth);
  for (int y = 0; y < cy; ++y) {
    unsigned char* const row = pBits + static_cast<size_t>(y) * stride;
    unsigned char* const below = y + 1 < cy ? row + stride : nullptr;
    int x = 0;
    while (x < cx) {
      // Sixteen pixels all black or white (most of a label) carry no error: pass over them.
      // They are looked at only after the pixel before them has handed on its error.
      if (x + 16 <= cx && PureBlock(row + static_cast<size_t>(x) * 3)) {
        x += 16;
        continue;
      }
      const int end = std::min(x + 16, cx);
      DiffuseRun(row, below, x, end, cx, nearest);
      x = end;
    }
  }
  return 0;
}
