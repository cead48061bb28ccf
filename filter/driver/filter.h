// The filter's process entry and page loop.
//
//   RunFilter       what main does: the job, the page loop, the exit status
//   Canceled        set by the SIGTERM handler, polled by the page loop
//   PageFault, CheckPage, PageLimitBytes, PageNeedBytes   which pages can be taken at all
#pragma once

#include <cups/raster.h>

#include <csignal>
#include <cstdint>

extern volatile sig_atomic_t Canceled;

// Runs one job as the scheduler starts it: argv is "job-id user title copies options [file]"
// after the program name; the PPD comes from $PPD.  Label jobs go to standard output, log lines
// to standard error.  Returns the exit status: 0 when at least one page's label job was written
// and nothing failed, else 1.
//  1. Each page's copies are its header's NumCopies; copiesPerPage, when not 0, stands in for it
//     where the raster comes from a renderer that does not carry the job's copies.
int RunFilter(int argc, char* argv[], unsigned copiesPerPage = 0);

// The most bytes one page may need in a single buffer (its raster, or for grey and colour pages
// the conversion's working image and snapshot): $RASTERTOLABEL_PAGE_LIMIT when it holds a
// positive number, else 1 GiB.
uint64_t PageLimitBytes();

// Bytes of the largest single buffer that a page of rows rows needs.
uint64_t PageNeedBytes(unsigned bitsPerPixel, unsigned width, unsigned bytesPerLine, uint64_t rows);

// Why a page cannot be taken: a depth that cannot be printed (its rows are passed over), one
// too large even to pass over, rows too short for their dots, or a page beyond the limit.
enum class PageFault { kNone, kDepth, kDepthTooLarge, kRowTooShort, kTooLarge };
PageFault CheckPage(const cups_page_header2_t& header, uint64_t& need);
