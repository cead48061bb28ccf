// Detection of two-dimensional codes by their finder patterns.
//
// Contents
//   CodeDetect.*   smoothed finders found, crisp ones not; the 43-pixel
//                  minimum; square fallback and bottom-left finder; full table

#include "adaptive/code_detect.h"

#include <gtest/gtest.h>

#include <vector>

#include "grey_page.h"

namespace {

constexpr int kWidth = 100;
constexpr int kHeight = 80;

// A 100 x 80 page at 3 pixels per module with a finder whose ideal top-left
// corner is at (8, 4) and further finders at the given ideal corners.
GreyPage FinderPage(const std::vector<std::pair<int, int>>& others, bool smoothed = true) {
  std::vector<int> ideal(kWidth * kHeight, 255);
  DrawFinder(ideal, kWidth, 8, 4, 3);
  for (auto [left, top] : others) DrawFinder(ideal, kWidth, left, top, 3);
  const std::vector<int> grey = smoothed ? Smooth2x2(ideal, kWidth, kHeight) : ideal;
  GreyPage page(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) page.Grey(x, y, grey[y * kWidth + x]);
  }
  return page;
}

class CodeDetect : public ::testing::Test {
 protected:
  void SetUp() override { ResetTwoDimensionCodeRects(); }
  void TearDown() override { ResetTwoDimensionCodeRects(); }

  static int Anchor(const GreyPage& p, int x, int y) {
    return IsAnchor(p.image.data(), p.snapshot.data(), x, y, p.stride, p.height);
  }
  static int Code(const GreyPage& p, int x, int y) {
    return IsRDCode(p.image.data(), p.snapshot.data(), x, y, p.stride, p.height);
  }
  static int UsedSlots() {
    int n = 0;
    for (const RECT& r : TwoDimensionCodeRect) n += r.right != 0;
    return n;
  }
};

void ExpectRect(const RECT& r, int left, int top, int right, int bottom) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.right, right);
  EXPECT_EQ(r.bottom, bottom);
}

// The worked example: a finder with its ideal corner at (8, 4) and a second
// one 42 pixels right.  From the smoothed corner (7, 3) the top band ends at
// the half-grey corner pixel of column 28: 21 wide; from (8, 4), 20 wide.
// The right finder's dark run starts at column 50, so the code reaches
// 50 + 20 = 70 and, with no bottom-left finder, is square.  Row 3 is the
// smoothed top edge: nothing on it is 99 or darker, so from (7, 3) no run
// leads to the right-hand finder.
TEST_F(CodeDetect, WorkedExample) {
  const GreyPage page = FinderPage({{50, 4}});
  EXPECT_EQ(Anchor(page, 7, 3), 21);
  EXPECT_EQ(Anchor(page, 8, 4), 20);
  EXPECT_EQ(Code(page, 7, 3), 0);
  EXPECT_EQ(UsedSlots(), 0);
  ASSERT_EQ(Code(page, 8, 4), 1);
  ExpectRect(TwoDimensionCodeRect[0], 8, 4, 70, 66);
  EXPECT_EQ(UsedSlots(), 1);
}

// A rise onto 200 or darker fixes the width; onto 201 it ends the scan.
TEST_F(CodeDetect, FirstRiseFixesTheWidthUpToGrey200) {
  GreyPage page = FinderPage({{50, 4}});
  page.Grey(28, 3, 200);
  EXPECT_EQ(Anchor(page, 7, 3), 21);
  page.Grey(28, 3, 201);
  EXPECT_EQ(Anchor(page, 7, 3), 0);
}

// From (6, 4), one white column left of the finder, the top band measures
// 22; the right finder's dark run (columns 50 to 69) is 19 long, within 3 of
// that, so it is tested, and the code is 72 - 6 = 66 wide and square.
TEST_F(CodeDetect, RightFinderMayBeUpTo3NarrowerThanTheFirst) {
  const GreyPage page = FinderPage({{50, 4}});
  EXPECT_EQ(Anchor(page, 6, 4), 22);
  ASSERT_EQ(Code(page, 6, 4), 1);
  ExpectRect(TwoDimensionCodeRect[0], 6, 4, 72, 70);
}

// Crisp edges: the first rise after the top band goes straight to white.
TEST_F(CodeDetect, CrispFindersAreNotConfirmed) {
  const GreyPage page = FinderPage({{50, 4}}, /*smoothed=*/false);
  EXPECT_EQ(Anchor(page, 7, 3), 0);
  EXPECT_EQ(Anchor(page, 8, 4), 0);
  EXPECT_EQ(Code(page, 8, 4), 0);
  EXPECT_EQ(UsedSlots(), 0);
}

// Second finder 23 pixels right: right = 31 + 20 = 51, 43 wide, accepted;
// 22 pixels right gives right = 50, 42 wide, rejected.
TEST_F(CodeDetect, CodesNarrowerThan43PixelsAreRejected) {
  ASSERT_EQ(Code(FinderPage({{31, 4}}), 8, 4), 1);
  ExpectRect(TwoDimensionCodeRect[0], 8, 4, 51, 4 + 43);

  ResetTwoDimensionCodeRects();
  EXPECT_EQ(Code(FinderPage({{30, 4}}), 8, 4), 0);
  EXPECT_EQ(UsedSlots(), 0);
}

// A bottom-left finder whose dark run starts at row 49 sets the bottom to
// 49 + 20 = 69 instead of the square 66; on its own it makes no code.
TEST_F(CodeDetect, BottomLeftFinderSetsTheBottom) {
  ASSERT_EQ(Code(FinderPage({{50, 4}, {8, 49}}), 8, 4), 1);
  ExpectRect(TwoDimensionCodeRect[0], 8, 4, 70, 69);

  ResetTwoDimensionCodeRects();
  EXPECT_EQ(Code(FinderPage({{8, 49}}), 8, 4), 0);
}

TEST_F(CodeDetect, NewCodesTakeTheLowestFreeSlotAndAFullTableTakesNone) {
  const GreyPage page = FinderPage({{50, 4}});
  TwoDimensionCodeRect[0] = RECT{500, 500, 600, 600};
  ASSERT_EQ(Code(page, 8, 4), 1);
  ExpectRect(TwoDimensionCodeRect[1], 8, 4, 70, 66);

  for (int k = 0; k < kTwoDimensionCodeSlots; ++k) {
    TwoDimensionCodeRect[k] = RECT{500 + k, 500, 600, 600};
  }
  EXPECT_EQ(Code(page, 8, 4), 0);
  for (int k = 0; k < kTwoDimensionCodeSlots; ++k)
    ExpectRect(TwoDimensionCodeRect[k], 500 + k, 500, 600, 600);
}

// A finder in the bottom-right corner: the rows run out below its bottom
// band before any light row, and the pattern is confirmed by its measured
// bands alone.  There is no room for a second finder, so no code.
TEST_F(CodeDetect, FinderInThePageCornerIsConfirmedWhenTheRowsRunOut) {
  std::vector<int> ideal(kWidth * kHeight, 255);
  DrawFinder(ideal, kWidth, kWidth - 21, kHeight - 21, 3);
  const std::vector<int> grey = Smooth2x2(ideal, kWidth, kHeight);
  GreyPage page(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) page.Grey(x, y, grey[y * kWidth + x]);
  }
  EXPECT_EQ(Anchor(page, kWidth - 21, kHeight - 21), 20);
  EXPECT_EQ(Code(page, kWidth - 21, kHeight - 21), 0);
  EXPECT_EQ(UsedSlots(), 0);
}

}  // namespace
