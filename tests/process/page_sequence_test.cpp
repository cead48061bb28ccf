// Pages of one job are independent of each other: the page loop reuses its buffers from page to
// page, reads the stream ahead of the page it works on, and hands the memory of a grey page's
// raster back to the system once it is widened, and none of that may leak from one page into
// the next.  Each label of a job of pages of different sizes must be the label that its page
// gives alone.  (Mode "None" is left out: its table of codes found lives on from page to page
// by design.)
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "run.h"

namespace {

struct Grey {
  int w, h;
  std::vector<unsigned char> v;  // 0 black .. 255 white
};

// Text-like strokes and grey ramps over white: every conversion has work on every row.
Grey Page(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Grey g{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h, 255)};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char& v = g.v[static_cast<size_t>(y) * w + x];
      if ((x / 7 + y / 11) % 5 == 0) v = static_cast<unsigned char>(rng() % 256);
      if (x > w / 2 && y > h / 2) v = static_cast<unsigned char>((x * 255) / w);
    }
  }
  return g;
}

std::string Pgm(const Grey& g) {
  return "P5\n" + std::to_string(g.w) + " " + std::to_string(g.h) + "\n255\n" +
         std::string(g.v.begin(), g.v.end());
}

class PageSequenceTest : public testing::Test {
 protected:
  std::string Raster(const std::string& bits, const std::vector<const Grey*>& pages) {
    RunOptions o;
    o.args = {MAKERASTER_EXE, "-b", bits, "-o", Fresh(".ras")};
    const std::string out = o.args.back();
    for (const Grey* g : pages) {
      o.args.push_back(Fresh(".pgm"));
      WriteFile(o.args.back(), Pgm(*g));
    }
    EXPECT_EQ(::Run(o).status, 0);
    return out;
  }
  std::string Job(const std::string& raster, const std::string& dithering) {
    TestPpd ppd(std::map<std::string, std::string>{{"Dithering", dithering}});
    RunOptions o;
    o.args = {FILTER_EXE, "1", "u", "t", "1", ""};
    o.stdin_path = raster;  // through a descriptor the filter reads ahead from
    o.env["PPD"] = ppd.path();
    o.env["RASTERTOLABEL_DUMP"] = dir_.File("dump.bmp");
    RunResult r = ::Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  std::string Fresh(const char* extension) {
    std::string name = std::to_string(++n_);
    name += extension;
    return dir_.File(name);
  }
  TempDir dir_;
  int n_ = 0;
};

TEST_F(PageSequenceTest, EachLabelIsTheLabelOfItsPageAlone) {
  // Rasters of several memory pages and of less than one, growing and shrinking.
  const Grey a = Page(300, 200, 1), b = Page(620, 410, 2), c = Page(90, 40, 3),
             d = Page(301, 203, 4);
  const std::vector<const Grey*> pages = {&a, &b, &c, &d};
  for (const char* bits : {"8", "1"}) {
    for (const char* dithering : {"Threshold", "OrderDithering", "ErrorDiffusion"}) {
      if (std::string(bits) == "1" && std::string(dithering) != "Threshold") continue;
      SCOPED_TRACE(testing::Message() << bits << "-bit " << dithering);
      std::string alone;
      for (const Grey* g : pages) alone += Job(Raster(bits, {g}), dithering);
      EXPECT_EQ(Job(Raster(bits, pages), dithering), alone);
    }
  }
}

}  // namespace
