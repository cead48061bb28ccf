// The run of the row above: looked up in an index as scanned pixel by pixel.
//
// Contents
//   RowAboveRuns.*   hand-worked runs; the index agrees with the plain scan

#include "adaptive/row_above_runs.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "grey_page.h"

namespace {

// Row 0: greys 100, 110, 130, 131, 95 decided white, then 100 decided black.
TEST(RowAboveRuns, RunStopsAtTheFirstPixelOutsideTheToleranceOrDecidedOtherwise) {
  GreyPage p(8, 2);
  const int grey[] = {100, 110, 130, 131, 95, 100};
  for (int x = 0; x < 6; ++x) p.Decided(x, 0, grey[x], x < 5 ? 255 : 0);
  auto run = [&](int x, int tolerance) {
    return RunOfRowAbove(p.image.data(), p.snapshot.data(), x, 1, p.stride, tolerance);
  };
  EXPECT_EQ(run(0, 30).nTotalColor, 3);  // 131 is 31 from 100
  EXPECT_EQ(run(0, 30).dwColor, 113);    // (100 + 110 + 130) / 3
  EXPECT_EQ(run(0, 10).nTotalColor, 2);  // 110 is within 10, 130 is not
  EXPECT_EQ(run(3, 10).nTotalColor, 1);  // 95 is 36 away
  EXPECT_EQ(run(4, 30).nTotalColor, 1);  // 100 is decided black
  EXPECT_EQ(run(6, 10).nTotalColor, 2);  // white to the end of the row
}

// A stride with one byte of padding: the partial group at its end counts as
// one more column, by its first byte.
TEST(RowAboveRuns, PartialGroupAtTheRowEndCountsAsAColumn) {
  GreyPage p(4, 2, 1);
  EXPECT_EQ(RunOfRowAbove(p.image.data(), p.snapshot.data(), 0, 1, p.stride, 10).nTotalColor, 5);
}

// Rows of long segments decided alike, greys ramping and jittering, queried
// left to right as the page conversion does: the same answers for every
// column and both tolerances, whether the row gets indexed or not.
TEST(RowAboveRuns, IndexAnswersAsThePlainScan) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 8; ++trial) {
    GreyPage p(300, 3, trial % 4);
    for (int y = 0; y < 2; ++y) {
      int x = 0;
      while (x < 300) {
        const int length = 1 + static_cast<int>(rng() % (trial < 4 ? 200 : 20));
        const int decision = rng() % 2 ? 255 : 0;
        const int base = static_cast<int>(rng() % 200);
        const int slope = static_cast<int>(rng() % 4);
        for (int k = 0; k < length && x < 300; ++k, ++x) {
          p.Decided(x, y, std::min(255, base + slope * k / 3 + static_cast<int>(rng() % 5)),
                    decision);
        }
      }
    }
    RowAboveRuns runs;
    for (int y = 1; y <= 2; ++y) {
      for (int x = 0; x < p.stride / 3; ++x) {
        for (int tolerance : {30, 10}) {
          const RunAverage plain =
              RunOfRowAbove(p.image.data(), p.snapshot.data(), x, y, p.stride, tolerance);
          const RunAverage indexed =
              runs.Run(p.image.data(), p.snapshot.data(), x, y, p.stride, tolerance);
          ASSERT_EQ(indexed.nTotalColor, plain.nTotalColor) << x << "," << y << " trial " << trial;
          ASSERT_EQ(indexed.dwColor, plain.dwColor) << x << "," << y << " trial " << trial;
        }
      }
    }
  }
}

}  // namespace
