// Cancellation: the scheduler sends SIGTERM at any moment of a job.  Whatever the moment,
// standard output holds only whole label jobs of the first pages, each as the uncancelled job
// has it (the last may hold fewer rows when the signal came while its rows were read); every
// page started is written; the exit status is 0 when a page was written, else 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "raster_stream.h"
#include "run.h"

namespace {

constexpr int kPages = 30;

// Page n asks for n copies, so that every label names its page; depths take turns.
std::string LongJob() {
  std::string pages;
  for (unsigned n = 1; n <= kPages; ++n) {
    cups_page_header2_t h = PageHeader(200, 160, n % 3 == 1 ? 1 : (n % 3 == 2 ? 8 : 24));
    h.NumCopies = n;
    std::string rows(size_t{h.cupsBytesPerLine} * 160, '\0');
    for (size_t i = 0; i < rows.size(); ++i) {
      const size_t y = i / h.cupsBytesPerLine, x = i % h.cupsBytesPerLine;
      rows[i] = static_cast<char>((y / 20 + x / 10) % 2 ? (y * 7 + x * 3 + n) % 256 : 0);
    }
    pages += RasterPage(h, rows);
  }
  return RasterStream(pages);
}

class CancelTest : public testing::Test {
 protected:
  // The readlabel summary of each label of the job, and how many pages the log started.
  static std::vector<std::string> Labels(const RunResult& r, int& started) {
    static const std::regex start("DEBUG: Starting page = ");
    started = static_cast<int>(std::distance(
        std::sregex_iterator(r.err.begin(), r.err.end(), start), std::sregex_iterator()));
    std::string fault;
    std::vector<std::string> labels = ReadLabels(r.out, &fault);
    EXPECT_TRUE(r.out.empty() || fault.empty()) << "not whole label jobs: " << fault;
    return labels;
  }
  RunResult Filter(RunOptions o) {
    o.args = {FILTER_EXE, "1", "user", "title", "1", ""};
    if (o.stdin_path.empty()) o.args.push_back(dir_.File("job.ras"));
    o.env = {{"PPD", ppd_.path()}, {"RASTERTOLABEL_DUMP", ""}};
    return ::Run(o);
  }
  TempDir dir_;
  TestPpd ppd_{std::map<std::string, std::string>{}};
};

}  // namespace

TEST_F(CancelTest, SigtermAnywhereLeavesWholeLabelsOfTheFirstPages) {
  WriteFile(dir_.File("job.ras"), LongJob());
  int started = 0;
  const RunResult whole = Filter({});
  const std::vector<std::string> all = Labels(whole, started);
  ASSERT_EQ(all.size(), size_t{kPages});
  size_t fewest = kPages, most = 0;
  for (int moment = 0; moment < 44; ++moment) {
    // Forty moments from a file; four while the stream trickles in through a pipe.
    const bool piped = moment >= 40;
    const size_t after =
        1 + (piped ? moment - 39 : moment) * (whole.err.size() - 1) / (piped ? 6 : 40);
    SCOPED_TRACE((piped ? "piped, SIGTERM after " : "SIGTERM after ") + std::to_string(after));
    RunOptions o;
    o.sigterm_after_err_bytes = after;
    pid_t feeder = -1;
    if (piped) {
      o.stdin_path = dir_.File("in" + std::to_string(moment) + ".fifo");
      ASSERT_EQ(mkfifo(o.stdin_path.c_str(), 0600), 0);
      const std::string stream = ReadFile(dir_.File("job.ras"));
      if ((feeder = fork()) == 0) {
        signal(SIGPIPE, SIG_DFL);
        const int fd = open(o.stdin_path.c_str(), O_WRONLY);
        for (size_t at = 0; at < stream.size(); at += 4096, usleep(1000)) {
          const size_t n = std::min<size_t>(4096, stream.size() - at);
          if (write(fd, stream.data() + at, n) != static_cast<ssize_t>(n)) _exit(0);
        }
        _exit(0);
      }
    }
    const RunResult r = Filter(o);
    if (feeder > 0) waitpid(feeder, nullptr, 0);
    const std::vector<std::string> labels = Labels(r, started);
    const size_t m = labels.size();
    EXPECT_EQ(r.status, m > 0 ? 0 : 1);
    EXPECT_EQ(started, static_cast<int>(m)) << "every page started is written";
    for (size_t i = 0; i + 1 < m; ++i) EXPECT_EQ(labels[i], all[i]) << "label " << i + 1;
    if (m > 0) {  // the last: its own setup and copies; its bitmaps may stop short
      auto head = [](const std::string& s) { return s.substr(0, s.find("CLS\n")); };
      auto tail = [](const std::string& s) { return s.substr(s.rfind("PRINT 1,")); };
      EXPECT_EQ(head(labels[m - 1]), head(all[m - 1]));
      EXPECT_EQ(tail(labels[m - 1]), tail(all[m - 1]));
    }
    fewest = std::min(fewest, m);
    most = std::max(most, m);
  }
  EXPECT_LT(fewest, size_t{kPages} / 3);
  EXPECT_GT(most, size_t{kPages} / 2);
}
