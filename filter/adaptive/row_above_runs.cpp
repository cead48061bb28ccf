// The run of the row above that the decision rules average.
//
// Contents
//   RowAboveRuns::Run       scans short runs, looks long ones up in the index
//   RowAboveRuns::Index     indexes one row: decision segments, their grey
//                           ranges, block ranges, prefix sums
//   RowAboveRuns::EndOfRun  where a run ends, by the index

#include "adaptive/row_above_runs.h"

#include <algorithm>

namespace {

constexpr int kBlock = 32;
// Runs longer than this are looked up in an index of the row instead.
constexpr int kScanBudget = 64;

// Columns of a row: 3 * column < nWidth (a partial group at the end of the
// stride counts, by its first byte).
int ColumnsOf(int nWidth) { return (nWidth + 2) / 3; }

struct PartialRun {
  std::int64_t sum;
  int n;
  bool ended;  // the run ended (a pixel failed, or the row did) within the budget
};

// Scans the run above (x, y) for at most `budget` pixels (no limit when negative).
PartialRun ScanRun(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y,
                   int nWidth, int tolerance, int budget) {
  const std::ptrdiff_t above = static_cast<std::ptrdiff_t>(y - 1) * nWidth + 3 * std::ptrdiff_t{x};
  const unsigned char pU = pPixel[above];
  const int U = pOrgPixel[above];
  const int columns = ColumnsOf(nWidth);
  PartialRun run{0, 0, true};
  for (std::ptrdiff_t p = above; x + run.n < columns; p += 3) {
    const int grey = pOrgPixel[p];
    if (pPixel[p] != pU || grey - U > tolerance || U - grey > tolerance) return run;
    run.sum += grey;
    if (++run.n == budget) {
      run.ended = x + run.n == columns;
      return run;
    }
  }
  return run;
}

}  // namespace

RunAverage RowAboveRuns::Run(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x,
                             int y, int nWidth, int tolerance) {
  if (row_ != y - 1) {
    // Most runs are short: scan them as they are, and index the row only
    // when one turns out long.
    const PartialRun run = ScanRun(pPixel, pOrgPixel, x, y, nWidth, tolerance, kScanBudget);
    if (run.ended) return RunAverage{static_cast<int>(run.sum / run.n), run.n};
    Index(pPixel, pOrgPixel, y - 1, nWidth);
  }
  const int end = EndOfRun(x, tolerance);
  const std::int64_t sum =
      prefix_[static_cast<std::size_t>(end)] - prefix_[static_cast<std::size_t>(x)];
  return RunAverage{static_cast<int>(sum / (end - x)), end - x};
}

void RowAboveRuns::Index(const unsigned char* pPixel, const unsigned char* pOrgPixel, int row,
                         int nWidth) {
  const int columns = ColumnsOf(nWidth);
  const auto n = static_cast<std::size_t>(columns);
  const unsigned char* decision = pPixel + static_cast<std::ptrdiff_t>(row) * nWidth;
  const unsigned char* grey = pOrgPixel + static_cast<std::ptrdiff_t>(row) * nWidth;
  grey_.resize(n);
  sameUntil_.resize(n);
  minTo_.resize(n);
  maxTo_.resize(n);
  blockMin_.assign((n + kBlock - 1) / kBlock, 255);
  blockMax_.assign((n + kBlock - 1) / kBlock, 0);
  // One pass from the right: segments of equal decision and their grey ranges, block ranges.
  for (std::size_t c = n; c-- > 0;) {
    const unsigned char g = grey[3 * c];
    grey_[c] = g;
    const bool segmentEnds = c + 1 == n || decision[3 * c + 3] != decision[3 * c];
    sameUntil_[c] = segmentEnds ? static_cast<int>(c + 1) : sameUntil_[c + 1];
    minTo_[c] = segmentEnds ? g : std::min(g, minTo_[c + 1]);
    maxTo_[c] = segmentEnds ? g : std::max(g, maxTo_[c + 1]);
    blockMin_[c / kBlock] = std::min(blockMin_[c / kBlock], g);
    blockMax_[c / kBlock] = std::max(blockMax_[c / kBlock], g);
  }
  prefix_.resize(n + 1);
  prefix_[0] = 0;
  for (std::size_t c = 0; c < n; ++c) prefix_[c + 1] = prefix_[c] + grey_[c];
  row_ = row;
}

// The first column after x whose decision differs from x's or whose grey is
// more than `tolerance` from x's, or the end of the row.
int RowAboveRuns::EndOfRun(int x, int tolerance) const {
  const auto at = static_cast<std::size_t>(x);
  const int lo = grey_[at] - tolerance;
  const int hi = grey_[at] + tolerance;
  const int limit = sameUntil_[at];
  if (minTo_[at] >= lo && maxTo_[at] <= hi) return limit;  // the whole segment
  auto inside = [&](int g) { return g >= lo && g <= hi; };
  int c = x + 1;
  while (c < limit) {
    if (c % kBlock == 0 && c + kBlock <= limit) {
      const auto b = static_cast<std::size_t>(c / kBlock);
      if (inside(blockMin_[b]) && inside(blockMax_[b])) {
        c += kBlock;
        continue;
      }
    }
    if (!inside(grey_[static_cast<std::size_t>(c)])) return c;
    ++c;
  }
  return limit;
}
