// The filter's job: what the scheduler hands over, owned for the whole job.
//
//   FilterJob::Open      the raster stream (a file or standard input), the job's options and the
//                        PPD with its defaults and the options marked
//   FilterJob::NextHeader, ReadRows, SkipRows   the raster stream, page by page
//   ~FilterJob           releases everything, each announced by its trace line, in order
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <memory>
#include <vector>

#include "choices.h"
#include "driver/raster_input.h"

// An allocator that leaves new elements uninitialised: the page buffer grows row by row and
// every row is read into at once, so zeroing it first would only be undone.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};
using PageBuffer = std::vector<unsigned char, UninitialisedAllocator<unsigned char>>;

class FilterJob {
 public:
  // argv: "job-id user title copies options [file]" after the program name (6 or 7 arguments).
  // nullptr, after logging why, when the raster file or the PPD ($PPD) cannot be opened.
  static std::unique_ptr<FilterJob> Open(int argc, char* argv[]);
  ~FilterJob();
  FilterJob(const FilterJob&) = delete;
  FilterJob& operator=(const FilterJob&) = delete;

  const Choices& choices() const { return choices_; }

  // The next page header; false at the end of the stream or at a header libcups refuses.
  bool NextHeader(cups_page_header2_t& header);
  // Whether the stream went on after the last header read: a header libcups refused, or bytes
  // after the last page that make no header.
  bool StreamLeftUnread() const;
  // Reads the page's rows into Buffer, with a progress line every 16 rows, until all are read,
  // the stream ends or the job is cancelled; returns the rows read.
  unsigned ReadRows(const cups_page_header2_t& header);
  // Reads the rows of a page that is not printed, so that the stream stays in step.
  void SkipRows(const cups_page_header2_t& header);

  PageBuffer Buffer;                    // the current page's raster
  std::vector<unsigned char> pDataBuf;  // the current grey or colour page's bitmap

 private:
  struct RasterCloser {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
  };
  struct PpdCloser {
    void operator()(ppd_file_t* p) const { ppdClose(p); }
  };
  struct Options {
    int num_options = 0;
    cups_option_t* options = nullptr;
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { cupsFreeOptions(num_options, options); }
  };

  FilterJob() = default;

  bool opened_ = false;  // all opened: the release is announced
  int fd_ = 0;           // the raster file, 0 for standard input
  RasterInput input_;
  std::unique_ptr<cups_raster_t, RasterCloser> ras_;
  Options options_;
  std::unique_ptr<ppd_file_t, PpdCloser> ppd_;
  PpdChoices choices_{nullptr};
  uint64_t headerAt_ = 0;  // where the stream stood before the latest header
};
