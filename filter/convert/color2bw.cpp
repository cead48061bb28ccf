// Monochrome conversion of a page's 24-bit working image into the page bitmap.
//
// Contents
//   ModeOfChoice  the mode a "Dithering" choice names
//   Color2BW      converts the image in place by one of four modes, then packs
//                 every exactly black pixel as an ink bit of the page bitmap
//   (internal) ConvertAdaptive, ConvertThreshold, PackBlackPixels

#include "convert/color2bw.h"

#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "adaptive/grey_steps.h"
#include "adaptive/line_rules.h"
#include "adaptive/row_above_runs.h"
#include "convert/error_diffusion.h"
#include "convert/ordered_dither.h"
#include "convert/otsu.h"
#include "log.h"
#include "pixels.h"

namespace {

// The halftoning routines take a light level; the filter always passes 100
// (no brightness shift).  Only the threshold mode has a light level of its own.
constexpr int kFullLight = 100;

// Clears the bit of every (0, 0, 0) pixel of one row; the bits beyond cx are left as the caller
// set them.
void PackRow(const unsigned char* p, unsigned char* out, int cx) {
  auto ink = [](const unsigned char* q) { return (q[0] | q[1] | q[2]) == 0; };
  int w = 0;
  for (; w + 8 <= cx; w += 8, p += 24) {
    if (EightAlike(p) >= 0) {  // eight pixels alike: all ink or none
      out[w >> 3] &= ink(p) ? 0 : 0xFF;
      continue;
    }
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k) bits |= static_cast<unsigned>(ink(p + 3 * k)) << (7 - k);
    out[w >> 3] &= static_cast<unsigned char>(~bits);
  }
  for (; w < cx; ++w, p += 3) {
    if (ink(p)) out[w >> 3] &= static_cast<unsigned char>(~(0x80u >> (w & 7)));
  }
}

// Mode 0: every grey pixel is decided by the line rules, in raster order, and each row is packed
// as soon as it is decided (no later row reaches back into it).
//  1. One pass greys the image as otsu does (its threshold plays no part here), copies each row
//     into the snapshot the rules read and indexes the snapshot's transitions.  The snapshot is
//     followed by a row of white, so that reads one row below the last row, or a pixel or two
//     past the last column, land on white.
//  2. A dot that is black or white in the snapshot is never decided: no run of the rules takes
//     it (a dark run fills only with black, a light one stops before any dot of 149 or less, and
//     a fill passes over white), and white marks leave it as it is.  Only the snapshot's grey
//     dots are looked at.
//  3. The snapshot's allocation may throw std::bad_alloc, as may the indexes built from it.
void ConvertAdaptive(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy,
                     int nImageWidth) {
  const std::size_t stride = static_cast<std::size_t>(nImageWidth);
  const std::size_t cjBits = stride * static_cast<std::size_t>(cy);
  constexpr std::size_t kPastTheEnd = 16;  // the farthest the rules read past a row's end
  std::unique_ptr<unsigned char[]> snapshotOwner(new unsigned char[cjBits + stride + kPastTheEnd]);
  unsigned char* const snapshot = snapshotOwner.get();
  std::memset(snapshot + cjBits, 0xFF, stride + kPastTheEnd);
  GreySteps steps(nImageWidth, cy);
  const GreyLevels levels(kFullLight);
  for (int h = 0; h < cy; ++h) {
    unsigned char* row = pvBits + static_cast<std::size_t>(h) * stride;
    GreyRow(row, stride / 3, levels, nullptr);
    std::memcpy(snapshot + static_cast<std::size_t>(h) * stride, row, stride);
    // A row's last transition compares it with what follows it: the next row, now copied.
    if (h >= 1) steps.AddRow(h - 1, snapshot + static_cast<std::size_t>(h - 1) * stride);
  }
  if (cy >= 1) steps.AddRow(cy - 1, snapshot + static_cast<std::size_t>(cy - 1) * stride);
  steps.Complete();

  RowAboveRuns runs;
  const LineAids aids{steps, runs};
  const std::size_t bitmapStride = BitmapStride(static_cast<std::size_t>(cx));
  for (int h = 0; h < cy; ++h) {
    unsigned char* row = pvBits + static_cast<std::size_t>(h) * stride;
    const unsigned char* grey = snapshot + static_cast<std::size_t>(h) * stride;
    for (int w = 0; w < cx; ++w) {
      if ((w & 7) == 0 && w + 8 <= cx) {
        const int alike = EightAlike(grey + 3 * w);
        if (alike == 0 || alike == 255) {
          w += 7;
          continue;
        }
      }
      if (grey[3 * w] == 0 || grey[3 * w] == 255) continue;
      // Earlier calls may already have decided this pixel as part of a run.
      const int pixel = GreyOf(row + 3 * static_cast<std::size_t>(w));
      if (pixel == 0 || pixel == 255) continue;
      ProcessLine(pvBits, snapshot, w, h, nImageWidth, cy, aids);
    }
    PackRow(row, pDataBuf + static_cast<std::size_t>(h) * bitmapStride, cx);
  }
}

// Mode 1: Otsu's threshold plus nLight; a pixel below the cut is black, one at or above it
// white.  When no pixel lies below the cut (a page of pure black and white gives Otsu 0, a page
// of one dark level on white gives that level, a large negative offset moves the cut below
// everything), the cut moves to one above the darkest level on the page, so that the page's
// ink still prints; a page of nothing but white stays blank.
void ConvertThreshold(unsigned char* pvBits, int cx, int cy, int nImageWidth, int nLight) {
  const int nThresholds = otsu(pvBits, nImageWidth, cy, 24, kFullLight);
  Debug("Color2BW nThresholds=%d nLight=%d", nThresholds, nLight);
  // 64-bit, so that no light level from the job can overflow the cut.
  long long cut = static_cast<long long>(nThresholds) + nLight;
  int darkest = 255;
  for (int h = 0; h < cy && darkest >= cut; ++h) {
    const unsigned char* p = pvBits + static_cast<std::size_t>(h) * nImageWidth;
    for (int w = 0; w < cx; ++w, p += 3) darkest = std::min<int>(darkest, p[0]);
  }
  if (darkest >= cut && darkest < 255) {
    Debug("Color2BW no pixel below the cut %lld: cut at %d", cut, darkest + 1);
    cut = darkest + 1;
  }
  for (int h = 0; h < cy; ++h) {
    unsigned char* p = pvBits + static_cast<std::size_t>(h) * nImageWidth;
    for (int w = 0; w < cx; ++w, p += 3) {
      const unsigned char v = p[0] >= cut ? 255 : 0;
      p[0] = p[1] = p[2] = v;
    }
  }
}

// Clears the bit of every (0, 0, 0) pixel; rows of the bitmap are padded to 32 dots.
void PackBlackPixels(const unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy,
                     int nImageWidth) {
  const std::size_t xx = BitmapStride(static_cast<std::size_t>(cx));
  for (int h = 0; h < cy; ++h) {
    PackRow(pvBits + static_cast<std::size_t>(h) * nImageWidth, pDataBuf + h * xx, cx);
  }
}

}  // namespace

ConversionMode ModeOfChoice(const char* choice) {
  for (const ConversionModeName& m : kConversionModes) {
    if (choice != nullptr && strcasecmp(choice, m.choice) == 0) return m.mode;
  }
  return ConversionMode::kNone;
}

// Color2BW: converts one page image to black and white and packs it.
//   In:  pvBits, cx x cy pixels of 3 bytes at a stride of nBytePerRow bytes,
//        0 black .. 255 white; altered in place.  pDataBuf, the page bitmap
//        at a stride of ((cx + 31) >> 5) * 4 bytes, filled with 0xFF by the
//        caller.  nLight: threshold offset, mode 1 only.  dwDithering: 0
//        adaptive, 1 threshold, 2 ordered dithering, 3 error diffusion, any
//        other value packs the image as it is.
//   Out: the bits of black pixels cleared in pDataBuf; no bit is ever set.
//   Notes:
//   1. Only pixels that end exactly (0, 0, 0) are ink.
//   2. All work uses the stride in bytes as the image width, so padding
//      columns take part in greying and in the adaptive rules' neighbours.
//   3. Mode 0 needs a working copy of twice the image's size; when it cannot
//      be had, std::bad_alloc propagates to the caller (the page loop reports
//      it and stops).
//   4. An empty page, or a stride too short for cx pixels, converts nothing.
void Color2BW(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy, int nBytePerRow,
              int nLight, int dwDithering) {
  const int dwValue = dwDithering;
  Debug("Color2BW dwValue=%d nLight=%d", dwValue, nLight);
  if (cx <= 0 || cy <= 0 || nBytePerRow / 3 < cx) return;

  const int nImageWidth = nBytePerRow;
  switch (static_cast<ConversionMode>(dwValue)) {
    case ConversionMode::kNone:
      ConvertAdaptive(pvBits, pDataBuf, cx, cy, nImageWidth);
      return;  // packed as it went
    case ConversionMode::kThreshold:
      ConvertThreshold(pvBits, cx, cy, nImageWidth, nLight);
      break;
    case ConversionMode::kOrderDithering:
      OrderedDither(pvBits, cx, cy, nImageWidth, kFullLight);
      break;
    case ConversionMode::kErrorDiffusion:
      ErrorDiffusion(pvBits, cx, cy, nImageWidth, kFullLight);
      break;
    default:
      break;  // no conversion: only pixels already (0, 0, 0) are ink
  }
  PackBlackPixels(pvBits, pDataBuf, cx, cy, nImageWidth);
}
