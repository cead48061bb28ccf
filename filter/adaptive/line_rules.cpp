// Adaptive black/white decision of one grey pixel and the run to its right.
//
// Contents
//   ProcessLine   decides grey pixel (x, y); extends the decision along a run
//   (internal) FindCodeRect   the first recorded code holding a pixel
//
// Instead of one global threshold each pixel is decided from its own grey
// value, its grey neighbours and the decisions already taken above and to the
// left, so that smoothed edges are cut where the edge really lies and stay
// straight from row to row.  Inside a detected two-dimensional code the
// lighter pixels of a dark run are forced white so that modules stay clean.
//
// Reads that leave the pixel's own row, and why they stay inside buffers:
//   - row y-1 only when y >= 1;
//   - row y+1 and one pixel right of the last column: the snapshot carries a
//     white margin as large as the image;
//   - the pixel left of column 0 only when y >= 1: the previous row's last
//     three bytes.

#include "adaptive/line_rules.h"

#include <cstddef>
#include <optional>

#include "adaptive/code_detect.h"
#include "adaptive/line_rules_internal.h"
#include "adaptive/row_above_runs.h"
#include "log.h"
#include "pixels.h"

namespace {

auto absDiff = [](int a, int b) { return a > b ? a - b : b - a; };

// The first code rectangle that holds (x, y), bounds inclusive.
std::optional<RECT> FindCodeRect(int x, int y) {
  for (const RECT& r : TwoDimensionCodeRect) {
    if (r.right > 0 && r.left <= x && x <= r.right && r.top <= y && y <= r.bottom) return r;
  }
  return std::nullopt;
}

}  // namespace

// ProcessLine: decides grey pixel (x, y) and the run of similar pixels right of it.
//   In:  pPixel, the image being decided (stride nWidth bytes, nHeight rows);
//        pOrgPixel, its grey snapshot with a white margin of the image's size.
//   Out: always 1.  Writes the decision to (x, y) .. (num, y) of pPixel; inside a
//        code, may set the first byte of pixels below to 255 (a white mark).
//   Notes:
//   1. Columns run to nWidth/3 - 1, which may include padding columns.
//   2. A pixel of grey 220 or more becomes white and nothing else happens.
//   3. A dark pixel outside known codes may start code detection, which can
//      record a new rectangle in TwoDimensionCodeRect.
//   4. Fill never overwrites a pixel whose first byte is already 255.
int ProcessLine(unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
                int nHeight, LineAids aids) {
  const std::ptrdiff_t stride = nWidth;
  const std::ptrdiff_t pos = y * stride + 3 * static_cast<std::ptrdiff_t>(x);
  const int nColumns = nWidth / 3;
  // Grey value at column j of row y, and at (j, r).
  auto P = [&](int j) { return int{pOrgPixel[y * stride + 3 * static_cast<std::ptrdiff_t>(j)]}; };
  auto Pr = [&](int j, int r) {
    return int{pOrgPixel[r * stride + 3 * static_cast<std::ptrdiff_t>(j)]};
  };

  const int O = pOrgPixel[pos];
  if (O >= 220) {
    pPixel[pos] = pPixel[pos + 1] = pPixel[pos + 2] = 255;
    return 1;
  }

  const int D = pOrgPixel[pos + stride];
  const int R = pOrgPixel[pos + 3];
  unsigned char color;
  if (y == 0) {
    if (x == 0 && O < 200) {
      color = 0;
    } else if (x >= 1 && absDiff(O, pOrgPixel[pos - 3]) <= 19) {
      color = pPixel[pos - 3];
    } else {
      color = O >= 100 ? 255 : 0;
    }
  } else {
    PixelContext c{};
    c.pOrgPixel = pOrgPixel;
    c.pos = pos;
    c.nWidth = nWidth;
    c.nHeight = nHeight;
    c.x = x;
    c.y = y;
    c.O = O;
    c.U = pOrgPixel[pos - stride];
    c.D = D;
    c.L = pOrgPixel[pos - 3];  // the previous row's end when x = 0
    c.R = R;
    c.L2 = x >= 2 ? pOrgPixel[pos - 6] : 255;
    c.pU = pPixel[pos - stride];
    c.pL = pPixel[pos - 3];
    const bool closerToAbove = absDiff(O, c.U) <= absDiff(O, D);
    const int tolerance = closerToAbove ? kRunToleranceAbove : kRunToleranceBelow;
    const RunAverage run = aids.runs.Run(pPixel, pOrgPixel, x, y, nWidth, tolerance);
    c.dwColor = run.dwColor;
    c.nTotalColor = run.nTotalColor;
    color = closerToAbove ? DecideCloserToAbove(c) : DecideCloserToBelow(c);
  }

  std::optional<RECT> QDRect = FindCodeRect(x, y);
  if (!QDRect && color == 0 &&
      IsRDCode(pPixel, pOrgPixel, x, y, nWidth, nHeight, aids.steps) == 1) {
    QDRect = FindCodeRect(x, y);
    if (QDRect) Debug("****** Find x=%d y=%d Two Dimension Code", x, y);
  }
  const bool bWord = !QDRect;

  // A pixel at a rise from left to right is decided alone.
  const bool bBorder =
      (x >= 1 && 3 * (x + 1) < nWidth && O - pOrgPixel[pos - 3] > 35) || (O <= 99 && R >= 101);

  // Run extension: num is the last column that takes the decision.
  bool bSeperator = false;
  int i = x;
  for (; i < nColumns - 1; ++i) {
    if (bBorder) break;
    const int next = P(i + 1);
    if (color != 0) {  // a light run stops at a change of grey or of the decision above
      if (absDiff(next, O) > 10) break;
      if (y >= 1) {
        const std::ptrdiff_t aboveNext = (y - 1) * stride + 3 * static_cast<std::ptrdiff_t>(i + 1);
        const int greyAbove = pOrgPixel[aboveNext];
        if (pPixel[aboveNext] != color) {
          if (Within(greyAbove, next, 9)) break;
        } else if (absDiff(greyAbove, next) > 35) {
          break;
        }
      }
      if (next <= 149) break;
      continue;
    }

    // A dark run.  Inside a code its light pixels are whitened, and a column
    // that stays light for 3 rows is whitened down to the code's bottom.
    const int here = P(i);
    if (!bWord && !bSeperator && here > 100) {
      int count = 0;
      for (int r = y; r < nHeight && count < 4 && Pr(i, r) > 100; ++r) ++count;
      bSeperator = count >= 3;
    }
    if (bSeperator && here > 100) {
      for (int r = y; r < nHeight && r <= QDRect->bottom && Pr(i, r) > 100; ++r) {
        pPixel[r * stride + 3 * static_cast<std::ptrdiff_t>(i)] = 255;
      }
    }
    if (!bWord && here > 100) pPixel[y * stride + 3 * static_cast<std::ptrdiff_t>(i)] = 255;
    if (absDiff(next, O) > 10) break;
    if (next > 234) break;
    // i - 1 of column 0 is the previous row's end; there is none on row 0.
    if (!(y == 0 && i == 0)) {
      const int before = pOrgPixel[y * stride + 3 * static_cast<std::ptrdiff_t>(i) - 3];
      if (here > 99 && before <= 99 && here - before > 19) break;
    }
    if (here > 149) break;
  }
  const int num = i;

  for (int j = x; j <= num; ++j) {
    unsigned char* p = pPixel + y * stride + 3 * static_cast<std::ptrdiff_t>(j);
    if (p[0] != 255) p[0] = p[1] = p[2] = color;
  }
  return 1;
}
