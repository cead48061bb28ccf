#pragma once

class GreySteps;
class RowAboveRuns;

// Indexes of the page being converted, built from its snapshot: where the snapshot rises and
// falls, and the runs of the row above the one being decided.
struct LineAids {
  const GreySteps& steps;
  RowAboveRuns& runs;
};

// Decides grey pixel (x, y) of the image being converted (and possibly the run
// to its right, and inside a code, white marks below it).  Reads the grey
// snapshot pOrgPixel, which must carry a white margin of the image's size.
// Always returns 1.
int ProcessLine(unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
                int nHeight, LineAids aids);
