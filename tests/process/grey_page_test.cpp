// Grey and colour pages: the conversion each page gets, the working image the
// conversion sees (it is the page dump), and the label that comes out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "convert/color2bw.h"
#include "label/label_output.h"
#include "ppd_fixture.h"
#include "run.h"

namespace {

using Choices = std::map<std::string, std::string>;

struct Grey {
  int w, h;
  std::vector<unsigned char> v;  // 0 black .. 255 white
};

Grey Noise(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Grey g{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h)};
  for (auto& x : g.v) x = static_cast<unsigned char>(rng() % 4 == 0 ? rng() % 256 : 255);
  return g;
}

std::string Pgm(const Grey& g) {
  std::string s = "P5\n" + std::to_string(g.w) + " " + std::to_string(g.h) + "\n255\n";
  s.append(g.v.begin(), g.v.end());
  return s;
}

size_t WorkStride(int w) { return ((static_cast<size_t>(w) * 24 + 31) / 32) * 4; }

// The working image of a grey page: three equal bytes per dot, 0 black.
std::vector<unsigned char> WorkingImage(const Grey& g) {
  size_t stride = WorkStride(g.w);
  std::vector<unsigned char> img(stride * g.h, 0xFF);
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x)
      for (int k = 0; k < 3; ++k) img[y * stride + 3 * x + k] = g.v[y * g.w + x];
  return img;
}

// The label job a page of g must give, with no PPD options but Dithering.
std::string ExpectedJob(const Grey& g, int mode, int light, unsigned widthPt, unsigned heightPt) {
  std::vector<unsigned char> img = WorkingImage(g);
  size_t stride = ((g.w + 31) / 32) * 4;
  std::vector<unsigned char> bits(stride * g.h, 0xFF);
  Color2BW(img.data(), bits.data(), g.w, g.h, static_cast<int>(WorkStride(g.w)), light, mode);
  auto mm = [](unsigned pt) { return std::to_string(static_cast<int>(25.4 * pt / 72 + 0.5)); };
  std::string job = "SIZE " + mm(widthPt) + " mm, " + mm(heightPt) + " mm\r\n" +
                    "DIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n";
  AppendBitmapCommands(job, bits.data(), stride, static_cast<size_t>(g.h));
  return job + "PRINT 1,1\r\n";
}

class GreyPageTest : public testing::Test {
 protected:
  std::string Raster(const std::vector<std::string>& options, const Grey& g) {
    std::string in = dir_.File("p" + std::to_string(++n_) + ".pgm");
    std::string out = dir_.File("p" + std::to_string(n_) + ".ras");
    WriteFile(in, Pgm(g));
    RunOptions o;
    o.args = {MAKERASTER_EXE, "-o", out, "--page-size", "144x72"};
    o.args.insert(o.args.end(), options.begin(), options.end());
    o.args.push_back(in);
    EXPECT_EQ(::Run(o).status, 0);
    return out;
  }
  RunResult Filter(const std::string& raster, const Choices& choices,
                   const std::string& dump = "") {
    TestPpd ppd(choices);
    RunOptions o;
    o.args = {FILTER_EXE, "1", "u", "t", "1", "", raster};
    o.env["PPD"] = ppd.path();
    o.env["RASTERTOLABEL_DUMP"] = dump;
    return ::Run(o);
  }
  TempDir dir_;
  int n_ = 0;
};

std::string Line(const std::string& err, const std::string& start) {
  size_t at = err.find(start);
  return at == std::string::npos ? "" : err.substr(at, err.find('\n', at) - at);
}

}  // namespace

TEST_F(GreyPageTest, DitheringAndThresholdChoicesPickTheConversion) {
  Grey g = Noise(40, 30, 1);
  std::string ras = Raster({"--bits", "8"}, g);
  struct Case {
    Choices choices;
    int mode, light;
  } cases[] = {
      {{}, 0, 0},
      {{{"Dithering", "None"}}, 0, 0},
      {{{"Dithering", "Threshold"}, {"Threshold", "20"}}, 1, 20},
      {{{"Dithering", "threshold"}, {"Threshold", "-10"}}, 1, -10},
      {{{"Dithering", "Threshold"}, {"Threshold", "abc"}}, 1, 0},
      {{{"Dithering", "OrderDithering"}}, 2, 0},
      {{{"Dithering", "errordiffusion"}}, 3, 0},
      {{{"Dithering", "Halftone"}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " light " << c.light);
    RunResult r = Filter(ras, c.choices);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want = "ERROR: SaveImage nDithering=" + std::to_string(c.mode) +
                       " nLight=" + std::to_string(c.light);
    EXPECT_EQ(Line(r.err, "ERROR: SaveImage"), want);
    EXPECT_EQ(
        Line(r.err, "ERROR: Color2BW dwValue"),
        "ERROR: Color2BW dwValue=" + std::to_string(c.mode) + " nLight=" + std::to_string(c.light));
    EXPECT_EQ(r.out, ExpectedJob(g, c.mode, c.light, 144, 72));
  }
}

TEST_F(GreyPageTest, ColourPagesAlwaysTakeTheAdaptiveConversion) {
  Grey g = Noise(33, 20, 2);
  std::string ras = Raster({"--bits", "24"}, g);
  RunResult r = Filter(ras, {{"Dithering", "OrderDithering"}, {"Threshold", "30"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("ERROR: cupsBitsPerPixel =24 \n"), std::string::npos);
  EXPECT_EQ(Line(r.err, "ERROR: Color2BW dwValue"), "ERROR: Color2BW dwValue=0 nLight=100");
  EXPECT_EQ(Line(r.err, "ERROR: SaveImage"), "");  // colour pages are not dumped
  // A grey picture in colour gives the same label as in grey, but mode 0
  // sees light 100 (which it does not use) and the raster's own stride.
  EXPECT_EQ(r.out, ExpectedJob(g, 0, 0, 144, 72));
}

TEST_F(GreyPageTest, NarrowAndPaddedWidths) {
  for (int w : {1, 2, 3, 4, 5, 6, 7, 100, 101}) {
    SCOPED_TRACE(testing::Message() << "width " << w);
    Grey g = Noise(w, 9, static_cast<unsigned>(w));
    RunResult r = Filter(Raster({"--bits", "8"}, g), {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Line(r.err, "ERROR: BytePerLine"),
              "ERROR: BytePerLine =" + std::to_string(WorkStride(w)) + " ");
    EXPECT_EQ(r.out, ExpectedJob(g, 0, 0, 144, 72));
  }
}

TEST_F(GreyPageTest, WhiteBasedPagesPrintLikeTheirBlackBasedTwins) {
  Grey g = Noise(50, 12, 3);
  for (const char* bits : {"1", "8"}) {
    SCOPED_TRACE(bits);
    RunResult black = Filter(Raster({"--bits", bits, "--colorspace", "k"}, g), {});
    RunResult white = Filter(Raster({"--bits", bits, "--colorspace", "w"}, g), {});
    RunResult sw = Filter(Raster({"--bits", bits, "--colorspace", "sw"}, g), {});
    ASSERT_EQ(black.status, 0);
    EXPECT_NE(black.out.find("BITMAP"), std::string::npos);
    EXPECT_EQ(white.out, black.out);
    EXPECT_EQ(sw.out, black.out);
  }
}

TEST_F(GreyPageTest, TheDumpHoldsTheWorkingImageOfTheRowsRead) {
  Grey g = Noise(5, 30, 4);  // 5 dots: 15 bytes of pixels in rows of 16
  std::string ras = Raster({"--bits", "8", "--claim-height", "40"}, g);
  std::string dump = dir_.File("dump.bmp");
  RunResult r = Filter(ras, {}, dump);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string bmp = ReadFile(dump);
  ASSERT_EQ(bmp.size(), 54u + 16 * 30);
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bmp[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bmp[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bmp[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bmp[at + 3])) << 24;
  };
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), 54u + 480);
  EXPECT_EQ(u32(6), 0u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 5u);
  EXPECT_EQ(static_cast<int32_t>(u32(22)), -30);
  EXPECT_EQ(u32(26), 1u | 24u << 16);  // planes, bits per pixel
  for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(u32(at), 0u) << at;
  std::vector<unsigned char> img = WorkingImage(g);
  EXPECT_EQ(bmp.substr(54), std::string(img.begin(), img.end()));
  struct stat st;
  ASSERT_EQ(stat(dump.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(GreyPageTest, TheDumpNeverFollowsALink) {
  std::string target = dir_.File("precious");
  WriteFile(target, "keep me");
  std::string link = dir_.File("dump.bmp");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  RunResult r = Filter(Raster({"--bits", "8"}, Noise(8, 8, 5)), {}, link);
  EXPECT_EQ(r.status, 0);  // the page still prints
  EXPECT_NE(r.out.find("PRINT 1,1\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(target), "keep me");
  EXPECT_NE(r.err.find("ERROR: Page dump " + link + " not written"), std::string::npos);
}
