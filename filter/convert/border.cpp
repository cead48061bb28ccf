// Preparation passes that both dithering methods run before they quantise.
//
//   IsBorder          classifies a pixel as a soft step on a light/dark boundary (or not)
//   SnapBorderPixels  pass 1: sets such boundary pixels to black or white, following the
//                     neighbour along the boundary, so that edges print clean
//   ConvertToGray     pass 2: turns coloured pixels into grey by luma weights, finished by
//                     clamping (ordered dithering) or snapping (error diffusion)
//   SnapBordersThenConvertToGray  both passes, the second skipping the rows the first found grey
//
// Both dithering methods call these; there is no second copy of them.
#include "convert/border.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "log.h"

// The luma sum below must round exactly as written (product, then sum, in double); a fused
// multiply-add would move some pixels across a grey level.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

inline int EdgeGrey(const unsigned char* p) { return (p[0] + p[1] + p[2]) / 3; }

// ---- Sixteen bytes at a time (SSE2 on x86-64, NEON on Arm, plain code elsewhere) ----

using Bytes16 = unsigned char __attribute__((vector_size(16)));

inline Bytes16 Load16(const unsigned char* p) {
  Bytes16 v;
  std::memcpy(&v, p, 16);
  return v;
}

inline bool Any16(Bytes16 v) {
#if defined(__SSE2__)
  return __builtin_ia32_pmovmskb128(reinterpret_cast<__attribute__((vector_size(16))) char&>(v)) !=
         0;
#else
  uint64_t a, b;
  std::memcpy(&a, &v, 8);
  std::memcpy(&b, reinterpret_cast<const unsigned char*>(&v) + 8, 8);
  return (a | b) != 0;
#endif
}

// Comparisons for the boundary rules, giving all-ones for true and zero for false, so that &,
// | and ~ combine them alike: for one edge grey (int, giving an unsigned mask) or for sixteen
// bytes of grey pixels at once (Bytes16, giving a byte mask).
inline unsigned AtLeast(int g, int t) { return g >= t ? ~0u : 0u; }
inline unsigned AtMost(int g, int t) { return g <= t ? ~0u : 0u; }
inline Bytes16 Splat16(int t) { return Bytes16{} + static_cast<unsigned char>(t); }
inline Bytes16 AtLeast(Bytes16 g, int t) { return static_cast<Bytes16>(g >= Splat16(t)); }
inline Bytes16 AtMost(Bytes16 g, int t) { return static_cast<Bytes16>(g <= Splat16(t)); }

// Outcome of the boundary rules for a pixel, as truth values (or masks): which of the four
// tests matched, and for each whether its second look found light as well.
template <class M>
struct BorderTests {
  M mid;    // edge grey 50 to 229: only such pixels can be boundary pixels
  M a, a1;  // light left, dark right (kind 0); light above as well (kind 1)
  M b, b3;  // light above, dark below (kind 2); light on the right as well (kind 3)
  M c, c5;  // dark left, light right (kind 4); light below as well (kind 5)
  M d;      // dark above, light below (kind 6)
};

// The boundary rules, written once for single pixels and for sixteen bytes of grey pixels.
// g is the pixel's edge grey, the others its neighbours' (any value where the neighbour does
// not exist; the has* flags rule those out).  The tests are exclusive and taken in order A, B,
// C, D: the first that matches decides.
template <class V, class M>
BorderTests<M> TestBorder(V g, V left, V right, V above, V below, M hasLeft, M hasRight, M hasAbove,
                          M hasBelow) {
  BorderTests<M> t;
  t.mid = AtLeast(g, 50) & AtMost(g, 229);
  t.a = hasLeft & hasRight & AtLeast(left, 230) & AtMost(right, 99);
  t.a1 = t.a & hasAbove & AtLeast(above, 230);
  t.b = ~t.a & hasAbove & hasBelow & AtLeast(above, 225) & AtMost(below, 99);
  t.b3 = t.b & hasRight & AtLeast(right, 230);
  t.c = ~t.a & ~t.b & hasRight & hasLeft & AtLeast(right, 225) & AtMost(left, 99);
  t.c5 = t.c & hasBelow & AtLeast(below, 230);
  t.d = ~t.a & ~t.b & ~t.c & hasBelow & hasAbove & AtLeast(below, 225) & AtMost(above, 99);
  return t;
}

// Kind of boundary of pixel (x, y), -1 for none, in an image at `base` with row stride
// `stride`.  Every neighbour is checked for existence before it is read.
int Classify(const unsigned char* base, size_t stride, int x, int y, int width, int height) {
  const unsigned char* p = base + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
  const int g = EdgeGrey(p);
  if (g < 50 || g > 229) return -1;  // the common case, before any neighbour is read
  const unsigned hasLeft = x >= 1 ? ~0u : 0u, hasRight = x <= width - 2 ? ~0u : 0u;
  const unsigned hasAbove = y >= 1 ? ~0u : 0u, hasBelow = y <= height - 2 ? ~0u : 0u;
  const int left = hasLeft ? EdgeGrey(p - 3) : 0;
  const int right = hasRight ? EdgeGrey(p + 3) : 0;
  const int above = hasAbove ? EdgeGrey(p - stride) : 0;
  const int below = hasBelow ? EdgeGrey(p + stride) : 0;
  const BorderTests<unsigned> t =
      TestBorder(g, left, right, above, below, hasLeft, hasRight, hasAbove, hasBelow);
  if (t.a) return t.a1 ? 1 : 0;
  if (t.b) return t.b3 ? 3 : 2;
  if (t.c) return t.c5 ? 5 : 4;
  if (t.d) return 6;
  return -1;
}

// Whether every pixel of a row has three equal bytes.  In such a row, and with such rows
// above and below, edge greys are bytes and the rules can run on sixteen bytes at a time.
bool RowIsGrey(const unsigned char* row, int width) {
  const size_t n = static_cast<size_t>(width) * 3;
  // Byte i must equal byte i + 1 wherever i is not the last byte of a pixel; over 48 bytes
  // (16 pixels) the positions repeat, so three masks cover them.
  static constexpr Bytes16 kMask[3] = {
      {255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255},
      {255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255},
      {0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 0},
  };
  size_t i = 0;
  for (; i + 48 < n; i += 48) {  // the loads at i + 1 read byte i + 48: keep it in the row
    Bytes16 differ = {};
    for (int k = 0; k < 3; ++k) {
      const unsigned char* p = row + i + 16 * k;
      differ |= static_cast<Bytes16>(Load16(p) != Load16(p + 1)) & kMask[k];
    }
    if (Any16(differ)) return false;
  }
  for (; i < n; i += 3) {
    if (row[i] != row[i + 1] || row[i + 1] != row[i + 2]) return false;
  }
  return true;
}

// A decision of the snapping pass, held back until its row is no longer read: the pixel's
// column and its new value (0 or 255).
struct Snap {
  int x;
  unsigned char value;
};

// Snapping decisions for the inner pixels 1..width-2 of a grey row between grey rows (`row`
// points at its first byte, rows `stride` bytes apart), sixteen bytes at a time by the same
// rules as Classify.  snapTo gives the decision for the deciding neighbour's grey.
//
// Writes the decisions to out[0..n) and returns n; out[n].x is the first pixel none of whose
// bytes has been tested (the caller classifies the rest one by one).  out holds width + 1.
//
// Notes:
//   1. The three bytes of a grey pixel give the same answers, so a pixel is recorded at its
//      first byte.
size_t ScanGreyRow(const unsigned char* row, size_t stride, int width, const unsigned char* snapTo,
                   Snap* out) {
  static constexpr Bytes16 kFirstByte[3] = {
      // Lanes that start a pixel, for a block starting at a byte offset of 0, 1, 2 mod 3.
      {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255},
      {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0},
      {0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0},
  };
  const Bytes16 all = ~Bytes16{};
  const size_t end = static_cast<size_t>(width - 1) * 3;
  size_t n = 0;
  size_t i = 3;
  for (; i + 16 <= end; i += 16) {
    const unsigned char* p = row + i;
    const Bytes16 g = Load16(p);
    // Most of a label is white or black: no mid-grey byte, nothing to snap.
    if (!Any16(static_cast<Bytes16>(static_cast<Bytes16>(g - 50) < 180))) continue;
    const Bytes16 left = Load16(p - 3), above = Load16(p - stride);
    const BorderTests<Bytes16> t =
        TestBorder(g, left, Load16(p + 3), above, Load16(p + stride), all, all, all, all);
    const Bytes16 fromAbove = t.mid & ((t.a & ~t.a1) | (t.c & ~t.c5));
    const Bytes16 fromLeft = t.mid & ((t.b & ~t.b3) | t.d);
    const Bytes16 snaps = (fromAbove | fromLeft) & kFirstByte[i % 3];
    if (!Any16(snaps)) continue;
    const Bytes16 from = (fromAbove & above) | (~fromAbove & left);
    uint64_t lanes[2];
    std::memcpy(lanes, &snaps, 16);
    for (int half = 0; half < 2; ++half) {
      // One bit per lane, so that clearing the lowest bit moves to the next lane.
      for (uint64_t m = lanes[half] & 0x0101010101010101u; m != 0; m &= m - 1) {
        const int k = half * 8 + std::countr_zero(m) / 8;
        out[n++] = {static_cast<int>((i + k) / 3), snapTo[from[k]]};
      }
    }
  }
  out[n].x = static_cast<int>((i + 2) / 3);
  return n;
}

// Runs of eight white pixels (24 bytes of 0xFF) are common on label pages; the pixel-by-pixel
// loop passes over them at once.
inline bool EightWhite(const unsigned char* p) {
  uint64_t a, b, c;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  std::memcpy(&c, p + 16, 8);
  return (a & b & c) == ~uint64_t{0};
}

// Keeps the (grey + offset) sums within a range where no decision can change, so that any
// offset a caller passes is safe to add.
int LimitOffset(int nBrightness) { return std::clamp(nBrightness, -1024, 1024); }

bool ValidImage(const unsigned char* pixels, int width, int height, int nByteWidth) {
  return pixels != nullptr && width > 0 && height > 0 &&
         static_cast<int64_t>(nByteWidth) >= static_cast<int64_t>(width) * 3;
}

}  // namespace

// Returns -1 (no boundary) or 0..6 for pixel (x, y) of a pColorBuf image nWidth x nHeight.
//
// Notes:
//   1. The row stride is derived from nWidth: three bytes per pixel rounded up to a multiple of
//      four.
//   2. A pixel outside the image (or a null image) is no boundary pixel: -1.
int IsBorder(const unsigned char* pColorBuf, int x, int y, int nWidth, int nHeight) {
  if (pColorBuf == nullptr || x < 0 || y < 0 || x >= nWidth || y >= nHeight) return -1;
  const size_t stride = ((static_cast<size_t>(nWidth) * 24 + 31) / 32) * 4;
  return Classify(pColorBuf, stride, x, y, nWidth, nHeight);
}

namespace {

// SnapBorderPixels; when greyRows is given (one entry per row, all false), the rows that
// RowIsGrey finds grey before the pass are marked in it.
void SnapBorders(unsigned char* pixels, int width, int height, int nByteWidth, int nBrightness,
                 std::vector<bool>* greyRows) {
  if (!ValidImage(pixels, width, height, nByteWidth)) return;
  const size_t stride = static_cast<size_t>(nByteWidth);

  // The decision for a deciding neighbour of grey g: white above 150.
  unsigned char snapTo[256];
  for (int g = 0; g < 256; ++g) snapTo[g] = g + LimitOffset(nBrightness) > 150 ? 255 : 0;

  std::vector<Snap> pending[2], scan;
  try {
    pending[0].reserve(static_cast<size_t>(width));
    pending[1].reserve(static_cast<size_t>(width));
    scan.resize(static_cast<size_t>(width) + 1);
  } catch (const std::bad_alloc&) {
    Error("SnapBorderPixels: out of memory, pass skipped");
    return;
  }
  auto apply = [&](std::vector<Snap>& snaps, int y) {
    unsigned char* row = pixels + static_cast<size_t>(y) * stride;
    for (const Snap& s : snaps) {
      unsigned char* p = row + static_cast<size_t>(s.x) * 3;
      p[0] = p[1] = p[2] = s.value;
    }
    snaps.clear();
  };

  // Pixels x0..x1-1 of row y, one at a time.
  auto classify = [&](int y, int x0, int x1, std::vector<Snap>& out) {
    const unsigned char* row = pixels + static_cast<size_t>(y) * stride;
    for (int x = x0; x < x1; ++x) {
      if (x + 8 <= x1 && EightWhite(row + static_cast<size_t>(x) * 3)) {
        x += 7;
        continue;
      }
      const int r = Classify(pixels, stride, x, y, width, height);
      if ((r == 0 || r == 4) && y >= 1) {
        out.push_back({x, snapTo[EdgeGrey(row + static_cast<size_t>(x) * 3 - stride)]});
      } else if ((r == 2 || r == 6) && x >= 1) {
        out.push_back({x, snapTo[EdgeGrey(row + static_cast<size_t>(x - 1) * 3)]});
      }
    }
  };

  // Greyness of the rows above, at and below the current one, taken before any is changed.
  bool greyAbove = false;
  bool grey = RowIsGrey(pixels, width);
  for (int y = 0; y < height; ++y) {
    const bool greyBelow =
        y + 1 < height && RowIsGrey(pixels + static_cast<size_t>(y + 1) * stride, width);
    if (greyRows != nullptr) (*greyRows)[static_cast<size_t>(y)] = grey;
    std::vector<Snap>& mine = pending[y & 1];
    if (y >= 1 && y + 1 < height && width >= 3 && greyAbove && grey && greyBelow) {
      classify(y, 0, 1, mine);
      const size_t n =
          ScanGreyRow(pixels + static_cast<size_t>(y) * stride, stride, width, snapTo, scan.data());
      for (size_t k = 0; k < n; ++k) mine.push_back(scan[k]);
      classify(y, static_cast<int>(scan[n].x), width, mine);
    } else {
      classify(y, 0, width, mine);
    }
    // Row y - 1 has now been read for the last time.
    if (y >= 1) apply(pending[(y - 1) & 1], y - 1);
    greyAbove = grey;
    grey = greyBelow;
  }
  apply(pending[(height - 1) & 1], height - 1);
}

// ConvertToGray, passing over the rows that greyRows marks grey.
void GreyPass(unsigned char* pixels, int width, int height, int nByteWidth, int nBrightness,
              GrayFinish finish, const std::vector<bool>& greyRows) {
  if (!ValidImage(pixels, width, height, nByteWidth)) return;
  const size_t stride = static_cast<size_t>(nByteWidth);
  const int offset = LimitOffset(nBrightness);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = pixels + static_cast<size_t>(y) * stride;
    if (static_cast<size_t>(y) < greyRows.size() && greyRows[static_cast<size_t>(y)]) continue;
    if (RowIsGrey(row, width)) continue;
    for (int x = 0; x < width; ++x) {
      unsigned char* p = row + static_cast<size_t>(x) * 3;
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

}  // namespace

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
//   3. Inner pixels of a grey row between grey rows (every row of a page read at 8 bits) are
//      tested sixteen bytes at a time by the same rules; other pixels one at a time.
//   4. The row stride is nByteWidth; it must equal the one IsBorder derives from the width.
//      An image whose stride is shorter than its pixels is left alone.  Padding bytes are
//      never written.
void SnapBorderPixels(unsigned char* pixels, int width, int height, int nByteWidth,
                      int nBrightness) {
  SnapBorders(pixels, width, height, nByteWidth, nBrightness, nullptr);
}

// Pass 2: a pixel whose three bytes differ becomes grey: Y = (0.299 R + 0.587 G) + 0.114 B in
// double precision, truncated, plus nBrightness, then finished by `finish`:
//   kClamp  limits it to 0..255;
//   kSnap   makes 0..99 black and 226 and up white, and keeps 100..225.
// Pixels with three equal bytes are kept as they are, without the offset.
//
// Notes:
//   1. Byte 0 is blue, byte 1 green, byte 2 red.
//   2. Grey rows (every row of a page read at 8 bits) are recognised sixteen bytes at a time
//      and left alone.
//   3. An image whose stride is shorter than its pixels is left alone; padding bytes are never
//      written.
void ConvertToGray(unsigned char* pixels, int width, int height, int nByteWidth, int nBrightness,
                   GrayFinish finish) {
  GreyPass(pixels, width, height, nByteWidth, nBrightness, finish, {});
}

void SnapBordersThenConvertToGray(unsigned char* pixels, int width, int height, int nByteWidth,
                                  int nBrightness, GrayFinish finish) {
  // Without room for the marks both passes still run, the second looking at every row.
  std::vector<bool> greyRows;
  try {
    greyRows.assign(static_cast<size_t>(std::max(height, 0)), false);
  } catch (const std::bad_alloc&) {
    greyRows.clear();
  }
  SnapBorders(pixels, width, height, nByteWidth, nBrightness,
              greyRows.empty() ? nullptr : &greyRows);
  GreyPass(pixels, width, height, nByteWidth, nBrightness, finish, greyRows);
}
