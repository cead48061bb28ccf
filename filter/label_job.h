// One page to its label job: the library's entry for programs other than the filter.
//
//   LabelJobOfPage              a page's rows to the printer commands of its label
//   ResetTwoDimensionCodeRects  forgets the codes found so far (in label/..., see below)
//   SetTraceOutput              where the library's log lines go (log.h)
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "adaptive/code_detect.h"
#include "choices.h"
#include "log.h"

// The label job of one page: rows holds rowCount rows of the page as read from a raster stream
// with this header (header.cupsBytesPerLine bytes each; 1, 8 or 24 bits per pixel).  Returns the
// printer commands, the bytes the filter writes for that page.  rows is used as working memory.
// Throws std::bad_alloc.
//  1. The table of two-dimensional codes found so far is per thread and is kept from page to
//     page, as within one job of the filter; a printer application empties it
//     (ResetTwoDimensionCodeRects) at the start of each job.
//  2. The header must describe a page the filter prints (CheckPage in driver/filter.h).
std::string LabelJobOfPage(const Choices& choices, const cups_page_header2_t& header,
                           std::vector<unsigned char>& rows, unsigned rowCount);
