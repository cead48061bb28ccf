// Golden whole jobs: deterministic pages through the built filter, every mode, turn, mirror,
// negative and depth, multi-page jobs, setup choices and edge pages; the SHA-256 of each job's
// standard output and of its page dump, with the exit status, must match tests/golden/jobs.txt.
//
//   scripts/golden.sh          regenerates jobs.txt after a wanted change and lists what changed
//
// The pages are drawn here from a fixed seed with exact area coverage (as PDF renderers smooth
// edges) or with the 2 x 2 smoothing of a scan, which the code detection recognises.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "raster_stream.h"
#include "run.h"

namespace {

// Ink coverage 0..1 of a page, drawn with exact area coverage.
struct Canvas {
  int w, h;
  std::vector<double> ink;
  Canvas(int width, int height) : w(width), h(height), ink(size_t(width) * height, 0) {}
  void Box(double x0, double y0, double x1, double y1, double level = 1) {
    for (int y = std::max(0, int(y0)); y < std::min(h, int(std::ceil(y1))); ++y) {
      const double cy = std::min(y1, y + 1.0) - std::max(y0, double(y));
      for (int x = std::max(0, int(x0)); x < std::min(w, int(std::ceil(x1))); ++x) {
        const double cx = std::min(x1, x + 1.0) - std::max(x0, double(x));
        double& v = ink[size_t(y) * w + x];
        v = std::min(1.0, v + cx * cy * level);
      }
    }
  }
  // A square code of n modules with finder patterns at three corners.
  void Code(std::mt19937& rng, double x, double y, double module, int n = 21) {
    auto finder = [](int mx, int my) {
      const int r = std::max(std::abs(mx - 3), std::abs(my - 3));
      return r == 3 || r <= 1;
    };
    for (int my = 0; my < n; ++my) {
      for (int mx = 0; mx < n; ++mx) {
        bool dark = rng() % 2;
        if (mx < 8 && my < 8) dark = mx < 7 && my < 7 && finder(mx, my);
        if (mx >= n - 8 && my < 8) dark = mx > n - 8 && my < 7 && finder(mx - (n - 7), my);
        if (mx < 8 && my >= n - 8) dark = mx < 7 && my > n - 8 && finder(mx, my - (n - 7));
        if (dark)
          Box(x + mx * module, y + my * module, x + (mx + 1) * module, y + (my + 1) * module);
      }
    }
  }
  // Each dot becomes the mean of itself and its right, lower and lower-right neighbours.
  void Smooth2x2() {
    auto at = [&](int x, int y) { return x < w && y < h ? ink[size_t(y) * w + x] : 0.0; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ink[size_t(y) * w + x] = (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4;
  }
};

// A label: frame, text-like strokes, a barcode, two codes, a grey ramp and noise.
Canvas LabelPicture(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  auto frac = [&] { return (rng() % 1000) / 1000.0; };
  Canvas c(w, h);
  Canvas scanned(w, h);
  scanned.Code(rng, w * 0.55, h * 0.08, 3);  // recognised as a code once smoothed
  scanned.Smooth2x2();
  c.Box(2.3, 2.3, w - 2.3, 5.6);
  c.Box(2.3, h - 5.6, w - 2.3, h - 2.3);
  c.Box(2.3, 2.3, 5.1, h - 2.3);
  for (int line = 0; line < 6; ++line) {
    double x = 10 + frac();
    const double y = 12 + line * 13.7;
    while (x < w * 0.5) {
      const double glyph = 3 + rng() % 6 + frac();
      c.Box(x, y, x + 1.2 + frac(), y + 9.4);
      if (rng() % 2) c.Box(x, y + 4 + frac() * 4, x + glyph, y + 5.3);
      x += glyph + 1.5;
    }
  }
  for (double x = 10.4; x < w * 0.5; x += 2.5 + rng() % 4 * 1.25) {
    c.Box(x, h * 0.62, x + 1.25 + rng() % 3 * 1.25, h * 0.85);
  }
  c.Code(rng, w * 0.58, h * 0.55, 2.6);  // area coverage: not recognised, still printed
  for (int x = 0; x < w / 4; ++x)
    c.Box(w * 0.05 + x, h * 0.88, w * 0.05 + x + 1, h * 0.95, x * 4.0 / w);
  for (int i = 0; i < w; ++i) {
    const double x = w * 0.3 + rng() % (w / 5 + 1), y = h * 0.88 + rng() % 8;
    c.Box(x, y, x + 1 + frac() * w / 5, y + 1 + rng() % 8, frac() * 0.6);
  }
  for (size_t i = 0; i < c.ink.size(); ++i) c.ink[i] = std::min(1.0, c.ink[i] + scanned.ink[i]);
  return c;
}

// The page's rows as a raster of `bits` per pixel: 8-bit black-based grey, 1-bit ink above one
// half, 24-bit RGB with the ink tinted by region.
std::string Rows(const Canvas& c, unsigned bits, const cups_page_header2_t& h) {
  std::string rows(size_t{h.cupsBytesPerLine} * c.h, '\0');
  for (int y = 0; y < c.h; ++y) {
    auto* row = reinterpret_cast<unsigned char*>(&rows[size_t(y) * h.cupsBytesPerLine]);
    for (int x = 0; x < c.w; ++x) {
      const double v = c.ink[size_t(y) * c.w + x];
      const auto grey = static_cast<unsigned char>(std::lround(v * 255));
      if (bits == 8) row[x] = grey;
      if (bits == 1 && v > 0.5) row[x / 8] |= 0x80 >> (x % 8);
      if (bits == 24) {
        const double tint[3] = {1.0, x < c.w / 2 ? 0.6 : 1.0, y < c.h / 2 ? 0.3 : 1.0};
        for (int k = 0; k < 3; ++k)
          row[3 * x + k] = static_cast<unsigned char>(255 - std::lround(v * tint[k] * 255));
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
};

std::string Stream(const std::vector<Page>& pages) {
  std::string s;
  for (const Page& p : pages) {
    cups_page_header2_t h = PageHeader(p.picture.w, p.picture.h, p.bits);
    h.cupsBytesPerLine += p.extraRowBytes;
    h.NumCopies = p.copies;
    h.Orientation = static_cast<cups_orient_t>(p.orientation);
    h.PageSize[0] = static_cast<unsigned>(std::lround(p.picture.w * p.pointsPerDot));
    h.PageSize[1] = static_cast<unsigned>(std::lround(p.picture.h * p.pointsPerDot));
    std::string rows = Rows(p.picture, p.bits, h);
    if (p.rowsSent != ~0u) rows.resize(size_t{h.cupsBytesPerLine} * p.rowsSent);
    s += RasterPage(h, rows);
  }
  return RasterStream(s);
}

struct Case {
  std::string name;
  std::vector<Page> pages;
  std::string options;
};

Canvas Flat(int w, int h, double level) {
  Canvas c(w, h);
  c.Box(0, 0, w, h, level);
  return c;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const Canvas label = LabelPicture(406, 300, 7);
  const char* kTurns[] = {"Rotation0", "Rotation90", "Rotation180", "Rotation270"};
  const char* kLooks[] = {"", " MirrorImage=True", " NegativeImage=True",
                          " MirrorImage=True NegativeImage=True"};
  for (const char* mode : {"None", "Threshold", "OrderDithering", "ErrorDiffusion", "-"}) {
    for (unsigned bits : {8u, 1u, 24u}) {
      if ((bits != 8) != (mode[0] == '-')) continue;  // the mode is read for grey pages only
      for (const char* turn : kTurns) {
        for (const char* look : kLooks) {
          std::string options = std::string("Origin=") + turn + look;
          if (bits == 8) options = std::string("Dithering=") + mode + " " + options;
          cases.push_back({std::to_string(bits) + "bit " + options, {{label, bits}}, options});
        }
      }
    }
  }
  const Canvas ramp = [] {
    Canvas c(256, 40);
    for (int x = 0; x < 256; ++x) c.Box(x, 0, x + 1, 40, x / 255.0);
    return c;
  }();
  for (const char* offset : {"-50", "-20", "0", "20", "50"}) {
    cases.push_back({std::string("threshold ramp ") + offset,
                     {{ramp}},
                     std::string("Dithering=Threshold Threshold=") + offset});
  }
  for (auto [name, level] : {std::pair{"black and white", 1.0},
                             {"one dark level", 215 / 255.0},
                             {"all black", -1.0},
                             {"all white", 0.0}}) {
    Canvas c = level < 0 ? Flat(64, 20, 1) : Flat(64, 20, 0);
    if (level > 0) c.Box(8, 4, 40, 14, level);
    cases.push_back({std::string("threshold ") + name, {{c}}, "Dithering=Threshold"});
  }
  // Jobs of several pages: a code found on page 1 is kept for page 2; depths and copies vary.
  Page again{LabelPicture(406, 300, 7)};
  again.copies = 3;
  Page one{LabelPicture(203, 120, 11), 1};
  one.copies = 0;
  cases.push_back({"job: grey, grey again, 1-bit, colour", {{label}, again, one, {label, 24}}, ""});
  cases.push_back({"job: cut short",
                   {{label},
                    [&] {
                      Page p{label};
                      p.rowsSent = 150;
                      return p;
                    }()},
                   ""});
  Page wide{LabelPicture(1015, 200, 5)};  // a custom 5 in label on a 4 in head
  cases.push_back({"wide label, grey", {wide}, "Dithering=Threshold"});
  cases.push_back({"wide label, turned", {{LabelPicture(200, 1015, 5), 1}}, "Origin=Rotation90"});
  Page turned{label};
  turned.orientation = 1;
  cases.push_back({"page turned by the application", {turned}, ""});
  Page padded{LabelPicture(203, 100, 3), 1};
  padded.extraRowBytes = 5;
  cases.push_back({"1-bit rows longer than the width", {padded}, "NegativeImage=True"});
  Page mm{LabelPicture(799, 400, 9)};
  mm.pointsPerDot = 283.46 / 799;  // 100 mm
  cases.push_back({"100 x 50 mm label", {mm}, ""});
  for (int width : {1, 7, 33, 95}) {
    cases.push_back({"narrow " + std::to_string(width), {{LabelPicture(width, 90, 4)}}, ""});
  }
  for (const char* setup :
       {"MediaMethod=Transfer PaperType=LabelMark GapsHeight=4 FeedPaper=-2 PostAction=CutEvery "
        "CutEveryLabels=5 PrintSpeed=2 Darkness=12",
        "PaperType=Continue PostAction=CutEvery CutEveryLabels=0", "PostAction=PeelOff",
        "PostAction=Batch"}) {
    cases.push_back({std::string("setup ") + setup, {{ramp}}, setup});
  }
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
  o.env = {{"PPD", SOURCE_DIR "/ppd/label203.ppd"}, {"RASTERTOLABEL_DUMP", dir.File("dump.bmp")}};
  const RunResult r = Run(o);
  const std::string dump = ReadFile(dir.File("dump.bmp"));
  return Sha256(r.out) + " " + (dump.empty() ? "-" : Sha256(dump)) + " " + std::to_string(r.status);
}

const char kList[] = SOURCE_DIR "/tests/golden/jobs.txt";

TEST(GoldenJobs, EveryJobGivesItsRecordedOutput) {
  std::map<std::string, std::string> want;
  std::ifstream in(kList);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string out, dump, status, name;
    if (line[0] != '#' && fields >> out >> dump >> status &&
        std::getline(fields >> std::ws, name)) {
      want[name] = out + " " + dump + " " + status;
    }
  }
  const bool update = getenv("GOLDEN_UPDATE") != nullptr;
  std::ostringstream list;
  list << "# SHA-256 of standard output, of the page dump, exit status, job; scripts/golden.sh\n";
  TempDir dir;
  for (const Case& c : Cases()) {
    const std::string got = RunCase(c, dir);
    list << got << " " << c.name << "\n";
    if (update && want[c.name] != got) std::printf("changed: %s\n", c.name.c_str());
    if (!update) {
      EXPECT_EQ(want[c.name], got) << c.name;
    }
  }
  if (update) WriteFile(kList, list.str());
}

}  // namespace
