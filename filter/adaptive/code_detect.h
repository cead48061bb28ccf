// Two-dimensional code detection on the grey snapshot.
#pragma once

#include <cstdint>

struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

inline constexpr int kTwoDimensionCodeSlots = 10;

// Codes found so far in this job; an entry is free while its right is 0.
// Lives as long as the job (one per thread) so that a code found on one page
// holds for the later pages.
extern thread_local RECT TwoDimensionCodeRect[kTwoDimensionCodeSlots];

// Empties the table (a new job, or a test that needs a clean start).
void ResetTwoDimensionCodeRects();

class GreySteps;

// Finder width when a finder pattern has its top-left corner at (x, y), else 0.  steps is the
// index of the snapshot pOrgPixel's transitions (grey_steps.h).
int IsAnchor(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
             int nHeight, const GreySteps& steps);

// 1 when a whole code with its top-left finder at (x, y) is confirmed and
// recorded in TwoDimensionCodeRect, else 0.
int IsRDCode(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
             int nHeight, const GreySteps& steps);
