// A second, deliberately plain implementation of the adaptive conversion
// (mode "None"), kept apart from the filter's own code so that the two can be
// run side by side on the same pages and compared byte for byte.
//
// Contents
//   reference::Rect, TwoDimensionCodeRect   its own table of 10 code rectangles
//   reference::ResetCodeRects               empties that table
//   reference::IsAnchor                     finder pattern with its corner at (x, y)
//   reference::IsRDCode                     whole code from its top-left finder
//   reference::ProcessLine                  decision of one grey pixel and its run
//   reference::Color2BW                     greying, decisions and packing of a page
//
// Nothing here is fast: every rule is a separate, literal test, in the order
// the conversion takes them, so that a difference from the filter points at
// one rule.
#pragma once

#include <cstdint>

namespace reference {

struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

inline constexpr int kCodeSlots = 10;

// Codes found so far; an entry is free while its right is 0.
extern Rect TwoDimensionCodeRect[kCodeSlots];

void ResetCodeRects();

// All routines read the grey snapshot: pixel (j, r) is byte r * nWidth + 3 * j,
// nWidth being the row stride in bytes; the snapshot carries a white margin as
// large as the image after it.
int IsAnchor(const unsigned char* pOrgPixel, int x, int y, int nWidth, int nHeight);
int IsRDCode(const unsigned char* pOrgPixel, int x, int y, int nWidth, int nHeight);
int ProcessLine(unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
                int nHeight);

// Mode "None" only: greys pvBits in place (with the filter's otsu), decides
// every pixel and clears the ink bits of pDataBuf (32-dot stride, caller
// fills it with 0xFF).
void Color2BW(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy, int nBytePerRow);

}  // namespace reference
