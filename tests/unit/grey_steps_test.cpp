// The index of grey transitions, and finder detection that jumps with it.
//
// Contents
//   GreySteps.*   transitions found by kind, rows skipped, the column past the last
//   Indexed.*     finder detection with the index answers as without it

#include "adaptive/grey_steps.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "adaptive/code_detect.h"
#include "adaptive/code_detect_internal.h"
#include "grey_page.h"

namespace {

TEST(GreySteps, FindsEachTransitionByItsOwnThreshold) {
  // Columns:   0    1    2    3    4    5    6    7
  // Row 1:   100  136  157  121  100  140  255  255
  // Row 2:   255  150  255  149  (white)
  GreyPage p(8, 3);
  const int row[] = {100, 136, 157, 121, 100, 140, 255, 255};
  for (int x = 0; x < 8; ++x) p.Grey(x, 1, row[x]);
  p.Grey(1, 2, 150);
  p.Grey(3, 2, 149);
  const GreySteps steps(p.snapshot.data(), p.stride, p.height);

  EXPECT_EQ(steps.NextStep(GreyStep::kStrongRise, 1, 0), 1);  // +36
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongRise, 1, 2), 5);  // +21 at 2 is only weak
  EXPECT_EQ(steps.NextStep(GreyStep::kWeakRise, 1, 2), 2);
  EXPECT_EQ(steps.NextStep(GreyStep::kFall, 1, 0), 3);        // -36 to 121
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongFall, 1, 4), 9);  // -21 at 4 is not strong
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongRise, 1, 7), 9);  // none: columns + 1
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongRise, 0, 0), 9);  // a white row
  // A fall must end below 150; a strong fall may end anywhere.
  EXPECT_EQ(steps.NextStep(GreyStep::kFall, 2, 0), 3);
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongFall, 2, 0), 1);
}

// The last column is compared with the position after it (here the next
// row's first pixel); only a strong fall is recorded there.
TEST(GreySteps, ColumnPastTheLastCountsOnlyForStrongFalls) {
  GreyPage p(4, 2);
  p.Grey(3, 0, 200);
  p.Grey(0, 1, 0);
  p.Grey(3, 1, 0);  // followed by the white margin: a rise
  const GreySteps steps(p.snapshot.data(), p.stride, p.height);
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongFall, 0, 4), 4);  // 200 to 0
  EXPECT_EQ(steps.NextStep(GreyStep::kStrongRise, 1, 2), 5);  // 0 to 255 not recorded
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 0, 2), 2);
}

TEST(GreySteps, SkipsRowsWithoutTheTransitionRightOfAColumn) {
  GreyPage p(70, 37);
  p.Grey(10, 5, 0);   // strong rise at column 11 of row 5
  p.Grey(60, 30, 0);  // and at column 61 of row 30
  const GreySteps steps(p.snapshot.data(), p.stride, p.height);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 0, 0), 5);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 0, 11), 5);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 5, 11), 5);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 5, 12), 30);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 6, 0), 30);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 31, 0), 37);
  EXPECT_EQ(steps.NextRowWithStep(GreyStep::kStrongRise, 0, 62), 37);
}

// Every start position of a few kinds of page: the same width and the same
// log line with the index as without it.
TEST(Indexed, FinderDetectionAnswersAsWithoutTheIndex) {
  std::mt19937 rng(3);
  std::vector<GreyPage> pages;
  {
    std::vector<int> ideal(64 * 48, 255);
    DrawFinder(ideal, 64, 4, 3, 3);
    DrawFinder(ideal, 64, 38, 3, 3);
    DrawFinder(ideal, 64, 4, 27, 2);
    const std::vector<int> grey = Smooth2x2(ideal, 64, 48);
    GreyPage p(64, 48, 1);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) p.Grey(x, y, grey[y * 64 + x]);
    }
    pages.push_back(p);
  }
  for (int seed = 0; seed < 6; ++seed) {
    // Random modules with finders among them, smoothed: many partial
    // patterns that take the detector deep into its states.
    const int w = 60, h = 50, module = 2 + seed % 2;
    std::vector<int> ideal(w * h, 255);
    for (int y = 0; y + module <= h; y += module) {
      for (int x = 0; x + module <= w; x += module) {
        if (rng() % 3 != 0) continue;
        for (int k = 0; k < module * module; ++k) ideal[(y + k / module) * w + x + k % module] = 0;
      }
    }
    for (int f = 0; f < 3; ++f) {
      DrawFinder(ideal, w, static_cast<int>(rng() % (w - 7 * module)),
                 static_cast<int>(rng() % (h - 7 * module)), module);
    }
    const std::vector<int> grey = Smooth2x2(ideal, w, h);
    GreyPage p(w, h, seed % 4);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) p.Grey(x, y, grey[y * w + x]);
    }
    pages.push_back(p);
    // The same with a third of the grey edge pixels made white again, so
    // that some edges fall in one step.
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int v = grey[y * w + x];
        if (v != 0 && v != 255 && rng() % 3 == 0) p.Grey(x, y, 255);
      }
    }
    pages.push_back(p);
  }
  for (int seed = 0; seed < 6; ++seed) {
    // Crisp modules of three or four levels: edges that rise onto mid grey
    // and fall in one step.
    const int levels[] = {0, 127, 255, 60};
    const int w = 60, h = 50, module = 2 + seed % 3;
    GreyPage p(w, h, seed % 3);
    for (int y = 0; y < h; y += module) {
      for (int x = 0; x < w; x += module) {
        const int v = levels[rng() % (3 + seed % 2)];
        for (int k = 0; k < module * module; ++k) {
          if (y + k / module < h && x + k % module < w) p.Grey(x + k % module, y + k / module, v);
        }
      }
    }
    pages.push_back(p);
  }
  {
    GreyPage p(50, 40, 2);  // noise
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 50; ++x) p.Grey(x, y, static_cast<int>(rng() % 256));
    }
    pages.push_back(p);
  }
  {
    GreyPage p(45, 40);  // a diagonal ramp that wraps from white to black
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 45; ++x) p.Grey(x, y, (7 * x + 5 * y) % 256);
    }
    pages.push_back(p);
  }
  int confirmed = 0;
  for (const GreyPage& p : pages) {
    const GreySteps steps(p.snapshot.data(), p.stride, p.height);
    auto everyStart = [&](const GreySteps* index, std::string& log) {
      std::vector<int> widths;
      testing::internal::CaptureStderr();
      for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.stride / 3; ++x) {
          widths.push_back(
              IsAnchor(p.image.data(), p.snapshot.data(), x, y, p.stride, p.height, index));
        }
      }
      log = testing::internal::GetCapturedStderr();
      return widths;
    };
    std::string plainLog, indexedLog;
    const std::vector<int> plain = everyStart(nullptr, plainLog);
    const std::vector<int> indexed = everyStart(&steps, indexedLog);
    EXPECT_EQ(indexed, plain) << "page " << p.width << " x " << p.height;
    EXPECT_EQ(indexedLog, plainLog);
    for (int w : plain) confirmed += w != 0;
  }
  EXPECT_GT(confirmed, 3) << "the finders are found, from more than one corner";
}

}  // namespace
