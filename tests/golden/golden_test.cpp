// Golden whole jobs: deterministic pages through the built filter, every mode, turn, mirror,
// negative and depth, multi-page jobs, setup choices and edge pages; the SHA-256 of each job's
// standard output and of its page dump, with the exit status, must match tests/golden/jobs.txt.
//
//   scripts/golden.sh   regenerates jobs.txt after a wanted change and lists the groups changed
//
// The pages are drawn here from a fixed seed with exact area coverage (as PDF renderers smooth
// edges) or with the 2 x 2 smoothing of a scan, which the code detection recognises.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "ppd_fixture.h"
#include "raster_stream.h"
#include "run.h"

namespace {

// A page drawn with exact area coverage, in integers so that every compiler draws it alike:
// positions in sixteenths of a dot, levels 0..255, ink per dot up to 255 * 256.
constexpr int kFull = 255 * 256;
struct Canvas {
  int w, h;
  std::vector<int> ink;
  Canvas(int width, int height) : w(width), h(height), ink(size_t(width) * height, 0) {}
  void Box(int x0, int y0, int x1, int y1, int level = 255) {
    for (int y = std::max(0, y0 / 16); y < std::min(h, (y1 + 15) / 16); ++y) {
      const int cy = std::min(y1, 16 * y + 16) - std::max(y0, 16 * y);
      for (int x = std::max(0, x0 / 16); x < std::min(w, (x1 + 15) / 16); ++x) {
        const int cx = std::min(x1, 16 * x + 16) - std::max(x0, 16 * x);
        int& v = ink[size_t(y) * w + x];
        v = std::min(kFull, v + cx * cy * level);
      }
    }
  }
  // A square code of 21 modules with finder patterns at three corners.
  void Code(std::mt19937& rng, int x, int y, int module) {
    auto finder = [](int mx, int my) {
      const int r = std::max(std::abs(mx - 3), std::abs(my - 3));
      return r == 3 || r <= 1;
    };
    for (int my = 0; my < 21; ++my) {
      for (int mx = 0; mx < 21; ++mx) {
        bool dark = rng() % 2;
        if (mx < 8 && my < 8) dark = mx < 7 && my < 7 && finder(mx, my);
        if (mx >= 13 && my < 8) dark = mx > 13 && my < 7 && finder(mx - 14, my);
        if (mx < 8 && my >= 13) dark = mx < 7 && my > 13 && finder(mx, my - 14);
        if (dark)
          Box(x + mx * module, y + my * module, x + (mx + 1) * module, y + (my + 1) * module);
      }
    }
  }
  // Each dot becomes the mean of itself and its right, lower and lower-right neighbours.
  void Smooth2x2() {
    auto at = [&](int x, int y) { return x < w && y < h ? ink[size_t(y) * w + x] : 0; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ink[size_t(y) * w + x] = (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4;
  }
};

// A label: frame, text-like strokes, a barcode, two codes and a grey ramp.
Canvas LabelPicture(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  auto sub = [&] { return static_cast<int>(rng() % 16); };  // a random part of a dot
  const int W = 16 * w, H = 16 * h;
  Canvas c(w, h), scanned(w, h);
  scanned.Code(rng, W * 55 / 100, H * 8 / 100, 48);  // recognised as a code once smoothed
  scanned.Smooth2x2();
  c.Box(37, 37, W - 37, 90);
  c.Box(37, H - 90, W - 37, H - 37);
  c.Box(37, 37, 82, H - 37);
  for (int line = 0; line < 6; ++line) {
    const int y = 192 + line * 219;
    // One draw of the generator per statement: the order of draws within an expression is
    // the compiler's.
    for (int x = 160 + sub(), glyph; x < W / 2; x += glyph + 24) {
      glyph = 16 * (3 + static_cast<int>(rng() % 6));
      glyph += sub();
      const int stem = 19 + sub();
      c.Box(x, y, x + stem, y + 150);
      if (rng() % 2) {
        const int bar = y + 64 + 4 * sub();
        c.Box(x, bar, x + glyph, y + 85);
      }
    }
  }
  for (int x = 166; x < W / 2; x += 40 + static_cast<int>(rng() % 4) * 20) {
    c.Box(x, H * 62 / 100, x + 20 + static_cast<int>(rng() % 3) * 20, H * 85 / 100);
  }
  c.Code(rng, W * 58 / 100, H * 55 / 100, 42);  // area coverage: not recognised, still printed
  for (int x = 0; x < w / 4; ++x) {
    c.Box(16 * (w / 20 + x), H * 88 / 100, 16 * (w / 20 + x + 1), H * 95 / 100,
          std::min(255, 1020 * x / w));
  }
  for (size_t i = 0; i < c.ink.size(); ++i) c.ink[i] = std::min(kFull, c.ink[i] + scanned.ink[i]);
  return c;
}

// Grey noise over the first 40 rows (grey 195 in the corner), then ten codes of modules from 1.75
// to 3.75 dots, each on the grid of a sixteenth of a dot; drawn with exact area coverage and
// smoothed by a 2 x 2 mean `passes` times.
Canvas NoiseAndCodes(unsigned seed, int passes) {
  std::mt19937 rng(seed);
  Canvas c(420, 230);
  for (int i = 0; i < 420 * 40; ++i) c.ink[i] = static_cast<int>(rng() % 256) * 256;
  c.ink[0] = 60 * 256;
  for (int i = 0; i < 10; ++i) {
    int module = 28 + static_cast<int>(rng() % 33);
    if (i == 0 && passes == 1) module = 32;  // a code just wide enough to be taken
    const int x = 16 * 84 * (i % 5) + static_cast<int>(rng() % 32);
    const int y = 16 * (44 + 90 * (i / 5)) + static_cast<int>(rng() % 32);
    c.Code(rng, x, y, module);
  }
  for (int n = 0; n < passes; ++n) c.Smooth2x2();
  return c;
}

// The page's rows as a raster of `bits` per pixel: 8-bit black-based grey, 1-bit ink above one
// half, 24-bit RGB with the ink tinted by region.
std::string Rows(const Canvas& c, unsigned bits, const cups_page_header2_t& h) {
  std::string rows(size_t{h.cupsBytesPerLine} * c.h, '\0');
  for (int y = 0; y < c.h; ++y) {
    auto* row = reinterpret_cast<unsigned char*>(&rows[size_t(y) * h.cupsBytesPerLine]);
    for (int x = 0; x < c.w; ++x) {
      const int grey = (c.ink[size_t(y) * c.w + x] + 128) / 256;
      if (bits == 8) row[x] = static_cast<unsigned char>(grey);
      if (bits == 1 && grey > 127) row[x / 8] |= 0x80 >> (x % 8);
      if (bits == 24) {
        const int tint[3] = {10, x < c.w / 2 ? 6 : 10, y < c.h / 2 ? 3 : 10};  // tenths
        for (int k = 0; k < 3; ++k)
          row[3 * x + k] = static_cast<unsigned char>(255 - grey * tint[k] / 10);
      }
    }
  }
  return rows;
}

// One page of a job: a picture at a depth, with header changes.
struct Page {
  Canvas picture;
  unsigned bits = 8;
  unsigned copies = 1;
  unsigned rowsSent = ~0u;     // fewer rows than the header claims
  unsigned extraRowBytes = 0;  // a longer cupsBytesPerLine than the width needs
  unsigned orientation = 0;
  double pointsPerDot = 72.0 / 203;
  int colorSpace = -1;  // the depth's usual one
};

std::string Stream(const std::vector<Page>& pages) {
  std::string s;
  for (const Page& p : pages) {
    cups_page_header2_t h = PageHeader(p.picture.w, p.picture.h, p.bits);
    h.cupsBytesPerLine += p.extraRowBytes;
    h.NumCopies = p.copies;
    h.Orientation = static_cast<cups_orient_t>(p.orientation);
    if (p.colorSpace >= 0) h.cupsColorSpace = static_cast<cups_cspace_t>(p.colorSpace);
    h.PageSize[0] = static_cast<unsigned>(std::lround(p.picture.w * p.pointsPerDot));
    h.PageSize[1] = static_cast<unsigned>(std::lround(p.picture.h * p.pointsPerDot));
    std::string rows = Rows(p.picture, p.bits, h);
    if (p.rowsSent != ~0u) rows.resize(size_t{h.cupsBytesPerLine} * p.rowsSent);
    s += RasterPage(h, rows);
  }
  return RasterStream(s);
}

struct Case {
  std::string group;  // the list holds one checksum per group of jobs
  std::vector<Page> pages;
  std::string options;
  std::map<std::string, std::string> ppd =
      {};  // a PPD with only these choices, instead of the shipped one
};

Canvas Flat(int w, int h, int level) {
  Canvas c(w, h);
  c.Box(0, 0, 16 * w, 16 * h, level);
  return c;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const Canvas label = LabelPicture(406, 300, 7);
  for (const char* mode : {"None", "Threshold", "OrderDithering", "ErrorDiffusion", "-"}) {
    for (unsigned bits : {8u, 1u, 24u}) {
      if ((bits != 8) != (mode[0] == '-')) continue;  // the mode is read for grey pages only
      const std::string group = std::to_string(bits) + "-bit" +
                                (bits == 8 ? std::string(" ") + mode : "") +
                                ", every turn, mirror and negative";
      for (const char* turn : {"Rotation0", "Rotation90", "Rotation180", "Rotation270"}) {
        for (const char* look : {"", " MirrorImage=True", " NegativeImage=True",
                                 " MirrorImage=True NegativeImage=True"}) {
          const std::string options =
              (bits == 8 ? std::string("Dithering=") + mode + " " : "") + "Origin=" + turn + look;
          cases.push_back({group, {{label, bits}}, options});
        }
      }
    }
  }
  for (int passes = 0; passes < 6; ++passes) {
    const Canvas page = NoiseAndCodes(passes + 1, passes % 3);
    cases.push_back({"noise and codes, mode None",
                     {{page}, {page, 24}},
                     passes < 3 ? "Dithering=None" : "Dithering=None Origin=Rotation90"});
  }
  Canvas ramp(256, 40);
  for (int x = 0; x < 256; ++x) ramp.Box(16 * x, 0, 16 * x + 16, 640, x);
  for (const char* offset : {"-50", "-20", "0", "20", "50"}) {
    cases.push_back({"Threshold on a ramp, offsets -50 to 50",
                     {{ramp}},
                     std::string("Dithering=Threshold Threshold=") + offset});
  }
  for (int level : {255, 215, -1, 0}) {  // black and white, one dark level, all black, all white
    Canvas c = Flat(64, 20, level < 0 ? 255 : 0);
    if (level > 0) c.Box(128, 64, 640, 224, level);
    cases.push_back({"Threshold with nothing below the cut", {{c}}, "Dithering=Threshold"});
  }
  // Jobs of several pages: a code found on page 1 is kept for page 2; depths and copies vary.
  Page again{label}, one{LabelPicture(203, 120, 11), 1}, cut{label};
  again.copies = 3;
  one.copies = 0;
  cut.rowsSent = 150;
  cases.push_back({"jobs of several pages", {{label}, again, one, {label, 24}}, ""});
  cases.push_back({"jobs of several pages", {{label}, cut}, ""});
  // A custom 5 in label on a 4 in head, across and turned.
  cases.push_back(
      {"labels wider than the head", {{LabelPicture(1015, 200, 5)}}, "Dithering=Threshold"});
  cases.push_back(
      {"labels wider than the head", {{LabelPicture(200, 1015, 5), 1}}, "Origin=Rotation90"});
  Page turned{label}, padded{LabelPicture(203, 100, 3), 1}, mm{LabelPicture(799, 400, 9)};
  turned.orientation = 1;
  padded.extraRowBytes = 5;
  mm.pointsPerDot = 283.46 / 799;  // 100 mm
  cases.push_back({"page geometry", {turned}, ""});
  cases.push_back({"page geometry", {padded}, "NegativeImage=True"});
  cases.push_back({"page geometry", {mm}, ""});
  Page sw8{LabelPicture(203, 100, 3)}, sw1{LabelPicture(203, 100, 3), 1};
  sw8.colorSpace = sw1.colorSpace = CUPS_CSPACE_SW;
  cases.push_back({"page geometry", {sw8, sw1}, ""});
  for (int width : {1, 7, 33, 95})
    cases.push_back({"narrow pages", {{LabelPicture(width, 90, 4)}}, "Dithering=None"});
  // Flat dark and light greys to the right edge, where dithering tiles and eight-dot steps end.
  for (const char* mode : {"OrderDithering", "ErrorDiffusion"}) {
    for (int width : {16, 17}) {
      for (int level : {25, 225}) {
        cases.push_back(
            {"narrow pages", {{Flat(width, 10, level)}}, std::string("Dithering=") + mode});
      }
    }
  }
  for (const char* setup :
       {"MediaMethod=Transfer PaperType=LabelMark GapsHeight=4 FeedPaper=-2 PostAction=CutEvery "
        "CutEveryLabels=5 PrintSpeed=2 Darkness=12",
        "PaperType=Continue PostAction=CutEvery CutEveryLabels=0",
        "PostAction=PeelOff Dithering=ErrorDiffusion", "PostAction=Batch"}) {
    cases.push_back({"setup choices", {{ramp}}, setup});
  }
  // Plain numbers with a sign, a nine-character cutter count, the gap a gap label has by default.
  cases.push_back({"setup choices",
                   {{ramp}},
                   "",
                   {{"PaperType", "LabelGaps"},
                    {"PostAction", "CutEvery"},
                    {"CutEveryLabels", "123456789"},
                    {"Darkness", "+5"}}});
  return cases;
}

std::string Sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), digest, &n, EVP_sha256(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < n; ++i) hex += (snprintf(two, sizeof two, "%02x", digest[i]), two);
  return hex;
}

// "<stdout sha256> <dump sha256 or -> <exit status>" of a job.
std::string RunCase(const Case& c, const TempDir& dir) {
  WriteFile(dir.File("job.ras"), Stream(c.pages));
  std::remove(dir.File("dump.bmp").c_str());
  const char* filter = getenv("GOLDEN_FILTER");  // another build's filter, to compare
  RunOptions o;
  o.args = {filter ? filter : FILTER_EXE, "1", "user", "golden", "1", c.options,
            dir.File("job.ras")};
  std::unique_ptr<TestPpd> ppd;
  if (!c.ppd.empty()) ppd = std::make_unique<TestPpd>(c.ppd);
  o.env = {{"PPD", ppd ? ppd->path() : SOURCE_DIR "/ppd/label203.ppd"},
           {"RASTERTOLABEL_DUMP", dir.File("dump.bmp")}};
  const RunResult r = Run(o);
  const std::string dump = ReadFile(dir.File("dump.bmp"));
  return Sha256(r.out) + " " + (dump.empty() ? "-" : Sha256(dump)) + " " +
         std::to_string(r.status) + "\n";
}

const char kList[] = SOURCE_DIR "/tests/golden/jobs.txt";

TEST(GoldenJobs, EveryGroupOfJobsGivesItsRecordedOutput) {
  std::map<std::string, std::string> want, got;
  std::ifstream in(kList);
  for (std::string line; std::getline(in, line);) {
    if (line.size() > 65 && line[0] != '#') want[line.substr(65)] = line.substr(0, 64);
  }
  std::vector<std::string> order;
  TempDir dir;
  for (const Case& c : Cases()) {
    if (!got.count(c.group)) order.push_back(c.group);
    got[c.group] += RunCase(c, dir);
  }
  std::string list =
      "# SHA-256 of each group's jobs: standard output, page dump, exit status; "
      "scripts/golden.sh\n";
  for (const std::string& group : order) {
    const std::string sum = Sha256(got[group]);
    list += sum + " " + group + "\n";
    if (getenv("GOLDEN_UPDATE") == nullptr) {
      EXPECT_EQ(want[group], sum) << group;
    } else if (want[group] != sum) {
      std::printf("changed: %s\n", group.c_str());
    }
  }
  if (getenv("GOLDEN_UPDATE") != nullptr) WriteFile(kList, list);
}

}  // namespace
