// Adaptive decision of grey pixels: the frame, both rule sets and the runs.
//
// Contents
//   Case, Decide      one pixel decided on a small page set up by hand
//   LineRules.*       tables of cases: the first row, pixels closer to the row
//                     above (ties too), pixels closer to the row below, runs;
//                     light pixels; whitening inside a code
//
// Pages are 8 pixels wide (stride 24, no padding), start white and decided
// white.  Each case sets the few neighbours that matter and sits where a
// wrong guard or a tolerance off by one would flip the result; the pairs
// differ in one value.

#include "adaptive/line_rules.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "adaptive/code_detect.h"
#include "grey_page.h"

namespace {

constexpr int kW = 8;

// A pixel set up by hand: grey value, and the decision already taken, or -1
// while it is still undecided (then the image holds the grey value).
struct Px {
  int x, y, grey, decision = -1;
};
// The first byte expected at (x, y) after the call.
struct Expect {
  int x, y, value;
};
struct Case {
  const char* behaviour;
  int x, y;  // the pixel decided
  int rows;  // page height
  std::vector<Px> page;
  std::vector<Expect> expect;
};

Case C(const char* behaviour, int x, int y, int rows, std::vector<Px> page,
       std::vector<Expect> expect) {
  return Case{behaviour, x, y, rows, std::move(page), std::move(expect)};
}

class LineRules : public ::testing::Test {
 protected:
  void SetUp() override { ResetTwoDimensionCodeRects(); }
  void TearDown() override { ResetTwoDimensionCodeRects(); }

  static void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.behaviour);
      GreyPage p(kW, c.rows);
      for (const Px& px : c.page)
        p.Decided(px.x, px.y, px.grey, px.decision < 0 ? px.grey : px.decision);
      EXPECT_EQ(ProcessLine(p.image.data(), p.snapshot.data(), c.x, c.y, p.stride, p.height), 1);
      for (const Expect& e : c.expect)
        EXPECT_EQ(p.Decision(e.x, e.y), e.value) << e.x << "," << e.y;
    }
  }
};

TEST_F(LineRules, FirstRow) {
  Check({
      C("first pixel below 200: black", 0, 0, 3, {{0, 0, 199}}, {{0, 0, 0}}),
      C("first pixel of 200: white", 0, 0, 3, {{0, 0, 200}}, {{0, 0, 255}}),
      C("19 from the left: takes its decision", 1, 0, 3, {{0, 0, 131, 0}, {1, 0, 150}},
        {{1, 0, 0}}),
      C("20 from the left: white from 100", 1, 0, 3, {{0, 0, 130, 0}, {1, 0, 150}}, {{1, 0, 255}}),
  });
}

// A pixel of 220 becomes white alone; 219 is decided, and its run carries
// the decision to its similar neighbour.
TEST_F(LineRules, LightPixelTurnsWhiteAndTakesNoRun) {
  GreyPage light(kW, 3);
  light.Grey(0, 0, 220);
  light.Grey(1, 0, 219);
  ProcessLine(light.image.data(), light.snapshot.data(), 0, 0, light.stride, light.height);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(light.image[light.At(0, 0) + k], 255);
  EXPECT_EQ(light.Decision(1, 0), 219);

  Check({C("219 starts a white run", 0, 0, 3, {{0, 0, 219}, {1, 0, 219}},
           {{0, 0, 255}, {1, 0, 255}})});
}

TEST_F(LineRules, CloserToTheRowAbove) {
  // Five pixels above decided white, averaging 115; a sixth far off.
  std::vector<Px> run5 = {{1, 0, 115, 255}, {2, 0, 115, 255}, {3, 0, 115, 255}, {4, 0, 115, 255},
                          {5, 0, 115, 255}, {6, 0, 200, 255}, {7, 0, 200, 255}};
  auto with = [](std::vector<Px> a, std::initializer_list<Px> b) {
    a.insert(a.end(), b);
    return a;
  };
  std::vector<Px> run4 = run5;
  run4[4].grey = 200;

  Check({
      // Ties |O - U| = |O - D| go by the row above.
      C("tie: light between dark rows is white", 1, 1, 3,
        {{1, 0, 90, 0}, {1, 1, 140}, {2, 1, 175}, {1, 2, 90}}, {{1, 1, 255}}),
      C("one closer below: the other rules, black", 1, 1, 3,
        {{1, 0, 90, 0}, {1, 1, 140}, {2, 1, 175}, {1, 2, 91}}, {{1, 1, 0}}),
      C("light between dark rows, 36 up to the right: black", 1, 1, 3,
        {{1, 0, 90, 0}, {1, 1, 140}, {2, 1, 176}, {1, 2, 90}}, {{1, 1, 0}}),
      C("... up to 149", 1, 1, 3, {{1, 0, 90, 0}, {1, 1, 149}, {2, 1, 185}, {1, 2, 90}},
        {{1, 1, 0}}),
      C("... not 150", 1, 1, 3, {{1, 0, 90, 0}, {1, 1, 150}, {2, 1, 186}, {1, 2, 90}},
        {{1, 1, 255}}),
      C("last column: its right is the next row's first pixel (200)", 7, 1, 3,
        {{7, 0, 90, 0}, {7, 1, 140}, {7, 2, 90}, {0, 2, 200}}, {{7, 1, 0}}),
      C("last column: next row's first pixel 150", 7, 1, 3,
        {{7, 0, 90, 0}, {7, 1, 140}, {7, 2, 90}, {0, 2, 150}}, {{7, 1, 255}}),

      // The run above decides, unless a dark step from the left starts here.
      C("within 9 of the run, 36 darker than the left: black", 1, 1, 3,
        with(run5, {{0, 1, 160, 255}, {1, 1, 124}}), {{1, 1, 0}}),
      C("35 darker than the left: the run's white", 1, 1, 3,
        with(run5, {{0, 1, 159, 255}, {1, 1, 124}}), {{1, 1, 255}}),
      C("10 from the run: white as the pixel above", 1, 1, 3,
        with(run5, {{0, 1, 160, 255}, {1, 1, 125}}), {{1, 1, 255}}),
      C("a run of 4 does not count", 1, 1, 3, with(run4, {{0, 1, 160, 255}, {1, 1, 124}}),
        {{1, 1, 255}}),

      // Dark grey.
      C("49: black", 1, 1, 3, {{1, 0, 60, 255}, {1, 1, 49}, {2, 1, 150}}, {{1, 1, 0}}),
      C("50: follows the pixel above, 10 darker", 1, 1, 3,
        {{1, 0, 60, 255}, {1, 1, 50}, {2, 1, 150}}, {{1, 1, 255}}),
      C("white on the right: black", 6, 1, 3, {{6, 0, 40, 0}, {6, 1, 80}}, {{6, 1, 0}}),
      C("last column has no right: 40 up from black is white", 7, 1, 3, {{7, 0, 40, 0}, {7, 1, 80}},
        {{7, 1, 255}}),
      C("column 0: left is the previous row's end (85, white)", 0, 1, 3,
        {{0, 0, 150, 255}, {7, 0, 85, 255}, {0, 1, 80}, {1, 1, 80}}, {{0, 1, 255}}),
      C("column 0: previous row's end 95 is too far", 0, 1, 3,
        {{0, 0, 150, 255}, {7, 0, 95, 255}, {0, 1, 80}, {1, 1, 80}}, {{0, 1, 0}}),

      // Mid grey.
      C("under white, 90 down to the row below: black to 180", 1, 1, 3,
        {{1, 0, 230, 255}, {1, 1, 180}, {1, 2, 90}}, {{1, 1, 0}}),
      C("... 181 follows the pixel above", 1, 1, 3, {{1, 0, 230, 255}, {1, 1, 181}, {1, 2, 90}},
        {{1, 1, 255}}),
      C("40 lighter than the left, near the black above: white", 1, 1, 3,
        {{1, 0, 150, 0}, {0, 1, 120, 0}, {1, 1, 160}}, {{1, 1, 255}}),
      C("... not in column 0: follows the pixel above", 0, 1, 3,
        {{0, 0, 150, 0}, {7, 0, 120, 0}, {0, 1, 160}}, {{0, 1, 0}}),
      C("after a dark left neighbour under a dark pixel: white", 1, 1, 3,
        {{1, 0, 90, 0}, {0, 1, 80, 0}, {1, 1, 115}, {1, 2, 140}}, {{1, 1, 255}}),
      C("... not in column 0", 0, 1, 3, {{0, 0, 90, 0}, {7, 0, 80, 0}, {0, 1, 115}, {0, 2, 140}},
        {{0, 1, 0}}),
      C("white below: black", 1, 1, 3, {{1, 0, 130, 255}, {1, 1, 150}}, {{1, 1, 0}}),
      C("last row: below is only the margin, follows above", 1, 1, 2,
        {{1, 0, 130, 255}, {1, 1, 150}}, {{1, 1, 255}}),
      C("last row, black above", 1, 1, 2, {{1, 0, 130, 0}, {1, 1, 150}}, {{1, 1, 0}}),
      C("last row, 151: white", 1, 1, 2, {{1, 0, 130, 0}, {1, 1, 151}}, {{1, 1, 255}}),

      // Light grey, 200 to 219.
      C("35 under 245: follows above", 1, 1, 3, {{1, 0, 245, 255}, {1, 1, 210}}, {{1, 1, 255}}),
      C("35 under 245 on the last row: black", 1, 1, 2, {{1, 0, 245, 255}, {1, 1, 210}},
        {{1, 1, 0}}),
      C("30 under 240 in column 0: black", 0, 1, 3, {{0, 0, 240, 255}, {0, 1, 210}}, {{0, 1, 0}}),
      C("5 over 205: follows above", 1, 1, 3, {{1, 0, 205, 0}, {1, 1, 210}}, {{1, 1, 0}}),
  });
}

TEST_F(LineRules, CloserToTheRowBelow) {
  Check({
      // Darker than the pixel above.
      C("white on the right: black", 6, 1, 3,
        {{6, 0, 200, 255}, {5, 1, 145, 255}, {6, 1, 140}, {6, 2, 140}}, {{6, 1, 0}}),
      C("last column has no right: the left decides", 7, 1, 3,
        {{7, 0, 200, 255}, {6, 1, 145, 255}, {7, 1, 140}, {7, 2, 140}}, {{7, 1, 255}}),
      C("top edge under white follows the left within 10", 1, 1, 3,
        {{1, 0, 230, 255}, {0, 1, 175, 255}, {1, 1, 170}, {2, 1, 200}, {1, 2, 170}}, {{1, 1, 255}}),
      C("... 11 from it: black", 1, 1, 3,
        {{1, 0, 230, 255}, {0, 1, 181, 255}, {1, 1, 170}, {2, 1, 200}, {1, 2, 170}}, {{1, 1, 0}}),
      C("... also across the row start", 0, 1, 3,
        {{0, 0, 230, 255}, {7, 0, 175, 255}, {0, 1, 170}, {1, 1, 200}, {0, 2, 170}}, {{0, 1, 255}}),
      C("top edge under white, far from the left: black below 181", 1, 1, 3,
        {{1, 0, 230, 255}, {0, 1, 215, 255}, {1, 1, 180}, {2, 1, 200}, {1, 2, 180}}, {{1, 1, 0}}),
      C("... 181 with the left 34 lighter: white", 1, 1, 3,
        {{1, 0, 230, 255}, {0, 1, 215, 255}, {1, 1, 181}, {2, 1, 200}, {1, 2, 181}}, {{1, 1, 255}}),
      C("darker than a black left (previous row's end): black", 0, 1, 3,
        {{0, 0, 140, 255}, {7, 0, 150, 0}, {0, 1, 120}, {1, 1, 120}, {0, 2, 118}}, {{0, 1, 0}}),
      C("dark pair (40, 70) on the left from the fourth column: white", 3, 1, 3,
        {{1, 1, 40, 0}, {2, 1, 70, 0}, {3, 0, 200, 255}, {3, 1, 120}, {4, 1, 120}, {3, 2, 125}},
        {{3, 1, 255}}),
      C("... in the third column there is no such pair", 2, 1, 3,
        {{0, 1, 40, 0}, {1, 1, 70, 0}, {2, 0, 200, 255}, {2, 1, 120}, {3, 1, 120}, {2, 2, 125}},
        {{2, 1, 0}}),
      C("dark pixel with both sides 40 lighter: black", 1, 1, 3,
        {{1, 0, 110, 255}, {0, 1, 130, 255}, {1, 1, 90}, {2, 1, 130}, {1, 2, 95}}, {{1, 1, 0}}),
      C("... right only 35 lighter: follows the white above", 1, 1, 3,
        {{1, 0, 110, 255}, {0, 1, 130, 255}, {1, 1, 90}, {2, 1, 125}, {1, 2, 95}}, {{1, 1, 255}}),

      // Light, at least as light as the pixel above.
      C("left within 10 decides", 1, 1, 3,
        {{1, 0, 120, 0}, {0, 1, 160, 0}, {1, 1, 150}, {2, 1, 150}, {1, 2, 145}}, {{1, 1, 0}}),
      C("... column 0 has no left: white", 0, 1, 3,
        {{0, 0, 120, 0}, {7, 0, 160, 0}, {0, 1, 150}, {1, 1, 150}, {0, 2, 145}}, {{0, 1, 255}}),
      C("51 lighter than the previous row's end: white", 0, 1, 3,
        {{0, 0, 145, 0}, {7, 0, 99, 255}, {0, 1, 150}, {1, 1, 150}, {0, 2, 150}}, {{0, 1, 255}}),
      C("50 lighter: follows the black above", 0, 1, 3,
        {{0, 0, 145, 0}, {7, 0, 100, 255}, {0, 1, 150}, {1, 1, 150}, {0, 2, 150}}, {{0, 1, 0}}),

      // Dark, at least as light as the pixel above.
      C("70 over 30: white when two to the right also step up 40", 1, 1, 3,
        {{1, 0, 30, 0},
         {2, 0, 30, 0},
         {3, 0, 30, 0},
         {0, 1, 40, 0},
         {1, 1, 70},
         {2, 1, 70},
         {3, 1, 70},
         {1, 2, 34}},
        {{1, 1, 255}}),
      C("... 35 is not enough", 1, 1, 3,
        {{1, 0, 30, 0},
         {2, 0, 30, 0},
         {3, 0, 30, 0},
         {0, 1, 40, 0},
         {1, 1, 70},
         {2, 1, 70},
         {3, 1, 65},
         {1, 2, 34}},
        {{1, 1, 0}}),
      C("no rule applies: white after a darker white-decided left", 1, 1, 3,
        {{1, 0, 50, 0}, {0, 1, 55, 255}, {1, 1, 70}, {2, 1, 70}, {1, 2, 62}}, {{1, 1, 255}}),
      C("... black otherwise", 1, 1, 3,
        {{1, 0, 50, 0}, {0, 1, 55, 0}, {1, 1, 70}, {2, 1, 70}, {1, 2, 62}}, {{1, 1, 0}}),
  });
}

TEST_F(LineRules, Runs) {
  Check({
      C("dark run takes neighbours within 10 and ends on one above 149", 0, 0, 3,
        {{0, 0, 140}, {1, 0, 145}, {2, 0, 150}, {3, 0, 148}},
        {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 148}}),
      C("11 away ends the dark run", 0, 0, 3, {{0, 0, 140}, {1, 0, 151}}, {{0, 0, 0}, {1, 0, 151}}),
      C("dark pixel before one of 101: decided alone", 0, 0, 3,
        {{0, 0, 95}, {1, 0, 101}, {2, 0, 200}}, {{0, 0, 0}, {1, 0, 101}}),
      C("... before 100: the run goes on", 0, 0, 3, {{0, 0, 95}, {1, 0, 100}, {2, 0, 200}},
        {{0, 0, 0}, {1, 0, 0}}),
      C("light run stops before 149", 1, 0, 3, {{0, 0, 125}, {1, 0, 155}, {2, 0, 150}, {3, 0, 149}},
        {{1, 0, 255}, {2, 0, 255}, {3, 0, 149}}),
      C("... takes 150", 1, 0, 3, {{0, 0, 125}, {1, 0, 155}, {2, 0, 150}, {3, 0, 150}},
        {{1, 0, 255}, {2, 0, 255}, {3, 0, 255}}),
      C("light run stops under a similar pixel (169) decided black", 1, 1, 3,
        {{1, 0, 160, 255}, {2, 0, 169, 0}, {1, 1, 160}, {2, 1, 160}}, {{1, 1, 255}, {2, 1, 160}}),
      C("... 170 is not similar", 1, 1, 3,
        {{1, 0, 160, 255}, {2, 0, 170, 0}, {1, 1, 160}, {2, 1, 160}}, {{1, 1, 255}, {2, 1, 255}}),
  });
}

// Inside a code a dark run leaves its pixels lighter than 100 white (first
// byte only); a column light for 3 rows is whitened down to the code's
// bottom.  Grey 100 itself stays black.
TEST_F(LineRules, DarkRunInsideACodeKeepsLightModulesWhite) {
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

    ProcessLine(p.image.data(), p.snapshot.data(), 0, 0, p.stride, p.height);
    EXPECT_EQ(p.Decision(0, 0), 0);
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
