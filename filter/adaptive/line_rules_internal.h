// The neighbourhood of one grey pixel, as the decision rules see it.
//
// Contents
//   PixelContext          grey values and decisions around pixel (x, y)
//   DecideCloserToAbove   rules for a pixel at least as close to the row above
//   DecideCloserToBelow   rules for a pixel closer to the row below
//
// Shared by line_rules.cpp (which builds the context) and the two rule files.
#pragma once

#include <cstddef>

class GreySteps;
class RowAboveRuns;

struct PixelContext {
  const unsigned char* pOrgPixel;  // grey snapshot, white margin after the image
  std::ptrdiff_t pos;              // byte offset of (x, y)
  int nWidth;                      // row stride in bytes
  int nHeight;
  int x;
  int y;
  // Grey values: this pixel, above, below, left, right, two to the left.
  // L is the byte before the pixel's group (the previous row's end at x = 0);
  // L2 is only meaningful for x >= 2.
  int O, U, D, L, R, L2;
  // Decisions already taken above and to the left (first byte of the image).
  int pU, pL;
  // Run of the row above: mean grey (dwColor) and length (nTotalColor).
  int dwColor;
  int nTotalColor;

  // Grey value dx columns right and dy rows down of (x, y), unchecked.
  int G(int dx, int dy) const {
    return pOrgPixel[pos + dy * static_cast<std::ptrdiff_t>(nWidth) +
                     3 * static_cast<std::ptrdiff_t>(dx)];
  }
  bool HasRight() const { return x < nWidth / 3 - 1; }  // not in the last scanned column
  bool HasBelow() const { return y < nHeight - 1; }     // not on the last row
};

// Both need y >= 1.  Return the decided byte: 0, 255, or a copy of pU or pL.
unsigned char DecideCloserToAbove(const PixelContext& c);
unsigned char DecideCloserToBelow(const PixelContext& c);

// Tolerances of the row-above run average for the two rule sets.
inline constexpr int kRunToleranceAbove = 30;
inline constexpr int kRunToleranceBelow = 10;
