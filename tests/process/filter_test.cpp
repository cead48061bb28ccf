// The filter run as the scheduler runs it: arguments, PPD, raster stream in,
// label jobs out, log lines and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "run.h"

namespace {

using Choices = std::map<std::string, std::string>;

// A grey picture as PGM text: rows of width values.
std::string Pgm(size_t width, size_t height, const std::vector<unsigned char>& grey) {
  std::string s = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  s.append(reinterpret_cast<const char*>(grey.data()), grey.size());
  return s;
}

class FilterTest : public testing::Test {
 protected:
  // Writes a raster file from the given pictures with makeraster's options.
  std::string Raster(const std::vector<std::string>& options,
                     const std::vector<std::string>& pgms) {
    std::string out = dir_.File("page" + std::to_string(++count_) + ".ras");
    std::vector<std::string> args = {MAKERASTER_EXE, "-o", out};
    args.insert(args.end(), options.begin(), options.end());
    for (const auto& pgm : pgms) {
      std::string in = dir_.File("pic" + std::to_string(++count_) + ".pgm");
      WriteFile(in, pgm);
      args.push_back(in);
    }
    RunOptions o;
    o.args = args;
    RunResult r = ::Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    return out;
  }

  RunResult Filter(const std::string& raster, const Choices& choices = {},
                   const std::string& options = "", bool asFile = true) {
    TestPpd ppd(choices);
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", options};
    if (asFile) {
      o.args.push_back(raster);
    } else {
      o.stdin_path = raster;
    }
    o.env["PPD"] = ppd.path();
    o.env["RASTERTOLABEL_DUMP"] = "";
    return ::Run(o);
  }

  TempDir dir_;
  int count_ = 0;
};

const char kNoOptionSetup[] = "DIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n";

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

}  // namespace

TEST_F(FilterTest, WrongArgumentCountsSayNothing) {
  for (int n : {5, 8}) {
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", "", "x", "y"};
    o.args.resize(static_cast<size_t>(n));
    RunResult r = ::Run(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(FilterTest, MissingRasterFileOrPpd) {
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", "", dir_.File("none.ras")};
  o.env["LANG"] = "C";
  RunResult r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR:Unable to open raster file: No such file or directory\n");

  o.args.pop_back();
  o.env["PPD"] = std::nullopt;
  r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_match(r.err, std::regex("ERROR: [^\n]+ on line 0\\.\n"))) << r.err;

  o.env["PPD"] = dir_.File("none.ppd");
  r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Unable to open PPD file on line 0.\n");
}

TEST_F(FilterTest, AStreamWithoutPagesEndsWithTheTeardownOnly) {
  WriteFile(dir_.File("empty.ras"), "");
  RunResult r = Filter(dir_.File("empty.ras"), {}, "", /*asFile=*/false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(MaskAddresses(r.err),
            "ERROR: free Buffer=X\nERROR: free pDataBuf=X\n"
            "ERROR: cupsFreeOptions options=X num_options=0\nERROR: cupsRasterClose\n"
            "ERROR: close fd=0\nERROR: ppdClose fd=X\nERROR: Tarvo-filter return\n");
}

TEST_F(FilterTest, OneBitPageLogAndJobAreExact) {
  // 16 x 2 dots: the first dot of row 1 inked.
  std::vector<unsigned char> grey(32, 255);
  grey[16] = 0;
  std::string ras = Raster({"--bits", "1", "--page-size", "288x144"}, {Pgm(16, 2, grey)});
  RunResult r = Filter(ras, {}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string("SIZE 102 mm, 51 mm\r\n") + kNoOptionSetup +
                       "BITMAP 0,1,1,1,1,\x7F\r\nPRINT 1,1\r\n");
  std::string log = std::regex_replace(MaskAddresses(r.err), std::regex("time=[0-9]+"), "time=T");
  // The file's descriptor depends on what the test runner left open.
  log = std::regex_replace(log, std::regex("close fd=[1-9][0-9]*"), "close fd=N");
  // The header dump is long; check the lines around it exactly.
  size_t dumpEnd = log.find("ERROR: cupsRowStep = ");
  ASSERT_NE(dumpEnd, std::string::npos);
  EXPECT_EQ(log.substr(0, log.find("ERROR: MediaClass")),
            "ERROR: Starting page = 1 1 time=T\nERROR: StartPage...\n");
  EXPECT_NE(log.find("ERROR: HWResolution = [ 203 203 ]\nERROR: ImagingBoundingBox = [ "),
            std::string::npos);
  EXPECT_NE(log.find("ERROR: cupsWidth = 16\nERROR: cupsHeight = 2\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.find('\n', dumpEnd) + 1),
            "ATTR: job-media-progress=0\n"
            "ERROR: cupsBitsPerPixel =1 \n"
            "ERROR: call ProcessData\n"
            "ERROR: ProcessData nImageWidth=2 biHeight=2\n"
            "ERROR: ProcessData nMirror=0\n"
            "ERROR: header->Orientation=0 nDirection=0 nPaperWidth=102 nPaperHeight=51\n"
            "ERROR: ProcessData nInverse=0 nDirection=0\n"
            "ERROR: ProcessDatan Direction == 1 || nDirection == 3\n"
            "ERROR: ProcessDatan nMirror=0\n"
            "ERROR: ProcessDatan nInverse=0\n"
            "ERROR: ProcessData malloc pData=X\n"
            "ERROR: ProcessData sprintf SIZE nPaperWidth=102 nPaperHeight=51\n"
            "ERROR: ProcessData nCompress=0\n"
            "ERROR: MediaMethod choice=X\n"
            "ERROR: GapsHeight choice=X\n"
            "ERROR: PaperType choice=X\n"
            "ERROR: PrintSpeed choice=X\n"
            "ERROR: Darkness choice=X\n"
            "ERROR: Print Code=SIZE 102 mm, 51 mm\n"
            "ERROR: Print Code=DIRECTION 0,0\n"
            "ERROR: Print Code=REFERENCE 0,0\n"
            "ERROR: Print Code=CLS\n"
            "ERROR: ProcessData nOffset=55\n"
            "ERROR: save data to Nemi-filter DataLength=86 sizeof(nOffset)=4\n"
            "ERROR: free pzlibBuf=X\n"
            "ERROR: free pMirror=X\n"
            "ERROR: free pBuf180=X\n"
            "ERROR: free pBuf90=X\n"
            "ERROR: free pData=X\n"
            "ERROR: ProcessData return\n"
            "ERROR: call EndPage\n"
            "ERROR: Enter EndPage\n"
            "ERROR: EndPage Out Canceled=0\n"
            "ERROR: EndPage return\n"
            "ERROR: free Buffer=X\n"
            "ERROR: free pDataBuf=X\n"
            "ERROR: cupsFreeOptions options=X num_options=0\n"
            "ERROR: cupsRasterClose\n"
            "ERROR: close fd=N\n"
            "ERROR: ppdClose fd=X\n"
            "ERROR: Tarvo-filter return\n");
  // A choice that is not marked logs 0; buffers that are not taken too.
  EXPECT_NE(r.err.find("ERROR: MediaMethod choice=0\n"), std::string::npos);
  EXPECT_NE(r.err.find("ERROR: free pMirror=0\n"), std::string::npos);
}

TEST_F(FilterTest, OneBitRowsAreComplementedWholeStride) {
  // 203 dots wide: 26 bytes per row, the last byte holds 3 dots.
  std::vector<unsigned char> grey(203 * 3, 255);
  grey[0] = 0;          // row 0, dot 0: raster 0x80 -> printer 0x7F
  grey[203 + 202] = 0;  // row 1, last dot
  std::string ras = Raster({"--bits", "1"}, {Pgm(203, 3, grey)});
  RunResult r = Filter(ras, {});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string head = "BITMAP 0,0,26,2,1,";
  size_t at = r.out.find(head);
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string data = r.out.substr(at + head.size(), 52);
  EXPECT_EQ(static_cast<unsigned char>(data[0]), 0x7F);
  EXPECT_EQ(static_cast<unsigned char>(data[25]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(data[26 + 25]), 0xDF);  // dot 202 = bit 5
}

TEST_F(FilterTest, TwoPagesGiveTwoWholeJobs) {
  std::vector<unsigned char> a(64, 255), b(64, 255);
  a[0] = 0;
  b[63] = 0;
  std::string ras = Raster({"--bits", "1", "--copies", "3"}, {Pgm(8, 8, a), Pgm(8, 8, b)});
  RunResult r = Filter(ras, {{"Darkness", "12"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "SIZE "), 2u);
  EXPECT_EQ(Count(r.out, "DENSITY 12\r\nCLS\r\n"), 2u);
  EXPECT_EQ(Count(r.out, "PRINT 1,3\r\n"), 2u);
  EXPECT_NE(r.out.find("BITMAP 0,0,1,1,1,\x7F\r\nPRINT 1,3\r\nSIZE "), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 31), "BITMAP 0,7,1,1,1,\xFE\r\nPRINT 1,3\r\n");
  EXPECT_NE(r.err.find("Starting page = 2 "), std::string::npos);
}

TEST_F(FilterTest, ProgressLinesEverySixteenRows) {
  std::string ras = Raster({"--bits", "1"}, {Pgm(8, 40, std::vector<unsigned char>(320, 255))});
  RunResult r = Filter(ras);
  std::string progress;
  std::regex line("ATTR: job-media-progress=[0-9]+\n");
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), line);
       it != std::sregex_iterator(); ++it)
    progress += it->str();
  EXPECT_EQ(progress,
            "ATTR: job-media-progress=0\nATTR: job-media-progress=40\n"
            "ATTR: job-media-progress=80\n");
}

TEST_F(FilterTest, ShortStreamPrintsTheRowsThatCame) {
  std::vector<unsigned char> grey(8 * 10, 0);
  std::string ras = Raster({"--bits", "1", "--claim-height", "1000000"}, {Pgm(8, 10, grey)});
  RunResult r = Filter(ras);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("BITMAP 0,0,1,10,1,"), std::string::npos);
  EXPECT_NE(r.out.find("\r\nPRINT 1,1\r\n"), std::string::npos);
}

TEST_F(FilterTest, PagesBeyondTheLimitStopTheJob) {
  std::vector<unsigned char> grey(64, 0);
  // The second page claims a million colour rows of 400 dots.
  std::string ok = Raster({"--bits", "1"}, {Pgm(8, 8, grey)});
  std::string huge = Raster({"--bits", "24", "--claim-height", "1000000"},
                            {Pgm(400, 1, std::vector<unsigned char>(400))});
  WriteFile(dir_.File("both.ras"), ReadFile(ok) + ReadFile(huge).substr(4));
  RunResult r = Filter(dir_.File("both.ras"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);  // the first page stays written
  EXPECT_NE(r.err.find("ERROR: Page 2 needs 2400000000 bytes, more than the page limit of "
                       "1073741824 bytes"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("ERROR: Tarvo-filter return\n"), std::string::npos);
}

TEST_F(FilterTest, RowsShorterThanTheWidthNeedsAreRefused) {
  std::string ras = Raster({"--bits", "8", "--bytes-per-line", "10"},
                           {Pgm(16, 4, std::vector<unsigned char>(64))});
  RunResult r = Filter(ras);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR: Page 1: cupsBytesPerLine 10 cannot hold 16 dots of 8 bits"),
            std::string::npos);
}

TEST_F(FilterTest, SigtermWhileReadingRowsStillWritesThePage) {
  // The raster arrives through a pipe, the rest of the page held back until
  // the filter has been told to stop.
  std::vector<unsigned char> grey(8 * 64, 0);
  std::string full = ReadFile(Raster({"--bits", "1"}, {Pgm(8, 64, grey)}));
  std::string fifo = dir_.File("in.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  pid_t feeder = fork();
  if (feeder == 0) {
    int fd = open(fifo.c_str(), O_WRONLY);
    size_t part = full.size() - 40;  // all but the last 40 rows
    if (write(fd, full.data(), part) != static_cast<ssize_t>(part)) _exit(1);
    sleep(2);  // the filter gets SIGTERM meanwhile
    if (write(fd, full.data() + part, full.size() - part) < 0) _exit(1);
    _exit(0);
  }
  TestPpd ppd({});
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", ""};
  o.stdin_path = fifo;
  o.env["PPD"] = ppd.path();
  o.sigterm_after_err_text = "ATTR: job-media-progress=";
  RunResult r = ::Run(o);
  waitpid(feeder, nullptr, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);
  EXPECT_NE(r.err.find("ERROR: EndPage Out Canceled=1\n"), std::string::npos);
  EXPECT_EQ(r.err.find("ERROR: EndPage return\n"), std::string::npos);
}
