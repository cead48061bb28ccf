// Page intake: a page's raster as read to the page bitmap that the label output takes.
//
//   BringToBitmap  1-bit pages inverted in place; 8-bit pages widened to the working image,
//                  dumped and converted by the "Dithering" and "Threshold" choices; 24-bit
//                  pages converted adaptively in place
//   WidenRow       one grey raster row to a working image row
//   PageDumpPath   where grey pages are dumped
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <string>
#include <vector>

#include "choices.h"

struct PageBitmap {
  unsigned char* bits;  // 0 = ink, most significant bit leftmost
  int width;            // dots
  int rows;
};

// Brings `rows` rows of a page (Buffer, at cupsBytesPerLine) to its page bitmap: Buffer itself
// for 1-bit pages (stride cupsBytesPerLine), else pDataBuf (rows rounded up to 32 dots).
// White-based data (W, SW) is taken with its polarity turned.  Grey pages are dumped to
// dumpPath unless it is empty.  Throws std::bad_alloc when a buffer cannot be had.
//  1. Once the working image holds a grey page, the whole memory pages inside Buffer's rows are
//     handed back to the system, so that the raster is not kept resident while the page is
//     converted: Buffer stays allocated, but its rows read as 0 afterwards.
PageBitmap BringToBitmap(const Choices& choices, const cups_page_header2_t& header,
                         unsigned char* Buffer, unsigned rows, std::vector<unsigned char>& pDataBuf,
                         const std::string& dumpPath);

// Writes each of the width bytes of src, xor flip, to the three bytes of one working image dot
// in dst (3 * width bytes).
void WidenRow(const unsigned char* src, std::size_t width, unsigned char flip, unsigned char* dst);

// $RASTERTOLABEL_DUMP when set; empty (no dump) when that is "", "\"\"", "off" or "none";
// unset, Buf.bmp in $TMPDIR (the job's temporary folder under the scheduler), /tmp/Buf.bmp
// when TMPDIR is unset.
std::string PageDumpPath();
