// The filter's process entry and page loop.
//
//   RunFilter   what main does: arguments, raster stream, PPD, page loop
//   Canceled    set by the SIGTERM handler, polled by the page loop
#pragma once

#include <csignal>
#include <cstdint>

extern volatile sig_atomic_t Canceled;

// Runs one job as the scheduler starts it: argv is "job-id user title copies
// options [file]" after the program name; the PPD comes from $PPD.  Label
// jobs go to standard output, log lines to standard error.  Returns the exit
// status: 0 when at least one page's label job was written and nothing
// failed, else 1.
int RunFilter(int argc, char* argv[]);

// The most bytes one page may need in a single buffer (its raster, or for
// grey and colour pages the conversion's working image and snapshot):
// $RASTERTOLABEL_PAGE_LIMIT when it holds a positive number, else 1 GiB.
uint64_t PageLimitBytes();

// Bytes of the largest single buffer that a page of rows rows needs.
uint64_t PageNeedBytes(unsigned bitsPerPixel, unsigned width, unsigned bytesPerLine, uint64_t rows);
