// Cancellation: the scheduler sends SIGTERM at any moment of a job.  Whatever
// the moment, standard output holds only whole label jobs of the first pages,
// in order, each exactly as the uncancelled job has it (the last one may
// hold fewer rows when the signal came while its rows were read); every page
// started is written; and the exit status is 0 when a page was written, else
// 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "raster_stream.h"
#include "run.h"

namespace {

constexpr int kPages = 30;

// Page n (from 1) asks for n copies, so that every label names its page.
// The depths take turns: 1 bit, 8 bits, 24 bits; all have ink, and the grey
// and colour pages have greys for the conversion to decide.
std::string LongJob() {
  std::string pages;
  for (int n = 1; n <= kPages; ++n) {
    const unsigned bits = n % 3 == 1 ? 1 : (n % 3 == 2 ? 8 : 24);
    const unsigned width = 200, height = 160;
    cups_page_header2_t h = PageHeader(width, height, bits);
    h.NumCopies = static_cast<unsigned>(n);
    std::string rows(size_t{h.cupsBytesPerLine} * height, '\0');
    for (unsigned y = 0; y < height; ++y) {
      for (size_t i = 0; i < h.cupsBytesPerLine; ++i) {
        const unsigned v = (y * 7 + static_cast<unsigned>(i) * 3 + static_cast<unsigned>(n)) % 256;
        rows[y * h.cupsBytesPerLine + i] = static_cast<char>((y / 20 + i / 10) % 2 ? v : 0);
      }
    }
    pages += RasterPage(h, rows);
  }
  return RasterStream(pages);
}

struct Job {
  int status;
  std::vector<std::string> pages;  // the reader's summary of each page
  int started;                     // "Starting page" lines in the log
  std::string err;
};

class CancelTest : public testing::Test {
 protected:
  void SetUp() override {
    raster_ = dir_.File("job.ras");
    WriteFile(raster_, LongJob());
    whole_ = Filter(RunOptions{});
    ASSERT_EQ(whole_.status, 0) << whole_.err;
    ASSERT_EQ(whole_.pages.size(), size_t{kPages});
    wholeErrBytes_ = whole_.err.size();
  }

  // Runs the job with the given trigger; from a file unless o names stdin.
  Job Filter(RunOptions o) {
    o.args = {FILTER_EXE, "1", "user", "title", "1", ""};
    if (o.stdin_path.empty()) o.args.push_back(raster_);
    o.env["PPD"] = ppd_.path();
    o.env["RASTERTOLABEL_DUMP"] = "";
    RunResult r = ::Run(o);
    Job job{r.status, {}, 0, r.err};
    static const std::regex started("(^|\n)DEBUG: Starting page = ");
    job.started = static_cast<int>(std::distance(
        std::sregex_iterator(r.err.begin(), r.err.end(), started), std::sregex_iterator()));
    if (!r.out.empty()) {
      std::string file = dir_.File("out.job");
      WriteFile(file, r.out);
      RunOptions read;
      read.args = {READLABEL_EXE, file};
      RunResult summary = ::Run(read);
      EXPECT_EQ(summary.status, 0) << "not whole label jobs: " << summary.err;
      size_t from = 0;
      for (size_t at; (at = summary.out.find("PRINT 1,", from)) != std::string::npos;) {
        const size_t end = summary.out.find('\n', at) + 1;
        job.pages.push_back(summary.out.substr(from, end - from));
        from = end;
      }
    }
    return job;
  }

  void ExpectPrefixOfTheWholeJob(const Job& job) {
    const size_t m = job.pages.size();
    EXPECT_EQ(job.status, m > 0 ? 0 : 1)
        << job.err.substr(job.err.size() > 2000 ? job.err.size() - 2000 : 0);
    EXPECT_EQ(job.started, static_cast<int>(m)) << "every page started is written";
    for (size_t i = 0; i < m; ++i) {
      SCOPED_TRACE("page " + std::to_string(i + 1));
      const std::string& want = whole_.pages[i];
      if (i + 1 < m) {
        EXPECT_EQ(job.pages[i], want);
        continue;
      }
      // The last page: its own setup and print command; its bitmaps may
      // stop short when the signal came during its rows.
      const std::string& got = job.pages[i];
      auto head = [](const std::string& s) { return s.substr(0, s.find("CLS\n")); };
      auto tail = [](const std::string& s) { return s.substr(s.rfind("PRINT 1,")); };
      EXPECT_EQ(head(got), head(want));
      EXPECT_EQ(tail(got), tail(want));
      if (got != want) {
        EXPECT_NE(job.err.find("DEBUG: EndPage Out Canceled=1\n"), std::string::npos);
      }
    }
  }

  TempDir dir_;
  TestPpd ppd_{std::map<std::string, std::string>{}};
  std::string raster_;
  Job whole_;
  size_t wholeErrBytes_ = 0;
};

}  // namespace

TEST_F(CancelTest, SigtermAnywhereLeavesWholeLabelsOfTheFirstPages) {
  constexpr size_t kMoments = 40;
  std::vector<size_t> written;
  for (size_t i = 0; i < kMoments; ++i) {
    // From the first log line to the last page.
    const size_t after = 1 + i * (wholeErrBytes_ - 1) / kMoments;
    SCOPED_TRACE("SIGTERM after " + std::to_string(after) + " bytes of log");
    RunOptions o;
    o.sigterm_after_err_bytes = after;
    Job job = Filter(o);
    ExpectPrefixOfTheWholeJob(job);
    written.push_back(job.pages.size());
  }
  // The moments spread over the job: some stop early, some late.
  EXPECT_LT(*std::min_element(written.begin(), written.end()), size_t{kPages} / 3);
  EXPECT_GT(*std::max_element(written.begin(), written.end()), size_t{kPages} / 2);
}

TEST_F(CancelTest, SigtermWhileTheStreamTricklesInThroughAPipe) {
  const std::string stream = ReadFile(raster_);
  for (size_t after : {size_t{1}, wholeErrBytes_ / 8, wholeErrBytes_ / 3, wholeErrBytes_ / 2}) {
    SCOPED_TRACE("SIGTERM after " + std::to_string(after) + " bytes of log");
    const std::string fifo = dir_.File("in" + std::to_string(after) + ".fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t feeder = fork();
    if (feeder == 0) {
      signal(SIGPIPE, SIG_DFL);
      int fd = open(fifo.c_str(), O_WRONLY);
      // 4 KiB at a time, a millisecond apart: the filter waits in its reads.
      for (size_t at = 0; at < stream.size(); at += 4096) {
        const size_t n = std::min<size_t>(4096, stream.size() - at);
        if (write(fd, stream.data() + at, n) != static_cast<ssize_t>(n)) _exit(0);
        usleep(1000);
      }
      _exit(0);
    }
    RunOptions o;
    o.stdin_path = fifo;
    o.sigterm_after_err_bytes = after;
    Job job = Filter(o);
    waitpid(feeder, nullptr, 0);
    ExpectPrefixOfTheWholeJob(job);
    EXPECT_LT(job.pages.size(), size_t{kPages});
  }
}

TEST_F(CancelTest, SigtermBeforeAnyLabelEndsTheJobWithoutOne) {
  // A page the filter skips (2 bits per pixel), then nothing for a while:
  // the signal comes while the filter waits for the next page header.
  cups_page_header2_t skipped = PageHeader(16, 4, 2);
  const std::string first = RasterStream(RasterPage(skipped, 0x55));
  const std::string rest = ReadFile(raster_).substr(4);
  const std::string fifo = dir_.File("stalled.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  pid_t feeder = fork();
  if (feeder == 0) {
    signal(SIGPIPE, SIG_DFL);
    int fd = open(fifo.c_str(), O_WRONLY);
    if (write(fd, first.data(), first.size()) != static_cast<ssize_t>(first.size())) _exit(0);
    usleep(300000);
    if (write(fd, rest.data(), rest.size()) < 0) _exit(0);
    _exit(0);
  }
  RunOptions o;
  o.stdin_path = fifo;
  o.sigterm_after_err_text = "page skipped\n";
  Job job = Filter(o);
  waitpid(feeder, nullptr, 0);
  EXPECT_EQ(job.status, 1);
  EXPECT_TRUE(job.pages.empty());
  EXPECT_EQ(job.started, 1) << "the next page is not started";
  EXPECT_NE(job.err.find("DEBUG: Tarvo-filter return\n"), std::string::npos);
}
