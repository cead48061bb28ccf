// The queue's entry for PDF pages: pdftoraster (or, missing it, gstoraster) feeding the filter,
// as one process tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "run.h"

namespace {

class PdfEntryTest : public testing::Test {
 protected:
  void SetUp() override {
    // Labels of a line of text, one per page.
    WriteFile(
        dir_.File("label.ps"),
        "%!PS\n<< /PageSize [144 72] >> setpagedevice /Helvetica findfont 20 scalefont setfont\n"
        "1 1 " +
            std::to_string(kPages) + " { 10 30 moveto (LABEL) show showpage } for\n");
    RunOptions o;
    o.args = {"/usr/bin/ps2pdf", dir_.File("label.ps"), dir_.File("label.pdf")};
    ASSERT_EQ(::Run(o).status, 0);
    for (const char* renderer : {"pdftoraster", "gstoraster"}) {
      mkdir(dir_.File(renderer).c_str(), 0755);
      mkdir(dir_.File(std::string(renderer) + "/filter").c_str(), 0755);
      symlink((std::string("/usr/lib/cups/filter/") + renderer).c_str(),
              dir_.File(std::string(renderer) + "/filter/" + renderer).c_str());
    }
  }
  RunResult Entry(const std::string& serverbin, const std::string& copies = "1",
                  const std::string& stdinPath = "") {
    RunOptions o;
    o.args = {PDF_ENTRY_EXE, "1", "user", "title", copies, "PageSize=w144h72"};
    if (stdinPath.empty()) o.args.push_back(dir_.File("label.pdf"));
    o.stdin_path = stdinPath;
    o.env = {{"PPD", ppd_},
             {"RASTERTOLABEL_DUMP", ""},
             {"CUPS_SERVERBIN", dir_.File(serverbin)},
             {"TMPDIR", dir_.path()}};
    o.sigterm_after_err_text = sigtermAfter_;
    return ::Run(o);
  }
  static constexpr int kPages = 40;
  TempDir dir_;
  std::string sigtermAfter_;
  std::string ppd_ = SOURCE_DIR "/ppd/label203.ppd";
};

}  // namespace

TEST_F(PdfEntryTest, RendersWithPopplerElseGhostscriptElseFails) {
  RunResult r = Entry("pdftoraster");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), size_t{kPages});
  EXPECT_NE(r.err.find("DEBUG: Rendering the PDF pages with " + dir_.File("pdftoraster")),
            std::string::npos);
  r = Entry("gstoraster");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), size_t{kPages});
  EXPECT_NE(r.err.find("WARNING: pdftoraster (cups-filters) is not installed"), std::string::npos);
  ppd_ = dir_.File("missing.ppd");  // the filter's own failure reaches the log too
  r = Entry("pdftoraster");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Unable to open PPD file"), std::string::npos) << r.err;
  r = Entry("nothing");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "ERROR: Neither pdftoraster nor gstoraster is installed: the PDF cannot be "
            "rendered\n");
}

TEST_F(PdfEntryTest, ThePrinterMakesTheCopiesPdftopdfLeftToIt) {
  // The job asked for 3; pdftopdf repeated the pages itself and left one copy to the printer.
  std::string pdf = ReadFile(dir_.File("label.pdf"));
  pdf.insert(pdf.find('\n') + 1, "%%PDFTOPDFNumCopies : 1\n");
  WriteFile(dir_.File("noted.pdf"), pdf);
  RunResult r = Entry("pdftoraster", "3", dir_.File("noted.pdf"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), size_t{kPages});
  // Without the note the job's count is the printer's; the spooled input is gone afterwards.
  r = Entry("pdftoraster", "3", dir_.File("label.pdf"));
  EXPECT_EQ(Count(r.out, "PRINT 1,3\r\n"), size_t{kPages});
  EXPECT_EQ(Count(r.err, "PAGE: "), size_t{kPages});
  bool left = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    left = left || entry.path().filename().string().starts_with("labelpdf");
  EXPECT_FALSE(left);
}

TEST_F(PdfEntryTest, SigtermReachesTheRendererAndTheFilter) {
  sigtermAfter_ = "PAGE: 1 1";
  RunResult r = Entry("pdftoraster");
  // The job stops early, its labels whole, and no renderer outlives it.
  EXPECT_LT(Count(r.out, "PRINT 1,1\r\n"), size_t{kPages});
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), Count(r.err, "PAGE: "));
  bool renderer = false;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string cmdline = ReadFile(entry.path().string() + "/cmdline");
    renderer = renderer || cmdline.find(dir_.File("label.pdf")) != std::string::npos;
  }
  EXPECT_FALSE(renderer) << "a renderer outlived the job";
}
