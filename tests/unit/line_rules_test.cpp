// Adaptive decision of grey pixels: the frame, both rule sets and the runs.
//
// Contents
//   FirstRow.*        light pixels, the first row's own rule
//   CloserToAbove.*   pixels at least as close to the row above (ties too)
//   CloserToBelow.*   pixels closer to the row below
//   Runs.*            run extension, pixels decided alone, whitening in codes
//
// Pages are 8 pixels wide (stride 24, no padding) and start white, decided
// white.  Each case sets the few neighbours that matter and is chosen where
// a wrong guard or a tolerance off by one would flip the result.

#include "line_rules.h"

#include <gtest/gtest.h>

#include "code_detect.h"
#include "grey_page.h"

namespace {

constexpr int kW = 8;

class LineRules : public ::testing::Test {
 protected:
  void SetUp() override { ResetTwoDimensionCodeRects(); }
  void TearDown() override { ResetTwoDimensionCodeRects(); }

  // Decides (x, y) and returns the first byte written there.
  static int Decide(GreyPage& p, int x, int y) {
    EXPECT_EQ(ProcessLine(p.image.data(), p.snapshot.data(), x, y, p.stride, p.height), 1);
    return p.Decision(x, y);
  }
};

using FirstRow = LineRules;
using CloserToAbove = LineRules;
using CloserToBelow = LineRules;
using Runs = LineRules;

TEST_F(FirstRow, LightPixelTurnsWhiteAndTakesNoRun) {
  GreyPage light(kW, 3);
  light.Grey(0, 0, 220);
  light.Grey(1, 0, 219);
  Decide(light, 0, 0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(light.image[light.At(0, 0) + k], 255);
  EXPECT_EQ(light.Decision(1, 0), 219);

  // One level darker: decided white by the first-row rule, and the run
  // carries the decision to the similar pixel on its right.
  GreyPage grey(kW, 3);
  grey.Grey(0, 0, 219);
  grey.Grey(1, 0, 219);
  EXPECT_EQ(Decide(grey, 0, 0), 255);
  EXPECT_EQ(grey.Decision(1, 0), 255);
}

TEST_F(FirstRow, FirstPixelIsBlackBelow200) {
  GreyPage a(kW, 3);
  a.Grey(0, 0, 199);
  EXPECT_EQ(Decide(a, 0, 0), 0);
  GreyPage b(kW, 3);
  b.Grey(0, 0, 200);
  EXPECT_EQ(Decide(b, 0, 0), 255);
}

TEST_F(FirstRow, FollowsTheLeftDecisionWithin19) {
  for (auto [left, expected] : {std::pair{131, 0}, std::pair{130, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(0, 0, left, 0);
    p.Grey(1, 0, 150);
    EXPECT_EQ(Decide(p, 1, 0), expected) << "left grey " << left;
  }
}

// |O - U| = |O - D| = 50 goes by the row above, where a light pixel between
// dark rows is white; one level closer to the row below, the other rule set
// sees white on the left and a black pixel above and says black.
TEST_F(CloserToAbove, TiesGoByTheRowAbove) {
  auto page = [](int below, int right) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 90, 0);
    p.Grey(1, 1, 140);
    p.Grey(2, 1, right);
    p.Grey(1, 2, below);
    return p;
  };
  GreyPage tie = page(90, 175);
  EXPECT_EQ(Decide(tie, 1, 1), 255);
  GreyPage closerBelow = page(91, 175);
  EXPECT_EQ(Decide(closerBelow, 1, 1), 0);
  // A step of more than 35 up to the right keeps the light pixel black.
  GreyPage stepRight = page(90, 176);
  EXPECT_EQ(Decide(stepRight, 1, 1), 0);
}

// Between dark rows, a light pixel up to 149 is black before a step of
// more than 35 up to the right.
TEST_F(CloserToAbove, LightPixelBetweenDarkRowsBeforeAStepUp) {
  for (auto [o, expected] : {std::pair{149, 0}, std::pair{150, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 90, 0);
    p.Grey(1, 1, o);
    p.Grey(2, 1, o + 36);
    p.Grey(1, 2, 90);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "grey " << o;
  }
}

// 115 between a dark pixel above (90) and a lighter one below (140): white
// after a dark left neighbour (80), but column 0 has none and follows the
// pixel above.
TEST_F(CloserToAbove, LightAfterDarkOnTheLeftNeedsAColumnToTheLeft) {
  GreyPage inner(kW, 3);
  inner.Decided(1, 0, 90, 0);
  inner.Decided(0, 1, 80, 0);
  inner.Grey(1, 1, 115);
  inner.Grey(1, 2, 140);
  EXPECT_EQ(Decide(inner, 1, 1), 255);

  GreyPage first(kW, 3);
  first.Decided(0, 0, 90, 0);
  first.Decided(7, 0, 80, 0);
  first.Grey(0, 1, 115);
  first.Grey(0, 2, 140);
  EXPECT_EQ(Decide(first, 0, 1), 0);
}

// Five pixels above, decided white, average 115.  A pixel within 9 of that
// takes their decision, unless its left neighbour is more than 35 lighter.
TEST_F(CloserToAbove, RunAboveDecidesUnlessADarkStepStartsHere) {
  auto page = [](int o, int left, int runLength) {
    GreyPage p(kW, 3);
    for (int x = 1; x < kW; ++x) p.Decided(x, 0, x <= runLength ? 115 : 200, 255);
    p.Decided(0, 1, left, 255);
    p.Grey(1, 1, o);
    return p;
  };
  GreyPage step = page(124, 160, 5);
  EXPECT_EQ(Decide(step, 1, 1), 0);
  GreyPage smallStep = page(124, 159, 5);
  EXPECT_EQ(Decide(smallStep, 1, 1), 255);
  GreyPage outsideRun = page(125, 160, 5);  // 10 from the average
  EXPECT_EQ(Decide(outsideRun, 1, 1), 255);
  GreyPage shortRun = page(124, 160, 4);
  EXPECT_EQ(Decide(shortRun, 1, 1), 255);
}

TEST_F(CloserToAbove, DarkGreyLimits) {
  // 49 and darker is black; 50 follows the pixel above, 10 darker.
  for (auto [o, expected] : {std::pair{49, 0}, std::pair{50, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 60, 255);
    p.Grey(1, 1, o);
    p.Grey(2, 1, 150);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "grey " << o;
  }
  // White on the right makes a dark pixel black, but not in the last
  // column, where there is no right neighbour: there a step of 40 up from a
  // black pixel above makes it white.
  GreyPage inner(kW, 3);
  inner.Decided(6, 0, 40, 0);
  inner.Grey(6, 1, 80);
  EXPECT_EQ(Decide(inner, 6, 1), 0);
  GreyPage last(kW, 3);
  last.Decided(7, 0, 40, 0);
  last.Grey(7, 1, 80);
  EXPECT_EQ(Decide(last, 7, 1), 255);
}

// In column 0 the left neighbour of a dark-grey pixel is the previous row's
// last pixel: within 10 of it, the pixel takes its decision.
TEST_F(CloserToAbove, DarkGreyAtColumnZeroLooksAtThePreviousRowsEnd) {
  for (auto [end, expected] : {std::pair{85, 255}, std::pair{95, 0}}) {
    GreyPage p(kW, 3);
    p.Decided(0, 0, 150, 255);
    p.Decided(7, 0, end, 255);
    p.Grey(0, 1, 80);
    p.Grey(1, 1, 80);
    EXPECT_EQ(Decide(p, 0, 1), expected) << "previous row ends at " << end;
  }
}

// Under white (230), a step down of 90 to the row below cuts black up to
// grey 180.
TEST_F(CloserToAbove, StepDownBelowWhiteIsBlackUpTo180) {
  for (auto [o, expected] : {std::pair{180, 0}, std::pair{181, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 230, 255);
    p.Grey(1, 1, o);
    p.Grey(1, 2, 90);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "grey " << o;
  }
}

// A mid-grey pixel 10 above a black pixel, 40 lighter than its left
// neighbour, is white only where a left neighbour exists: in column 0 the
// previous row's end does not count and the pixel follows the one above.
TEST_F(CloserToAbove, LightStepFromTheLeftNeedsAColumnToTheLeft) {
  GreyPage inner(kW, 3);
  inner.Decided(1, 0, 150, 0);
  inner.Decided(0, 1, 120, 0);
  inner.Grey(1, 1, 160);
  EXPECT_EQ(Decide(inner, 1, 1), 255);

  GreyPage first(kW, 3);
  first.Decided(0, 0, 150, 0);
  first.Decided(7, 0, 120, 0);
  first.Grey(0, 1, 160);
  EXPECT_EQ(Decide(first, 0, 1), 0);
}

// Mid grey 150 under 130 (decided white) with white below: black because
// of the white row below, except on the last row, where "below" is only the
// margin and the pixel follows the one above.
TEST_F(CloserToAbove, WhiteBelowCountsOnlyAboveTheLastRow) {
  auto page = [](int rows, int above) {
    GreyPage p(kW, rows);
    p.Decided(1, 0, 130, above);
    p.Grey(1, 1, 150);
    return p;
  };
  GreyPage inner = page(3, 255);
  EXPECT_EQ(Decide(inner, 1, 1), 0);
  GreyPage lastRow = page(2, 255);
  EXPECT_EQ(Decide(lastRow, 1, 1), 255);
  GreyPage lastRowBlackAbove = page(2, 0);
  EXPECT_EQ(Decide(lastRowBlackAbove, 1, 1), 0);
  // From 151 up such a pixel is white whatever was decided above.
  GreyPage lighter = page(2, 0);
  lighter.Grey(1, 1, 151);
  EXPECT_EQ(Decide(lighter, 1, 1), 255);
}

TEST_F(CloserToAbove, LightGreyUnderALighterPixel) {
  // 210 under 245: 35 darker, 45 from the white below.  Inside the page it
  // follows the pixel above; on the last row a step of more than 30 to the
  // right and from above makes it black.
  GreyPage inner(kW, 3);
  inner.Decided(1, 0, 245, 255);
  inner.Grey(1, 1, 210);
  EXPECT_EQ(Decide(inner, 1, 1), 255);
  GreyPage lastRow(kW, 2);
  lastRow.Decided(1, 0, 245, 255);
  lastRow.Grey(1, 1, 210);
  EXPECT_EQ(Decide(lastRow, 1, 1), 0);

  // 210 under 240 is black in column 0.
  GreyPage first(kW, 3);
  first.Decided(0, 0, 240, 255);
  first.Grey(0, 1, 210);
  EXPECT_EQ(Decide(first, 0, 1), 0);
  // 210 under 205 follows the pixel above.
  GreyPage close(kW, 3);
  close.Decided(1, 0, 205, 0);
  close.Grey(1, 1, 210);
  EXPECT_EQ(Decide(close, 1, 1), 0);
}

// Light pixel between dark rows in the last column: its right neighbour is
// the next row's first pixel, read as it is.
TEST_F(CloserToAbove, LastColumnReadsTheNextRowsFirstPixelAsItsRight) {
  for (auto [next, expected] : {std::pair{200, 0}, std::pair{150, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(7, 0, 90, 0);
    p.Grey(7, 1, 140);
    p.Grey(7, 2, 90);
    p.Grey(0, 2, next);
    EXPECT_EQ(Decide(p, 7, 1), expected) << "next row starts at " << next;
  }
}

// 140 under 200, nearly equal to the row below: white on the right makes it
// black, but in the last column there is no right neighbour and its left
// neighbour, 5 away and decided white, decides.
TEST_F(CloserToBelow, WhiteOnTheRightNeedsAColumnToTheRight) {
  auto page = [](int x) {
    GreyPage p(kW, 3);
    p.Decided(x, 0, 200, 255);
    p.Decided(x - 1, 1, 145, 255);
    p.Grey(x, 1, 140);
    p.Grey(x, 2, 140);
    return p;
  };
  GreyPage inner = page(6);
  EXPECT_EQ(Decide(inner, 6, 1), 0);
  GreyPage last = page(7);
  EXPECT_EQ(Decide(last, 7, 1), 255);
}

// The top edge of a shape under white (230): grey 170 takes the decision on
// its left when within 10 of it, also across the start of the row.
TEST_F(CloserToBelow, TopEdgeUnderWhiteFollowsTheLeftWithin10) {
  for (auto [left, expected] : {std::pair{175, 255}, std::pair{181, 0}}) {
    GreyPage inner(kW, 3);
    inner.Decided(1, 0, 230, 255);
    inner.Decided(0, 1, left, 255);
    inner.Grey(1, 1, 170);
    inner.Grey(2, 1, 200);
    inner.Grey(1, 2, 170);
    EXPECT_EQ(Decide(inner, 1, 1), expected) << "left grey " << left;

    GreyPage first(kW, 3);
    first.Decided(0, 0, 230, 255);
    first.Decided(7, 0, left, 255);
    first.Grey(0, 1, 170);
    first.Grey(1, 1, 200);
    first.Grey(0, 2, 170);
    EXPECT_EQ(Decide(first, 0, 1), expected) << "previous row ends at " << left;
  }
}

// Under white (230) a top-edge pixel below 181 not near its left neighbour
// (215) is black; from 181 on the later rules see a left neighbour 34
// lighter and a pixel above 180, and make it white.
TEST_F(CloserToBelow, TopEdgeUnderWhiteIsBlackBelow181) {
  for (auto [o, expected] : {std::pair{180, 0}, std::pair{181, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 230, 255);
    p.Decided(0, 1, 215, 255);
    p.Grey(1, 1, o);
    p.Grey(2, 1, 200);
    p.Grey(1, 2, o);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "grey " << o;
  }
}

// Two dark pixels (40, 70) on the left make a grey pixel white from the
// fourth column on; in the third there is no pixel three to the left.
TEST_F(CloserToBelow, DarkPairOnTheLeftNeedsThreeColumns) {
  auto page = [](int x) {
    GreyPage p(kW, 3);
    p.Decided(x - 2, 1, 40, 0);
    p.Decided(x - 1, 1, 70, 0);
    p.Decided(x, 0, 200, 255);
    p.Grey(x, 1, 120);
    p.Grey(x + 1, 1, 120);
    p.Grey(x, 2, 125);
    return p;
  };
  GreyPage fourth = page(3);
  EXPECT_EQ(Decide(fourth, 3, 1), 255);
  GreyPage third = page(2);
  EXPECT_EQ(Decide(third, 2, 1), 0);
}

// Grey 90 under 110 follows the white pixel above, but a dark pixel with
// both sides more than 35 lighter is made black.
TEST_F(CloserToBelow, DarkPixelBetweenLighterOnesIsBlack) {
  for (auto [right, expected] : {std::pair{130, 0}, std::pair{125, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 110, 255);
    p.Decided(0, 1, 130, 255);
    p.Grey(1, 1, 90);
    p.Grey(2, 1, right);
    p.Grey(1, 2, 95);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "right grey " << right;
  }
}

TEST_F(CloserToBelow, LighterThanAboveAtColumnZero) {
  // 150 over 120 (black): the left neighbour's decision would count from
  // column 1 (here black, 10 away); in column 0 the pixel is white.
  GreyPage inner(kW, 3);
  inner.Decided(1, 0, 120, 0);
  inner.Decided(0, 1, 160, 0);
  inner.Grey(1, 1, 150);
  inner.Grey(2, 1, 150);
  inner.Grey(1, 2, 145);
  EXPECT_EQ(Decide(inner, 1, 1), 0);
  GreyPage first(kW, 3);
  first.Decided(0, 0, 120, 0);
  first.Decided(7, 0, 160, 0);
  first.Grey(0, 1, 150);
  first.Grey(1, 1, 150);
  first.Grey(0, 2, 145);
  EXPECT_EQ(Decide(first, 0, 1), 255);

  // 150 over 145 (black): more than 50 lighter than the previous row's end
  // makes it white; 50 lighter it follows the pixel above.
  for (auto [end, expected] : {std::pair{99, 255}, std::pair{100, 0}}) {
    GreyPage p(kW, 3);
    p.Decided(0, 0, 145, 0);
    p.Decided(7, 0, end, 255);
    p.Grey(0, 1, 150);
    p.Grey(1, 1, 150);
    p.Grey(0, 2, 150);
    EXPECT_EQ(Decide(p, 0, 1), expected) << "previous row ends at " << end;
  }
}

TEST_F(CloserToBelow, DarkPixelLighterThanAbove) {
  // 70 over 30, with 34 below: white only when the two pixels to the right
  // also step up by more than 35 from the row above.
  for (auto [twoRight, expected] : {std::pair{70, 255}, std::pair{65, 0}}) {
    GreyPage p(kW, 3);
    for (int x = 1; x <= 3; ++x) p.Decided(x, 0, 30, 0);
    p.Decided(0, 1, 40, 0);
    p.Grey(1, 1, 70);
    p.Grey(2, 1, 70);
    p.Grey(3, 1, twoRight);
    p.Grey(1, 2, 34);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "two to the right " << twoRight;
  }
  // 70 over 50 (black) with 62 below and 55 on the left: black unless the
  // darker left neighbour was decided white.
  for (auto [left, expected] : {std::pair{255, 255}, std::pair{0, 0}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 50, 0);
    p.Decided(0, 1, 55, left);
    p.Grey(1, 1, 70);
    p.Grey(2, 1, 70);
    p.Grey(1, 2, 62);
    EXPECT_EQ(Decide(p, 1, 1), expected) << "left decided " << left;
  }
}

// A dark run takes neighbours within 10 of the first pixel and ends on a
// pixel lighter than 149, which is still filled.
TEST_F(Runs, DarkRunInPlainContent) {
  GreyPage p(kW, 3);
  const int row[] = {140, 145, 150, 148};
  for (int x = 0; x < 4; ++x) p.Grey(x, 0, row[x]);
  EXPECT_EQ(Decide(p, 0, 0), 0);
  EXPECT_EQ(p.Decision(1, 0), 0);
  EXPECT_EQ(p.Decision(2, 0), 0);
  EXPECT_EQ(p.Decision(3, 0), 148);

  GreyPage q(kW, 3);
  q.Grey(0, 0, 140);
  q.Grey(1, 0, 151);
  EXPECT_EQ(Decide(q, 0, 0), 0);
  EXPECT_EQ(q.Decision(1, 0), 151);
}

// A dark pixel with a pixel of 101 or more on its right is decided alone.
TEST_F(Runs, DarkPixelBeforeALightOneIsDecidedAlone) {
  for (auto [right, expected] : {std::pair{100, 0}, std::pair{101, 101}}) {
    GreyPage p(kW, 3);
    p.Grey(0, 0, 95);
    p.Grey(1, 0, right);
    p.Grey(2, 0, 200);
    EXPECT_EQ(Decide(p, 0, 0), 0);
    EXPECT_EQ(p.Decision(1, 0), expected) << "right grey " << right;
  }
}

TEST_F(Runs, LightRunEndsAtGrey149) {
  for (auto [fourth, expected] : {std::pair{149, 149}, std::pair{150, 255}}) {
    GreyPage p(kW, 3);
    p.Grey(0, 0, 125);  // 30 darker: no pixel of its own, no step that stands alone
    p.Grey(1, 0, 155);
    p.Grey(2, 0, 150);
    p.Grey(3, 0, fourth);
    EXPECT_EQ(Decide(p, 1, 0), 255);
    EXPECT_EQ(p.Decision(2, 0), 255);
    EXPECT_EQ(p.Decision(3, 0), expected) << "fourth grey " << fourth;
  }
}

// A white run stops under a pixel decided otherwise whose grey is within 9.
TEST_F(Runs, LightRunStopsUnderASimilarPixelDecidedBlack) {
  for (auto [aboveNext, expected] : {std::pair{169, 160}, std::pair{170, 255}}) {
    GreyPage p(kW, 3);
    p.Decided(1, 0, 160, 255);
    p.Decided(2, 0, aboveNext, 0);
    p.Grey(1, 1, 160);
    p.Grey(2, 1, 160);
    EXPECT_EQ(Decide(p, 1, 1), 255);
    EXPECT_EQ(p.Decision(2, 1), expected) << "grey above " << aboveNext;
  }
}

// Inside a code a dark run leaves its pixels lighter than 100 white (first
// byte only); a column light for 3 rows is whitened down to the code's
// bottom.  Grey 100 itself stays black.
TEST_F(Runs, DarkRunInsideACodeKeepsLightModulesWhite) {
  for (int bottom : {1, 4}) {
    ResetTwoDimensionCodeRects();
    TwoDimensionCodeRect[0] = RECT{0, 0, 7, bottom};
    GreyPage p(kW, 5);
    const int row[] = {95, 100, 101, 105};
    for (int x = 0; x < 4; ++x) p.Grey(x, 0, row[x]);
    p.Grey(2, 1, 120);  // column 2: light for 2 rows
    p.Grey(2, 2, 50);
    p.Grey(3, 1, 120);  // column 3: light for 3 rows
    p.Grey(3, 2, 120);
    p.Grey(3, 3, 50);

    EXPECT_EQ(Decide(p, 0, 0), 0);
    EXPECT_EQ(p.Decision(1, 0), 0);
    for (int x : {2, 3}) {
      EXPECT_EQ(p.Decision(x, 0), 255);
      EXPECT_EQ(p.image[p.At(x, 0) + 1], row[x]) << "only the first byte is marked";
    }
    EXPECT_EQ(p.Decision(2, 1), 120);
    EXPECT_EQ(p.Decision(3, 1), 255);
    EXPECT_EQ(p.Decision(3, 2), bottom >= 2 ? 255 : 120) << "bottom " << bottom;
    EXPECT_EQ(p.Decision(3, 3), 50);
  }
}

}  // namespace
