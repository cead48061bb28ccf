// The filter run as the scheduler runs it: arguments, PPD, raster stream in, label jobs out,
// log lines by CUPS's conventions (what the printer's state message and the job's page count
// are made of), the page dump, and the exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "raster_stream.h"
#include "run.h"

namespace {

using Options = std::map<std::string, std::string>;

class FilterTest : public testing::Test {
 protected:
  RunResult FilterWithPpd(const std::string& stream, const std::string& ppd,
                          std::map<std::string, std::optional<std::string>> env = {}) {
    const std::string raster = dir_.File("in" + std::to_string(++n_) + ".ras");
    WriteFile(raster, stream);
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", "", raster};
    o.env = std::move(env);
    o.env["PPD"] = ppd;
    if (!o.env.count("RASTERTOLABEL_DUMP")) o.env["RASTERTOLABEL_DUMP"] = "";
    RunResult r = ::Run(o);
    ExpectCupsLog(r.err);
    return r;
  }
  RunResult Filter(const std::string& stream, const Options& choices = {},
                   std::map<std::string, std::optional<std::string>> env = {}) {
    TestPpd ppd(choices);
    return FilterWithPpd(stream, ppd.path(), std::move(env));
  }

  // Every line is a CUPS log line ended by a line end, and once an error is logged no INFO or
  // WARNING line follows: the scheduler shows the latest as the printer's state.
  static void ExpectCupsLog(const std::string& err) {
    static const std::regex line("(ERROR|WARNING|INFO|DEBUG|ATTR|PAGE):[^\n]*\n");
    auto starts = [](const std::string& l, const char* prefix) { return l.rfind(prefix, 0) == 0; };
    bool failed = false;
    for (size_t at = 0; at < err.size();) {
      const size_t end = err.find('\n', at);
      const std::string l = err.substr(at, end == std::string::npos ? end : end + 1 - at);
      EXPECT_TRUE(std::regex_match(l, line)) << l;
      EXPECT_FALSE(failed && (starts(l, "INFO:") || starts(l, "WARNING:"))) << l;
      failed = failed || starts(l, "ERROR:");
      at = end == std::string::npos ? err.size() : end + 1;
    }
  }

  // The ink dots of each label, by readlabel.
  static std::vector<long> InkDots(const std::string& job) {
    std::string fault;
    std::vector<long> dots;
    static const std::regex ink(", ([0-9]+) ink dots\n");
    for (const std::string& label : ReadLabels(job, &fault)) {
      dots.push_back(0);
      for (auto it = std::sregex_iterator(label.begin(), label.end(), ink);
           it != std::sregex_iterator(); ++it)
        dots.back() += std::stol((*it)[1]);
    }
    EXPECT_EQ(fault, "");
    return dots;
  }

  TempDir dir_;
  int n_ = 0;
};

// Lines that are no trace: what the user and the scheduler see.
std::string Visible(const std::string& err) {
  return std::regex_replace(err, std::regex("DEBUG:[^\n]*\n"), "");
}

// An 8-bit page whose rows are a ramp of all 256 raster values (0 no ink .. 255 full ink).
std::string RampPage(unsigned rows) {
  std::string ramp;
  for (unsigned y = 0; y < rows; ++y)
    for (int v = 0; v < 256; ++v) ramp += static_cast<char>(v);
  return RasterPage(PageHeader(256, rows, 8), ramp);
}

}  // namespace

TEST_F(FilterTest, WrongArgumentCountsSayNothing) {
  for (int n : {5, 8}) {
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", "", "x", "y"};
    o.args.resize(static_cast<size_t>(n));
    RunResult r = ::Run(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out + r.err, "");
  }
}

TEST_F(FilterTest, AFileOrPpdThatCannotBeOpenedIsTheOnlyLine) {
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", "", dir_.File("none.ras")};
  o.env["LANG"] = "C";
  RunResult r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR:Unable to open raster file: No such file or directory\n");
  o.args.pop_back();
  for (auto ppd : {std::optional<std::string>(), std::optional(dir_.File("none.ppd"))}) {
    o.env["PPD"] = ppd;
    r = ::Run(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(std::regex_match(r.err, std::regex("ERROR: [^\n]+ on line 0\\.\n"))) << r.err;
  }
}

TEST_F(FilterTest, AStreamWithoutPagesEndsWithTheTeardownTraces) {
  RunResult r = Filter(RasterStream(""));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(std::regex_replace(MaskAddresses(r.err), std::regex("close fd=[0-9]+"), "close fd=N"),
            "DEBUG: free Buffer=X\nDEBUG: free pDataBuf=X\n"
            "DEBUG: cupsFreeOptions options=X num_options=0\nDEBUG: cupsRasterClose\n"
            "DEBUG: close fd=N\nDEBUG: ppdClose fd=X\nDEBUG: Tarvo-filter return\n");
}

TEST_F(FilterTest, TheUserSeesLabelsAndTheSchedulerCountsThem) {
  cups_page_header2_t h = PageHeader(16, 40, 1);
  h.PageSize[0] = 288;
  h.PageSize[1] = 432;
  h.NumCopies = 3;
  std::string page = RasterPage(h, 0x80);
  RunResult r = Filter(RasterStream(page + page));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Visible(r.err),
            "INFO: Printing label 1\n"
            "ATTR: job-media-progress=0\nATTR: job-media-progress=40\nATTR: job-media-progress=80\n"
            "INFO: Label 1: 4 x 6 in, 203 dpi, 3 copies\nPAGE: 1 3\n"
            "INFO: Printing label 2\n"
            "ATTR: job-media-progress=0\nATTR: job-media-progress=40\nATTR: job-media-progress=80\n"
            "INFO: Label 2: 4 x 6 in, 203 dpi, 3 copies\nPAGE: 2 3\n"
            "INFO: Printed 6 labels\n");
}

TEST_F(FilterTest, TracesKeepTheirTextsAsDebugLines) {
  cups_page_header2_t h = PageHeader(16, 2, 1);
  h.PageSize[0] = 288;
  h.PageSize[1] = 144;
  std::string rows(4, '\0');
  rows[2] = '\x80';  // row 1, dot 0
  RunResult r = Filter(RasterStream(RasterPage(h, rows)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "SIZE 102 mm, 51 mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n"
            "BITMAP 0,1,1,1,1,\x7F\r\nPRINT 1,1\r\n");
  const std::string log = MaskAddresses(r.err);
  for (const char* block :
       {"DEBUG: HWResolution = [ 203 203 ]\nDEBUG: ImagingBoundingBox = [ ",
        "DEBUG: cupsBitsPerPixel =1 \nDEBUG: call ProcessData\nDEBUG: ProcessData nImageWidth=2 "
        "biHeight=2\nDEBUG: ProcessData nMirror=0\nDEBUG: header->Orientation=0 nDirection=0 "
        "nPaperWidth=102 nPaperHeight=51\n",
        "DEBUG: MediaMethod choice=X\nDEBUG: GapsHeight choice=X\nDEBUG: PaperType choice=X\n",
        "DEBUG: Print Code=SIZE 102 mm, 51 mm\nDEBUG: Print Code=DIRECTION 0,0\n",
        "DEBUG: ProcessData nOffset=55\nDEBUG: save data to Nemi-filter DataLength=86 "
        "sizeof(nOffset)=4\nPAGE: 1 1\nDEBUG: free pzlibBuf=X\n",
        "DEBUG: call EndPage\nDEBUG: Enter EndPage\nDEBUG: EndPage Out Canceled=0\nDEBUG: EndPage "
        "return\nINFO: Printed 1 label\nDEBUG: free Buffer=X\n"}) {
    EXPECT_NE(log.find(block), std::string::npos) << block << "\n" << log;
  }
  EXPECT_EQ(log.find("ERROR"), std::string::npos);
}

TEST_F(FilterTest, AFailureStaysTheLastWordAndAClosedPrinterConnectionIsOne) {
  // A page beyond the limit after a good one: the error is the state message.
  const std::string good = RasterPage(PageHeader(8, 8, 1), 0xFF);
  RunResult r = Filter(RasterStream(good + RasterPage(PageHeader(80000, 1000000, 24), "")));
  EXPECT_EQ(r.status, 1);
  const std::string end =
      "PAGE: 1 1\nINFO: Printing label 2\nERROR: Page 2 needs 480000000000 "
      "bytes, more than the page limit of 1073741824 bytes "
      "(RASTERTOLABEL_PAGE_LIMIT), job stopped\n";
  EXPECT_TRUE(Visible(r.err).ends_with(end)) << Visible(r.err);
  // The backend goes away: a failed write like any other, not a death by SIGPIPE.
  TestPpd ppd({});
  WriteFile(dir_.File("two.ras"), RasterStream(good + good));
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", "", dir_.File("two.ras")};
  o.env = {{"PPD", ppd.path()}, {"RASTERTOLABEL_DUMP", ""}};
  o.closed_stdout = true;
  r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Unable to write label 1: the printer connection was closed\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("PAGE:"), std::string::npos);
  EXPECT_EQ(r.err.find("label 2"), std::string::npos);
}

TEST_F(FilterTest, ALabelWiderThanTheHeadIsCutToItWithAWarning) {
  cups_page_header2_t h = PageHeader(1015, 4, 1);  // 5 x 0.02 in at 203 dpi
  h.PageSize[0] = 360;
  RunResult r = FilterWithPpd(RasterStream(RasterPage(h, 0xFF)), SOURCE_DIR "/ppd/label203.ppd");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("WARNING: Label 1 is 127 mm wide, wider than the 104 mm print head: "
                       "printed cut to 104 mm\n"),
            std::string::npos);
  EXPECT_EQ(r.out.substr(0, 16), "SIZE 104 mm, 0 m");
  EXPECT_EQ(InkDots(r.out), std::vector<long>{832 * 4});
}

TEST_F(FilterTest, ThresholdCutsBelowTheCutUnlessNothingLiesBelowIt) {
  const std::string ramp = RasterStream(RampPage(2));
  // Grey g = 255 - raster value; a grey at the cut is white, one below it black.
  RunResult r = Filter(ramp, {{"Dithering", "Threshold"}, {"Threshold", "0"}});
  std::smatch cut;
  ASSERT_TRUE(std::regex_search(r.err, cut, std::regex("nThresholds=([0-9]+) nLight=0")));
  EXPECT_EQ(InkDots(r.out), std::vector<long>{2 * std::stol(cut[1])});
  // A cut below every grey moves to one above the darkest: only black prints.
  r = Filter(ramp, {{"Dithering", "Threshold"}, {"Threshold", "-300"}});
  EXPECT_EQ(InkDots(r.out), std::vector<long>{2});
  // Pages whose darkest level is the Otsu cut itself.
  auto page = [](unsigned char ink, unsigned char paper) {
    std::string rows(64 * 4, static_cast<char>(paper));
    rows.replace(0, 64, 64, static_cast<char>(ink));
    return RasterPage(PageHeader(64, 4, 8), rows);
  };
  r = Filter(RasterStream(page(255, 0) + page(215, 0) + page(255, 255) + page(0, 0)),
             {{"Dithering", "Threshold"}});
  EXPECT_EQ(InkDots(r.out), (std::vector<long>{64, 64, 256, 0}));
}

TEST_F(FilterTest, TheDumpGoesToTheJobsTemporaryFolderAndCanBeSwitchedOff) {
  const std::string page = RasterStream(RasterPage(PageHeader(10, 3, 8), 0x80));
  const std::string tmp = dir_.File("tmp");
  mkdir(tmp.c_str(), 0700);
  RunResult r = Filter(page, {}, {{"RASTERTOLABEL_DUMP", std::nullopt}, {"TMPDIR", tmp}});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat((tmp + "/Buf.bmp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 54 + 32 * 3);  // rows of 30 bytes padded to 32
  for (const char* off : {"", "\"\"", "off", "None"}) {
    unlink((tmp + "/Buf.bmp").c_str());
    r = Filter(page, {}, {{"RASTERTOLABEL_DUMP", off}, {"TMPDIR", tmp}});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(stat((tmp + "/Buf.bmp").c_str(), &st), 0) << off;
  }
  // Never through a link: the target stays as it was, and the error says why.
  WriteFile(dir_.File("target"), "kept");
  ASSERT_EQ(symlink(dir_.File("target").c_str(), dir_.File("link.bmp").c_str()), 0);
  r = Filter(page, {}, {{"RASTERTOLABEL_DUMP", dir_.File("link.bmp")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(dir_.File("target")), "kept");
  EXPECT_NE(r.err.find("ERROR: Page dump " + dir_.File("link.bmp") +
                       " not written: it is a symbolic link\n"),
            std::string::npos);
}
