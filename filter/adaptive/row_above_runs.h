// The run of the row above that the decision rules average.
//
// Contents
//   RunAverage      mean grey (dwColor) and length (nTotalColor) of a run
//   RowAboveRuns    the run above (x, y) for a page converted row after row:
//                   short runs scanned, long ones looked up in an index of the row above
//
// The run above (x, y): from column x of row y-1 rightwards while
// 3 * column < nWidth, the pixels decided like (x, y-1) (first byte of the
// image) whose grey (snapshot) lies within `tolerance` of its grey, up to the
// first that is not.  It holds at least the pixel above itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RunAverage {
  int dwColor;      // truncated mean grey of the run
  int nTotalColor;  // its length in pixels
};

// For the page conversion, which decides rows top to bottom: while row y is
// decided, row y-1 no longer changes, so an index of it stays valid until
// the next row.  Rows whose runs stay short are never indexed.
class RowAboveRuns {
 public:
  RunAverage Run(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y,
                 int nWidth, int tolerance);

 private:
  void Index(const unsigned char* pPixel, const unsigned char* pOrgPixel, int row, int nWidth);
  int EndOfRun(int x, int tolerance) const;

  int row_ = -1;                                    // the row indexed, -1 for none
  std::vector<unsigned char> grey_;                 // its grey values
  std::vector<int> sameUntil_;                      // first column after c decided otherwise
  std::vector<unsigned char> minTo_;                // least grey from c to sameUntil_[c]
  std::vector<unsigned char> maxTo_;                // greatest grey from c to sameUntil_[c]
  std::vector<unsigned char> blockMin_, blockMax_;  // per block of 32 columns
  std::vector<std::int64_t> prefix_;                // prefix_[c]: sum of the greys left of c
};
